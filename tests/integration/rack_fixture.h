// A rack of simulated modules served over loopback, and a transport bound to 127.0.0.1 to
// reach it: every broadcast the tests send leaves on the loopback interface only.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "rack.h"
#include "server.h"
#include "zeb.h"

namespace zebtest {

// The library's IPv4 socket address layout: family 2, port and address in network order.
void set_ip_address(uint8_t* out16, uint32_t host_order_ip, uint16_t port);

// A Qx-RIO module with bit inputs in slot 0, bit outputs in slot 3 wired back to slot 1 and a
// word module in slot 4.
racksim::Module qx_module(const std::string& name, uint32_t number);

class RackTest : public ::testing::Test {
  protected:
    // Starts RackSim with the given modules on the module port.
    void serve(std::vector<racksim::Module> modules);
    void TearDown() override;

    // Opens the IP transport with source 127.0.0.1.
    void open_transport();
    // Finds modules by broadcast; returns the count and fills `found`.
    uint16_t query(std::vector<ZEBDevice>& found, uint16_t capacity, uint32_t* result = nullptr);
    // Opens `device` at a module's address directly; closed again by TearDown, so the record
    // must outlive the test body.
    void open_at(ZEBDevice& device, uint32_t ip, uint16_t timeout_ms = 200, uint16_t retries = 2);
    // The same with a record the fixture keeps.
    ZEBDevice& open_device(uint32_t ip, uint16_t timeout_ms = 200, uint16_t retries = 2);

    template <class F>
    auto rack(F f) {
        return server_->with_rack(f);
    }

    std::unique_ptr<racksim::Server> server_;
    ZEBTransport transport_{};
    uint8_t source_[16] = {};
    bool transport_open_ = false;
    std::vector<ZEBDevice*> opened_;
    std::deque<ZEBDevice> devices_;
};

}  // namespace zebtest
