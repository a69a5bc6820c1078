// Finding modules by broadcast on loopback.
#include <algorithm>
#include <cstring>

#include "rack_fixture.h"

namespace zebtest {
namespace {

class Discovery : public RackTest {
  protected:
    void SetUp() override {
        auto third = qx_module("mixer", 3);
        third.faults.magic_zqq = true;
        third.faults.broadcast_only = true;
        serve({qx_module("press", 1), qx_module("packer", 2), std::move(third)});
        open_transport();
        previous_timeout_ = ZEBSetQueryTimeout(150);
    }
    void TearDown() override {
        ZEBSetQueryTimeout(previous_timeout_);
        RackTest::TearDown();
    }
    uint32_t previous_timeout_ = 0;
};

uint32_t ip_of(const ZEBDevice& d) {
    const uint8_t* a = d.Address.Ip.SocketAddress;
    return uint32_t(a[4]) << 24 | uint32_t(a[5]) << 16 | uint32_t(a[6]) << 8 | a[7];
}

TEST_F(Discovery, ListsEveryModuleWithAddressHardwareAddressAndBroadcastOnly) {
    std::vector<ZEBDevice> found;
    uint32_t result = 1;
    ASSERT_EQ(query(found, 8, &result), 3);
    EXPECT_EQ(result, 0u);
    std::vector<uint32_t> ips;
    for (int i = 0; i < 3; ++i) {
        ips.push_back(ip_of(found[i]));
        const uint8_t* a = found[i].Address.Raw;
        EXPECT_EQ(a[0], 2);  // family
        EXPECT_EQ(a[2], 0x70);
        EXPECT_EQ(a[3], 0x70);
        const uint32_t ip = ips.back();
        const auto hw = rack([&](racksim::Rack& r) { return r.find_ip(ip)->identity.hw; });
        EXPECT_EQ(std::memcmp(found[i].NodeAddress, hw.data(), 6), 0);
        // The module answering with "ZQQ" is listed, and its broadcast-only flag is kept.
        EXPECT_EQ(found[i].Address.Ip.BroadcastOnly, ip == 0x7F000004 ? 1 : 0);
    }
    std::sort(ips.begin(), ips.end());
    EXPECT_EQ(ips, (std::vector<uint32_t>{0x7F000002, 0x7F000003, 0x7F000004}));
}

TEST_F(Discovery, ListTooSmallFillsWhatFitsAndCountsEveryAnswer) {
    std::vector<ZEBDevice> found;
    uint32_t result = 0;
    EXPECT_EQ(query(found, 2, &result), 3);
    EXPECT_EQ(result, ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_NE(ip_of(found[0]), 0u);
    EXPECT_NE(ip_of(found[1]), 0u);
}

TEST_F(Discovery, BroadcastOnlyModuleOpensOnlyInBroadcastMode) {
    std::vector<ZEBDevice> found;
    ASSERT_EQ(query(found, 8), 3);
    for (auto& d : found) {
        if (d.Address.Ip.BroadcastOnly != 1) continue;
        EXPECT_EQ(ZEBOpenDevice(&transport_, &d, 3, 100, 0, 0), ZEBERR_NEEDS_BROADCAST);
        EXPECT_EQ(ZEBCloseDevice(&d), 0u);
        ASSERT_EQ(ZEBOpenDevice(&transport_, &d, 3, 100, 0, 1), 0u);
        // In broadcast mode the extended header names the module; only it answers.
        uint8_t def[42] = {};
        EXPECT_EQ(ZEBReadDeviceDef(&d, def, sizeof def), 0u);
        EXPECT_EQ(ZEBCloseDevice(&d), 0u);
        return;
    }
    FAIL() << "no broadcast-only module listed";
}

TEST_F(Discovery, DataItemSelectsByNumberOrName) {
    std::vector<ZEBDevice> found(8);
    uint16_t count = 8;
    const int32_t number = 2;
    ASSERT_EQ(ZEBQueryDeviceData(&transport_, found.data(), &count, 3, 0x20, &number, 4), 0u);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(ip_of(found[0]), 0x7F000003u);

    char name[256] = "mixer";
    count = 8;
    ASSERT_EQ(ZEBQueryDeviceData(&transport_, found.data(), &count, 3, 0x16, name, 256), 0u);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(ip_of(found[0]), 0x7F000004u);

    const int32_t nobody = 99;
    count = 8;
    EXPECT_EQ(ZEBQueryDeviceData(&transport_, found.data(), &count, 3, 0x20, &nobody, 4), 0u);
    EXPECT_EQ(count, 0);
}

TEST_F(Discovery, ProtocolFourFindsNothingAtOnceAndNullTransportIsRefused) {
    ZEBTransport none{};
    none.Kind = ZEB_TRANSPORT_WINSOCK;
    none.Protocol = 4;
    std::vector<ZEBDevice> found(4);
    uint16_t count = 4;
    EXPECT_EQ(ZEBQueryDevices(&none, found.data(), &count, 3), 0u);
    EXPECT_EQ(count, 0);
    count = 4;
    EXPECT_EQ(ZEBQueryDevices(nullptr, found.data(), &count, 3), ZEBERR_NULL_TRANSPORT);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(ZEBQueryDevices(&transport_, found.data(), &count, 2), ZEBERR_BAD_VERSION);
    EXPECT_EQ(count, 4);
}

}  // namespace
}  // namespace zebtest
