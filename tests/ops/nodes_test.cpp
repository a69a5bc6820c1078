// Networked nodes: the node list built by discovery (on the simulated network, over UDP, since
// it plays no IPX), what it keeps open and closes, and the program-space write.
#include "remote/nodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "frames.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr uint32_t kFirstModule = ipv4(127, 0, 0, 2);

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ModulePlan {
    uint8_t kind;
    uint16_t number;
    Bytes name;
    bool answers_definition = true;
    Bytes number_tail = {};  // bytes of the number record after its first 16 bits
};

// A module that answers discovery, its device definition and its setup records 0x20 and 0x16.
PeerHandler module(uint8_t hw, ModulePlan plan) {
    return [hw, plan](const Datagram& d, PeerReply& out) {
        const Bytes body = payload_of(d.bytes);
        Bytes answer;
        if (body.empty()) return;
        if (body[0] == 0x05) {
            answer = {0x55, 0xAA, 0x02, 0, 0, 0, 0, hw, 0, 0};
        } else if (body[0] == 0x04) {
            if (!plan.answers_definition) return;
            answer = Bytes{1, 0, plan.kind} + Bytes(39, 0x44);
        } else if (body[0] == 0x0B && body.size() >= 4 && body[2] == 0x20) {
            answer =
                Bytes{0, 0, uint8_t(plan.number), uint8_t(plan.number >> 8)} + plan.number_tail;
        } else if (body[0] == 0x0B && body.size() >= 4 && body[2] == 0x16) {
            answer = Bytes{0, 0} + plan.name;
        } else {
            answer = {0x05, 0x00};
        }
        out.send(make_reply(sequence_of(d.bytes), answer), 1);
    };
}

class NodeList : public ::testing::Test {
  protected:
    void add(int i, ModulePlan plan) {
        net_->add_peer({kFirstModule + uint32_t(i), kModulePort}, module(uint8_t(i + 1), plan));
    }
    TaviNode* build(uint16_t* count) {
        return zeb::build_node_list(ZEB_PROTOCOL_IP, source_.data(), count);
    }
    void TearDown() override { zeb::release_node_list(); }
    // Everything the list opened is closed: no socket left, the socket layer given back.
    void expect_all_closed() {
        EXPECT_EQ(net_->sockets_open(), 0u);
        EXPECT_EQ(net_->sockets_started(), net_->sockets_stopped());
    }

    ScopedSimNetwork net_;
    SocketAddress source_ = socket_address({kHostIp, 0});
};

