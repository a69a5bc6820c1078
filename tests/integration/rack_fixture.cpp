#include "rack_fixture.h"

#include <cstring>

namespace zebtest {

void set_ip_address(uint8_t* out, uint32_t ip, uint16_t port) {
    std::memset(out, 0, 16);
    out[0] = 2;
    out[2] = static_cast<uint8_t>(port >> 8);
    out[3] = static_cast<uint8_t>(port);
    out[4] = static_cast<uint8_t>(ip >> 24);
    out[5] = static_cast<uint8_t>(ip >> 16);
    out[6] = static_cast<uint8_t>(ip >> 8);
    out[7] = static_cast<uint8_t>(ip);
}

racksim::Module qx_module(const std::string& name, uint32_t number) {
    racksim::Module m(name, number);
    m.add_slot(0, racksim::SlotRecord::basic(0x23, 16, 0, 0, 0));
    m.add_slot(1, racksim::SlotRecord::basic(0x22, 8, 0, 0, 0)).behaviour.wired_from = 3;
    m.add_slot(3, racksim::SlotRecord::basic(0x24, 0, 8, 0, 0));
    m.add_slot(4, racksim::SlotRecord::basic(0x30, 0, 0, 2, 2));
    return m;
}

void RackTest::serve(std::vector<racksim::Module> modules) {
    racksim::Rack rack;
    for (auto& m : modules) rack.add_module(std::move(m));
    racksim::ServerOptions options;
    options.port = racksim::kModulePort;
    server_ = std::make_unique<racksim::Server>(std::move(rack), options);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
}

void RackTest::TearDown() {
    for (ZEBDevice* d : opened_) ZEBCloseDevice(d);
    if (transport_open_) ZEBCloseTransport(&transport_);
    if (server_) server_->stop();
}

void RackTest::open_transport() {
    transport_.Kind = ZEB_TRANSPORT_WINSOCK;
    transport_.Protocol = ZEB_PROTOCOL_IP;
    set_ip_address(source_, 0x7F000001, 0);
    ASSERT_EQ(ZEBOpenTransport(&transport_, ZEB_API_VERSION, source_), 0u);
    transport_open_ = true;
}

uint16_t RackTest::query(std::vector<ZEBDevice>& found, uint16_t capacity, uint32_t* result) {
    found.assign(capacity, ZEBDevice{});
    uint16_t count = capacity;
    const uint32_t r = ZEBQueryDevices(&transport_, found.data(), &count, ZEB_API_VERSION);
    if (result) *result = r;
    return count;
}

void RackTest::open_at(ZEBDevice& d, uint32_t ip, uint16_t timeout_ms, uint16_t retries) {
    d = ZEBDevice{};
    set_ip_address(d.Address.Raw, ip, ZEB_MODULE_PORT);
    ASSERT_EQ(ZEBOpenDevice(&transport_, &d, ZEB_API_VERSION, timeout_ms, retries, 0), 0u);
    opened_.push_back(&d);
}

ZEBDevice& RackTest::open_device(uint32_t ip, uint16_t timeout_ms, uint16_t retries) {
    ZEBDevice& d = devices_.emplace_back();
    open_at(d, ip, timeout_ms, retries);
    return d;
}

}  // namespace zebtest
