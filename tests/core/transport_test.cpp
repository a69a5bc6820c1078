// Opening and closing the library and transports, and the socket layer's start count.
#include <gtest/gtest.h>

#include "core/state.h"
#include "endpoint.h"
#include "sim_fixture.h"

namespace zebtest {
namespace {

class Transports : public SimTest {
  protected:
    void SetUp() override { ASSERT_EQ(zeb::state::socket_layer_users(), 0u); }
    static ZEBTransport winsock(uint16_t protocol = ZEB_PROTOCOL_IP) {
        ZEBTransport t{};
        t.Kind = ZEB_TRANSPORT_WINSOCK;
        t.Protocol = protocol;
        return t;
    }
};

TEST_F(Transports, LibraryOpenChecksOnlyTheVersion) {
    EXPECT_EQ(ZEBOpen(ZEB_API_VERSION), 0u);
    EXPECT_EQ(ZEBOpen(2), ZEBERR_BAD_VERSION);
    EXPECT_EQ(ZEBClose(), 0u);
    EXPECT_EQ(net().sockets_started(), 0);
}

TEST_F(Transports, OpenChecksVersionBeforePointerThenKind) {
    EXPECT_EQ(ZEBOpenTransport(nullptr, 2, nullptr), ZEBERR_BAD_VERSION);
    EXPECT_EQ(ZEBOpenTransport(nullptr, ZEB_API_VERSION, nullptr), ZEBERR_NULL_TRANSPORT);
    ZEBTransport odd{};
    odd.Kind = 5;
    EXPECT_EQ(ZEBOpenTransport(&odd, ZEB_API_VERSION, nullptr), ZEBERR_BAD_TRANSPORT);
    EXPECT_EQ(ZEBCloseTransport(&odd), ZEBERR_BAD_TRANSPORT);
    EXPECT_EQ(ZEBCloseTransport(nullptr), ZEBERR_NULL_TRANSPORT);
    EXPECT_EQ(net().sockets_started(), 0);
}

TEST_F(Transports, UnknownProtocolIsRefusedWithoutStartingSockets) {
    ZEBTransport t = winsock(4);
    EXPECT_EQ(ZEBOpenTransport(&t, ZEB_API_VERSION, nullptr), ZEBERR_BAD_PROTOCOL);
    EXPECT_EQ(ZEBCloseTransport(&t), ZEBERR_BAD_PROTOCOL);
    EXPECT_EQ(net().sockets_started(), 0);
    EXPECT_EQ(zeb::state::socket_layer_users(), 0u);
}

TEST_F(Transports, OpenTurnsTheKeyOffAndKeepsTheSourceAddress) {
    SocketAddress source = socket_address({kHostIp, 0});
    ZEBTransport t = winsock();
    t.KeyMode = 1;
    t.Key[0] = 'K';
    ASSERT_EQ(ZEBOpenTransport(&t, ZEB_API_VERSION, source.data()), 0u);
    EXPECT_EQ(+t.KeyMode, 0);
    EXPECT_EQ(+t.SourceAddress, source.data());
    EXPECT_EQ(ZEBCloseTransport(&t), 0u);
}

TEST_F(Transports, SocketLayerRunsWhileAnyWinsockTransportIsOpen) {
    ZEBTransport ip = winsock(ZEB_PROTOCOL_IP);
    ZEBTransport ipx = winsock(ZEB_PROTOCOL_IPX);
    ASSERT_EQ(ZEBOpenTransport(&ip, ZEB_API_VERSION, nullptr), 0u);
    ASSERT_EQ(ZEBOpenTransport(&ipx, ZEB_API_VERSION, nullptr), 0u);
    EXPECT_EQ(net().sockets_started(), 1);

    EXPECT_EQ(ZEBCloseTransport(&ip), 0u);
    EXPECT_EQ(net().sockets_stopped(), 0);
    EXPECT_EQ(ZEBCloseTransport(&ipx), 0u);
    EXPECT_EQ(net().sockets_stopped(), 1);
    EXPECT_EQ(ZEBCloseTransport(&ip), 0u);  // one close too many changes nothing
    EXPECT_EQ(net().sockets_stopped(), 1);
    EXPECT_EQ(zeb::state::socket_layer_users(), 0u);

    ASSERT_EQ(ZEBOpenTransport(&ip, ZEB_API_VERSION, nullptr), 0u);
    EXPECT_EQ(net().sockets_started(), 2);
    EXPECT_EQ(ZEBCloseTransport(&ip), 0u);
    EXPECT_EQ(net().sockets_stopped(), 2);
}

TEST_F(Transports, FailedStartIsReturnedAndLeavesTheCountAlone) {
    net().fail_next(SimNetwork::Op::start, 10091);  // WSASYSNOTREADY
    ZEBTransport t = winsock();
    EXPECT_EQ(ZEBOpenTransport(&t, ZEB_API_VERSION, nullptr), 10091u);
    EXPECT_EQ(zeb::state::socket_layer_users(), 0u);
    ASSERT_EQ(ZEBOpenTransport(&t, ZEB_API_VERSION, nullptr), 0u);
    EXPECT_EQ(net().sockets_started(), 1);
    EXPECT_EQ(ZEBCloseTransport(&t), 0u);
    EXPECT_EQ(net().sockets_stopped(), 1);
}

TEST_F(Transports, SerialTransportNeverStartsTheSocketLayer) {
    ZEBTransport t{};
    t.Kind = ZEB_TRANSPORT_SERIAL;
    t.Protocol = 77;  // not looked at for a serial transport
    EXPECT_EQ(ZEBOpenTransport(&t, ZEB_API_VERSION, nullptr), 0u);
    EXPECT_EQ(ZEBCloseTransport(&t), 0u);
    EXPECT_EQ(net().sockets_started(), 0);
    EXPECT_EQ(net().sockets_stopped(), 0);
}

}  // namespace
}  // namespace zebtest
