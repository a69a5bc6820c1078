// A remote master and the node behind it, as a host program reaches them over loopback: data
// moved through the master's mailbox, a forwarding command run by hand, the ordinary operations
// through a tunnelled device, and a node's program space.
#include <cstring>
#include <vector>

#include "functions.h"
#include "rack_fixture.h"
#include "remote_master.h"

namespace zebtest {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kGateway = 0x7F000002;
constexpr uint32_t kNodeIp = 0x7F000003;
constexpr uint16_t kNodeNumber = 7;
constexpr uint8_t kForwardArea = 4;
constexpr uint16_t kForwardCommand = 3;

class Remote : public RackTest {
  protected:
    void SetUp() override {
        racksim::Module gateway = qx_module("gateway", 1);
        install_remote_master(gateway.shared_ram, {0, 0, 1});
        racksim::Module node("conveyor", kNodeNumber, racksim::kKindNode);
        node.add_slot(0, racksim::SlotRecord::basic(0x23, 8, 0, 0, 0)).io.bit_in = {0x5A};
        serve({std::move(gateway), std::move(node)});
        open_transport();
    }

    ZEBDevice& tunnel_to(uint16_t node) {
        ZEBDevice& d = open_device(kGateway);
        d.Tunnel = 1;
        d.TunnelBase = 0;
        d.TunnelSlot = 0;
        d.TunnelNode = node;
        return d;
    }
};

TEST_F(Remote, DataMovesThroughTheMailboxInChunks) {
    ZEBDevice& gateway = open_device(kGateway);
    Bytes data(600);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_EQ(ZEBWriteVireoData(&gateway, 0, 0, 2, data.data(), 600, 100), 0u);

    Bytes back(600, 0);
    ASSERT_EQ(ZEBReadVireoData(&gateway, 0, 0, 2, back.data(), 600, 100), 0u);
    EXPECT_EQ(back, data);
    Bytes twin(600, 0);
    ASSERT_EQ(XCPUReadVireoData(&gateway, 0, 0, 2, twin.data(), 600, 100), 0u);
    EXPECT_EQ(twin, data);

    // A count of 0 moves nothing and succeeds.
    EXPECT_EQ(ZEBReadVireoData(&gateway, 0, 0, 2, back.data(), 0, 0), 0u);
}

TEST_F(Remote, AForwardingCommandRunByHandAnswersInAreaFour) {
    ZEBDevice& gateway = open_device(kGateway);
    // A read-I/O request for the node, placed in area 4; the command names the node and length.
    const Bytes request = {0x07};
    ASSERT_EQ(ZEBWriteVireoData(&gateway, 0, 0, kForwardArea, request.data(), 1, 0), 0u);
    const uint8_t params[6] = {kNodeNumber, 0, 0, 0, 1, 0};
    ASSERT_EQ(ZEBDoVireoCommandEx(&gateway, 0, 0, kForwardCommand, params, sizeof params), 0u);

    uint8_t head_and_answer[10] = {};
    ASSERT_EQ(ZEBReadVireoData(&gateway, 0, 0, kForwardArea, head_and_answer, 10, 0), 0u);
    EXPECT_EQ(Bytes(head_and_answer, head_and_answer + 10),
              (Bytes{0, 0, 6, 0, 0x00, 0x00, 0x00, 0x31, 0x5A, 0xFF}));

    // Commands the master does not know fail with its error code, in both forms.
    EXPECT_EQ(ZEBDoVireoCommand(&gateway, 0, 0, 0x55), racksim::kMasterUnknownCommand);
    EXPECT_EQ(XCPUDoVireoCommandEx(&gateway, 0, 0, 0x55, nullptr, 0),
              racksim::kMasterUnknownCommand);
}

TEST_F(Remote, OrdinaryOperationsReachTheNodeThroughATunnel) {
    ZEBDevice& tunnelled = tunnel_to(kNodeNumber);
    uint8_t def[42] = {};
    ASSERT_EQ(ZEBReadDeviceDef(&tunnelled, def, sizeof def), 0u);
    EXPECT_EQ(def[2], racksim::kKindNode);
    EXPECT_EQ(tunnelled.Tunnel, 1);

    uint8_t inputs[16] = {};
    uint16_t size = sizeof inputs;
    ASSERT_EQ(ZEBReadIO(&tunnelled, inputs, &size), 0u);
    EXPECT_EQ(Bytes(inputs, inputs + size), (Bytes{0x00, 0x31, 0x5A, 0xFF}));

    const uint8_t record[3] = {'a', 'b', 'c'};
    EXPECT_EQ(ZEBWriteSetupData(&tunnelled, 0x41, record, 3), 0u);
    rack([&](racksim::Rack& r) {
        const Bytes* held = r.modules()[1].setup.find(0x41);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(*held, Bytes(record, record + 3));
    });
    EXPECT_EQ(tunnelled.Tunnel, 1);

    // A node that is not behind the master: no data, and the tunnel stays set.
    ZEBDevice& nowhere = tunnel_to(9);
    size = sizeof inputs;
    EXPECT_EQ(ZEBReadIO(&nowhere, inputs, &size), ZEBERR_NO_DATA);
    EXPECT_EQ(nowhere.Tunnel, 1);
}

TEST_F(Remote, ProgramSpaceTakesBlocksUpTo316Bytes) {
    ZEBDevice& node = open_device(kNodeIp);
    Bytes block(316);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(ZEBWriteTaviethernetPgmSpace(&node, block.data(), 316), 0u);
    rack([&](racksim::Rack& r) { EXPECT_EQ(r.modules()[1].program.last_write, block); });
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&node, block.data(), 317), ZEBERR_PACKET_TOO_LARGE);

    Bytes packet(70, 0xEE);
    for (size_t i = 60; i < 70; ++i) packet[i] = static_cast<uint8_t>(i);
    uint8_t status = 0x77;
    EXPECT_EQ(TaviSendPacket(&node, packet.data(), &status, 10), 1);
    EXPECT_EQ(status, 0);
    rack([&](racksim::Rack& r) {
        EXPECT_EQ(r.modules()[1].program.last_write, Bytes(packet.begin() + 60, packet.end()));
    });

    // A module that is no node refuses, with its status word sign-extended.
    ZEBDevice& gateway = open_device(kGateway);
    status = 0x77;
    EXPECT_EQ(TaviSendPacket(&gateway, packet.data(), &status, 10), 0);
    EXPECT_EQ(status, 0x77);
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&gateway, block.data(), 4),
              0xFFFF0000u | racksim::kStatusNoProgramSpace);
}

}  // namespace
}  // namespace zebtest