TEST_F(NodeList, ThreeModulesOfWhichTwoAreNodesGiveTwoEntries) {
    add(0, {6, 0x1234, text_bytes("first node")});
    add(1, {3, 0, {}});
    add(2, {6, 0x0042, text_bytes("second-node-name-20b")});
    uint16_t count = 99;
    TaviNode* list = build(&count);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(+list[0].Number, 0x1234);
    EXPECT_EQ(Bytes(list[0].Name, list[0].Name + 10), text_bytes("first node"));
    EXPECT_EQ(+list[1].Number, 0x0042);
    EXPECT_EQ(Bytes(list[1].Name, list[1].Name + 20), text_bytes("second-node-name-20b"));
    // The nodes stay open and are reachable; the third module's device was closed again.
    EXPECT_EQ(net_->sockets_open(), 2u);
    ZEBDevice* const first = list[0].Device;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(*net_->remote_endpoint(static_cast<zeb::plat::Handle>(list[1].Device->Socket)),
              (Endpoint{kFirstModule + 2, kModulePort}));
    EXPECT_EQ(+list[0].Device->Timeout, 100);
    EXPECT_EQ(+list[0].Device->Retries, 2);

    // A second list closes the first one's devices and transport before it is built.
    count = 0;
    list = build(&count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(net_->sockets_open(), 2u);
    EXPECT_EQ(net_->sockets_started() - net_->sockets_stopped(), 1);

    zeb::release_node_list();
    expect_all_closed();
}

TEST_F(NodeList, AShorterNameLeavesTheRestOfTheEntryAlone) {
    add(0, {6, 1, Bytes(20, 'A')});
    uint16_t count = 0;
    ASSERT_NE(build(&count), nullptr);
    net_->remove_peer(1);
    add(0, {6, 1, Bytes(12, 'B')});
    TaviNode* list = build(&count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Bytes(list[0].Name, list[0].Name + 20), Bytes(12, 'B') + Bytes(8, 'A'));
}

// Only the leading bytes of the records are wanted: a read cut to them lists the node.
TEST_F(NodeList, RecordsLongerThanTheEntryAreCutAndTheNodeListed) {
    add(0, {6, 0x0102, text_bytes("a name of twenty-six bytes"), true, {0x03, 0x04}});
    uint16_t count = 0;
    TaviNode* list = build(&count);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(+list[0].Number, 0x0102);
    EXPECT_EQ(Bytes(list[0].Name, list[0].Name + 20), text_bytes("a name of twenty-six"));
}

TEST_F(NodeList, NoNodeGivesNullAndClosesEverything) {
    add(0, {3, 0, {}});
    add(1, {5, 0, {}});
    uint16_t count = 7;
    EXPECT_EQ(build(&count), nullptr);
    EXPECT_EQ(count, 0);
    expect_all_closed();

    // Nothing on the network at all.
    net_->remove_peer(1);
    net_->remove_peer(2);
    count = 7;
    EXPECT_EQ(build(&count), nullptr);
    EXPECT_EQ(count, 0);
    expect_all_closed();
}

TEST_F(NodeList, AFailureClosesWhatTheCallOpened) {
    add(0, {6, 1, text_bytes("ok")});
    add(1, {6, 2, text_bytes("mute"), false});  // never answers its definition
    uint16_t count = 7;
    EXPECT_EQ(build(&count), nullptr);
    EXPECT_EQ(count, 0);
    expect_all_closed();
}

TEST_F(NodeList, AFailedTransportOrQueryGivesNull) {
    add(0, {6, 1, text_bytes("ok")});
    uint16_t count = 7;
    net_->fail_next(SimNetwork::Op::start, 10091);
    EXPECT_EQ(build(&count), nullptr);
    EXPECT_EQ(count, 0);
    net_->fail_next(SimNetwork::Op::open, 10055);
    count = 7;
    EXPECT_EQ(build(&count), nullptr);
    EXPECT_EQ(count, 0);
    expect_all_closed();
}

// The exported list uses IPX, which this platform does not have.
TEST_F(NodeList, WithoutIpxTheExportedListIsEmpty) {
    add(0, {6, 1, text_bytes("ok")});
    uint16_t count = 7;
    EXPECT_EQ(TaviGetNodeList(&count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TaviGetNodeList(nullptr), nullptr);
    expect_all_closed();
}

// ---- Program space -------------------------------------------------------------------------

constexpr Endpoint kNode{ipv4(127, 0, 0, 9), kModulePort};

TEST(ProgramSpace, SendsTheBlockBehindFourHeadBytesAndAcceptsUpTo316) {
    ScopedSimNetwork net;
    net->add_peer(kNode, acknowledge_then({0x60}, {0, 0}));
    IpDevice dev(kNode);
    Bytes data(400);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&dev.device, data.data(), 317), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&dev.device, data.data(), 0xFFFF),
              ZEBERR_PACKET_TOO_LARGE);
    uint8_t status = 0x77;
    EXPECT_EQ(TaviSendPacket(&dev.device, data.data(), &status, 317), 0);
    EXPECT_EQ(status, 0x77);
    EXPECT_TRUE(net->sent().empty());
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&dev.device, data.data(), 316), 0u);
    ASSERT_EQ(net->sent().size(), 1u);
    const Bytes body = payload_of(net->sent()[0].bytes);
    ASSERT_EQ(body.size(), 4u + 316u);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 4), (Bytes{0x60, 0, 0, 0}));
    EXPECT_EQ(Bytes(body.begin() + 4, body.end()), Bytes(data.begin(), data.begin() + 316));
    EXPECT_EQ(+dev->Timeout, 100);  // raised for the call only
}

TEST(ProgramSpace, AModuleStatusIsTheResultSignExtended) {
    ScopedSimNetwork net;
    net->add_peer(kNode, acknowledge_then({0x60}, {0x02, 0x80}));
    IpDevice dev(kNode);
    const uint8_t b[2] = {1, 2};
    EXPECT_EQ(ZEBWriteTaviethernetPgmSpace(&dev.device, b, 2), 0xFFFF8002u);
}

TEST(ProgramSpace, SendPacketSkipsTheFirst60BytesAndReportsTrueOrFalse) {
    ScopedSimNetwork net;
    net->add_peer(kNode, acknowledge_then({0x60}, {0, 0}));
    IpDevice dev(kNode);
    Bytes packet(70, 0x11);
    for (size_t i = 60; i < 70; ++i) packet[i] = uint8_t(i);
    uint8_t status = 0x77;
    EXPECT_EQ(TaviSendPacket(&dev.device, packet.data(), &status, 10), 1);
    EXPECT_EQ(status, 0);
    const Bytes body = payload_of(net->sent()[0].bytes);
    EXPECT_EQ(Bytes(body.begin() + 4, body.end()), Bytes(packet.begin() + 60, packet.end()));
    EXPECT_EQ(TaviSendPacket(&dev.device, packet.data(), nullptr, 10), 1);

    net->remove_peer(1);  // nobody answers now
    status = 0x77;
    EXPECT_EQ(TaviSendPacket(&dev.device, packet.data(), &status, 10), 0);
    EXPECT_EQ(status, 0x77);
    EXPECT_EQ(TaviSendPacket(&dev.device, nullptr, &status, 10), 0);
}

}  // namespace
}  // namespace zebtest
