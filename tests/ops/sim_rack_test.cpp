// A RackSim rack on the simulated network: whole modules answer the library on the virtual
// clock.
#include "sim_rack.h"

#include <gtest/gtest.h>

#include "frames.h"
#include "sim_device.h"
#include "temp_folder.h"
#include "zeb.h"

namespace zebtest {
namespace {

racksim::Rack two_modules() {
    racksim::Rack rack;
    racksim::Module a("press", 1);
    a.add_slot(0, racksim::SlotRecord::basic(0x23, 8, 0, 0, 0)).io.bit_in = {0x5A};
    rack.add_module(std::move(a));
    rack.add_module(racksim::Module("node", 2, racksim::kKindNode));
    return rack;
}

TEST(SimRack, ModulesAnswerAtTheirAddressesAndToBroadcasts) {
    ScopedSimNetwork net;
    SimRack sim(*net, two_modules());
    EXPECT_EQ(sim.endpoint(1), (Endpoint{ipv4(127, 0, 0, 3), kModulePort}));

    IpDevice dev(sim.endpoint(0), {100, 0, 0});
    uint8_t inputs[16] = {};
    uint16_t size = sizeof inputs;
    ASSERT_EQ(ZEBReadIO(&dev.device, inputs, &size), 0u);
    EXPECT_EQ(Bytes(inputs, inputs + size), (Bytes{0x00, 0x31, 0x5A, 0xFF}));

    ZEBDevice list[4] = {};
    uint16_t count = 4;
    ASSERT_EQ(ZEBQueryDevices(&dev.transport, list, &count, ZEB_API_VERSION), 0u);
    ASSERT_EQ(count, 2);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(endpoint_of(list[i].Address.Raw), sim.endpoint(i));
        const racksim::HwAddress& hw = sim.module(i).identity.hw;
        EXPECT_TRUE(std::equal(hw.begin(), hw.end(), list[i].NodeAddress));
    }
}

TEST(SimRack, RepliesTakeVirtualTimeAndTheRackRunsOnTheVirtualClock) {
    ScopedSimNetwork net;
    SimRack sim(*net, two_modules());
    EXPECT_EQ(sim.rack().clock().now_ms(), net->now());
    sim.module(0).faults.delay_ms = 70;
    IpDevice dev(sim.endpoint(0), {100, 0, 0});
    const uint64_t start = net->now();
    uint8_t def[42] = {};
    EXPECT_EQ(ZEBReadDeviceDef(&dev.device, def, sizeof def), 0u);
    EXPECT_EQ(net->now() - start, 70u);
    EXPECT_EQ(sim.rack().clock().now_ms(), net->now());
}

TEST(SimRack, ANodeTakesProgramSpaceWritesAndAnIoModuleRefusesThem) {
    ScopedSimNetwork net;
    SimRack sim(*net, two_modules());
    const uint8_t block[] = {1, 2, 3, 4, 5};
    IpDevice node(sim.endpoint(1), {100, 0, 0});
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&node.device, block, sizeof block), 0u);
    EXPECT_EQ(sim.module(1).program.last_write, Bytes(block, block + sizeof block));
    EXPECT_EQ(sim.module(1).program.writes, 1u);

    // The refusal comes as the final reply, after the acknowledgement: no 30-second wait.
    IpDevice press(sim.endpoint(0), {100, 0, 0});
    const uint64_t start = net->now();
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&press.device, block, sizeof block), 0xFFFF8106u);
    EXPECT_LT(net->now() - start, 200u);
    EXPECT_EQ(sim.module(0).program.writes, 0u);
}

TEST(SimRack, UnpluggedAtTheEndOfItsScope) {
    ScopedSimNetwork net;
    IpDevice dev({ipv4(127, 0, 0, 2), kModulePort}, {100, 0, 0});
    uint8_t def[42] = {};
    {
        SimRack sim(*net, two_modules());
        EXPECT_EQ(ZEBReadDeviceDef(&dev.device, def, sizeof def), 0u);
    }
    EXPECT_EQ(ZEBReadDeviceDef(&dev.device, def, sizeof def), ZEBERR_TIMEOUT);
}

// A controller module whose files are a test's own folder, reached in raw service calls through
// the engine: a folder made there, then its attributes read back.
TEST(SimRack, HostsAControllerModuleOnATestsFolder) {
    TempFolder root;
    racksim::Rack rack;
    racksim::Module cpu("cpu", 1);
    cpu.controller_os.root = root.path();
    rack.add_module(std::move(cpu));
    ScopedSimNetwork net;
    SimRack sim(*net, std::move(rack));
    IpDevice dev(sim.endpoint(0), {100, 0, 0});

    auto service = [&](std::initializer_list<uint8_t> payload, Bytes* reply_payload) {
        uint8_t request[64] = {};
        std::copy(payload.begin(), payload.end(), request + 9);
        uint8_t reply[500];
        int32_t length = sizeof reply;
        const uint32_t r = _SendPacket(
            &dev.device, request, static_cast<uint16_t>(9 + payload.size()), reply, &length, 1, 0);
        if (r == 0 && length >= 9) reply_payload->assign(reply + 9, reply + length);
        return r;
    };
    Bytes reply;
    // CreateDirectory "d" (path length 2, "d", zero byte, 12 bytes of security attributes).
    ASSERT_EQ(
        service({0x35, 0xCA, 0x19, 0x00, 0x02, 0x00, 'd', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                &reply),
        0u);
    EXPECT_EQ(reply, (Bytes{0, 0, 1, 0, 0, 0}));
    EXPECT_TRUE(exists(root.at("d")));
    // GetFileAttributes "d": a directory.
    ASSERT_EQ(service({0x35, 0xCA, 0x18, 0x00, 0x02, 0x00, 'd', 0}, &reply), 0u);
    EXPECT_EQ(reply, (Bytes{0, 0, 0x10, 0, 0, 0}));
}

}  // namespace
}  // namespace zebtest
