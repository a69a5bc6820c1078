// RackSim's remote master on the simulated network: the library's mailbox operations and a
// tunnelled device against a module whose shared RAM hides a remote master, with the rack's
// other modules as its nodes.
#include <gtest/gtest.h>

#include <string>

#include "frames.h"
#include "remote_master.h"
#include "sim_device.h"
#include "sim_rack.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr uint16_t kPressNumber = 7;

racksim::Rack gateway_and_press(uint32_t busy_polls = 0) {
    racksim::Rack rack;
    racksim::Module gateway("gateway", 1);
    install_remote_master(gateway.shared_ram, {0, 0, busy_polls});
    rack.add_module(std::move(gateway));
    racksim::Module press("press", kPressNumber, racksim::kKindNode);
    press.add_slot(0, racksim::SlotRecord::basic(0x23, 8, 0, 0, 0)).io.bit_in = {0x5A};
    rack.add_module(std::move(press));
    return rack;
}

void tunnel_to(ZEBDevice& device, uint8_t node) {
    device.Tunnel = 1;
    device.TunnelBase = 0;
    device.TunnelSlot = 0;
    device.TunnelNode = node;
}

TEST(RackRemoteMaster, DataWrittenInChunksReadsBack) {
    ScopedSimNetwork net;
    SimRack sim(*net, gateway_and_press(2));
    IpDevice dev(sim.endpoint(0), {100, 0, 0});
    Bytes data(600);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
    ASSERT_EQ(ZEBWriteVireoData(&dev.device, 0, 0, 2, data.data(), 600, 100), 0u);
    Bytes back(600, 0);
    ASSERT_EQ(ZEBReadVireoData(&dev.device, 0, 0, 2, back.data(), 600, 100), 0u);
    EXPECT_EQ(back, data);
    Bytes other(10, 0xCC);
    ASSERT_EQ(XCPUReadVireoData(&dev.device, 0, 0, 3, other.data(), 10, 100), 0u);
    EXPECT_EQ(other, Bytes(10, 0));  // another area
}

TEST(RackRemoteMaster, ATunnelledReadIOReachesTheNode) {
    ScopedSimNetwork net;
    SimRack sim(*net, gateway_and_press(1));
    IpDevice dev(sim.endpoint(0), {100, 0, 0});
    tunnel_to(dev.device, kPressNumber);
    uint8_t inputs[16] = {};
    uint16_t size = sizeof inputs;
    ASSERT_EQ(ZEBReadIO(&dev.device, inputs, &size), 0u);
    EXPECT_EQ(Bytes(inputs, inputs + size), (Bytes{0x00, 0x31, 0x5A, 0xFF}));
    EXPECT_EQ(+dev->Tunnel, 1);
    // The press itself was never addressed over the network.
    for (const Datagram& d : net->sent()) EXPECT_EQ(d.to, sim.endpoint(0));

    // An acknowledged request: the node's final answer comes back.
    const uint8_t record[2] = {0x12, 0x34};
    EXPECT_EQ(ZEBWriteSetupData(&dev.device, 0x40, record, 2), 0u);
    uint8_t back[4] = {};
    uint16_t back_size = 4;
    EXPECT_EQ(ZEBReadSetupData(&dev.device, 0x40, back, &back_size), 0u);
    EXPECT_EQ(Bytes(back, back + back_size), (Bytes{0x12, 0x34}));
}

TEST(RackRemoteMaster, AMissingNodeAndAnUnknownCommandFail) {
    ScopedSimNetwork net;
    SimRack sim(*net, gateway_and_press());
    IpDevice dev(sim.endpoint(0), {100, 0, 0});
    tunnel_to(dev.device, 9);
    uint8_t inputs[16] = {};
    uint16_t size = sizeof inputs;
    EXPECT_EQ(ZEBReadIO(&dev.device, inputs, &size), ZEBERR_NO_DATA);
    EXPECT_EQ(+dev->Tunnel, 1);

    dev->Tunnel = 0;
    EXPECT_EQ(ZEBDoVireoCommand(&dev.device, 0, 0, 0x55), racksim::kMasterUnknownCommand);
    EXPECT_EQ(ZEBDoVireoCommandEx(&dev.device, 0, 0, 0x55, nullptr, 0),
              racksim::kMasterUnknownCommand);
}

TEST(RackRemoteMaster, AModuleWithoutOneNeverFinishes) {
    ScopedSimNetwork net;
    racksim::Rack rack;
    racksim::Module plain("plain", 1);
    plain.faults.delay_ms = 1;  // each poll is a round trip that takes time
    rack.add_module(std::move(plain));
    SimRack sim(*net, std::move(rack));
    IpDevice dev(sim.endpoint(0), {40, 0, 0});
    EXPECT_EQ(ZEBDoVireoCommand(&dev.device, 0, 0, 3), ZEBERR_TIMEOUT);
}

TEST(RackRemoteMaster, RackFilesDescribeIt) {
    std::string error;
    auto rack = racksim::Rack::parse(
        R"({"modules": [{"name": "gw", "number": 1, "remote_master": {"busy_polls": 3}},
                        {"name": "n", "number": 7, "kind": 6}]})",
        &error);
    ASSERT_TRUE(rack) << error;
    ScopedSimNetwork net;
    SimRack sim(*net, std::move(*rack));
    IpDevice dev(sim.endpoint(0), {100, 0, 0});
    tunnel_to(dev.device, 7);
    uint8_t def[42] = {};
    EXPECT_EQ(ZEBReadDeviceDef(&dev.device, def, sizeof def), 0u);
    EXPECT_EQ(def[2], 6);

    EXPECT_FALSE(racksim::Rack::parse(
        R"({"modules": [{"name": "gw", "remote_master": {"bus": 3}}]})", &error));
    EXPECT_NE(error.find("remote_master"), std::string::npos) << error;
}

}  // namespace
}  // namespace zebtest
