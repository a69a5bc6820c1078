// Opening and closing devices: what the record holds afterwards and which sockets it owns.
#include <gtest/gtest.h>

#include <cstring>

#include "core/link.h"
#include "sim_device.h"
#include "sim_fixture.h"

namespace zebtest {
namespace {

using Op = SimNetwork::Op;

class Devices : public SimTest {
  protected:
    Devices() {
        transport_.Kind = ZEB_TRANSPORT_WINSOCK;
        transport_.Protocol = ZEB_PROTOCOL_IP;
        EXPECT_EQ(ZEBOpenTransport(&transport_, ZEB_API_VERSION, source_.data()), 0u);
        set_module(device_);
    }
    ~Devices() override { ZEBCloseTransport(&transport_); }

    static void set_module(ZEBDevice& d) {
        const SocketAddress a = socket_address(kModule);
        std::memcpy(d.Address.Ip.SocketAddress, a.data(), a.size());
    }
    uint32_t open(int32_t broadcast = 0) {
        return ZEBOpenDevice(&transport_, &device_, ZEB_API_VERSION, 250, 3, broadcast);
    }
    zeb::plat::Handle handle() const { return static_cast<zeb::plat::Handle>(device_.Socket); }

    SocketAddress source_ = socket_address({kHostIp, 40001});
    ZEBTransport transport_{};
    ZEBDevice device_{};
};

TEST_F(Devices, ArgumentsAreCheckedVersionFirst) {
    EXPECT_EQ(ZEBOpenDevice(nullptr, nullptr, 2, 100, 0, 0), ZEBERR_BAD_VERSION);
    EXPECT_EQ(ZEBOpenDevice(nullptr, &device_, ZEB_API_VERSION, 100, 0, 0), ZEBERR_NULL_TRANSPORT);
    EXPECT_EQ(ZEBOpenDevice(&transport_, nullptr, ZEB_API_VERSION, 100, 0, 0), ZEBERR_BAD_DEVICE);
    EXPECT_EQ(ZEBCloseDevice(nullptr), ZEBERR_BAD_DEVICE);
    EXPECT_EQ(net().sockets_opened(), 0);
}

TEST_F(Devices, OpenSetsTheEngineFieldsAndLeavesAddressNodeSequenceAndTunnelAlone) {
    device_.Timeout = device_.Retries = 0xFFFF;
    device_.ResendCount = device_.CrcErrorCount = device_.LateReplyCount = 7;
    device_.NoWait = 1;
    device_.FromAddressSize = 16;
    uint8_t somewhere[16];
    device_.FromAddress = somewhere;
    std::memset(device_.Reserved2, 0x5A, sizeof device_.Reserved2);
    const uint8_t node[6] = {1, 2, 3, 4, 5, 6};
    std::memcpy(device_.NodeAddress, node, sizeof node);
    device_.LastSequence = 0x4242;
    device_.Tunnel = 2;
    device_.TunnelBase = 3;
    device_.TunnelSlot = 4;
    device_.TunnelNode = 5;
    const ZEBAddress address = device_.Address;

    ASSERT_EQ(open(), 0u);
    EXPECT_EQ(+device_.Timeout, 250);
    EXPECT_EQ(+device_.Retries, 3);
    EXPECT_EQ(+device_.ResendCount, 0);
    EXPECT_EQ(+device_.CrcErrorCount, 0);
    EXPECT_EQ(+device_.LateReplyCount, 0);
    EXPECT_EQ(+device_.NoWait, 0);
    EXPECT_EQ(+device_.ExtendedHeader, 0);
    EXPECT_EQ(+device_.Broadcast, 0);
    EXPECT_EQ(+device_.DataOffset, 9);
    EXPECT_EQ(+device_.Transport, &transport_);
    EXPECT_EQ(+device_.FromAddress, nullptr);
    EXPECT_EQ(+device_.FromAddressSize, 0u);
    EXPECT_EQ(std::memcmp(+device_.Reserved2, "\0\0\0\0", 4), 0);
    EXPECT_EQ(std::memcmp(&device_.Address, &address, sizeof address), 0);
    EXPECT_EQ(std::memcmp(+device_.NodeAddress, node, sizeof node), 0);
    EXPECT_EQ(+device_.LastSequence, 0x4242);
    EXPECT_EQ(+device_.Tunnel, 2);
    EXPECT_EQ(+device_.TunnelBase, 3);
    EXPECT_EQ(+device_.TunnelSlot, 4);
    EXPECT_EQ(+device_.TunnelNode, 5);
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
}

TEST_F(Devices, DirectDeviceHasAConnectedNonBlockingSocketBoundToTheSource) {
    ASSERT_EQ(open(0), 0u);
    EXPECT_EQ(net().local_endpoint(handle()), (Endpoint{kHostIp, 40001}));
    EXPECT_EQ(net().remote_endpoint(handle()), kModule);
    EXPECT_TRUE(net().nonblocking(handle()));
    EXPECT_FALSE(net().broadcast_allowed(handle()));
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
}

TEST_F(Devices, BroadcastDeviceMayBroadcastIsUnconnectedAndUsesTheExtendedHeader) {
    ASSERT_EQ(open(1), 0u);
    EXPECT_EQ(+device_.DataOffset, 16);
    EXPECT_EQ(+device_.ExtendedHeader, 1);
    EXPECT_EQ(+device_.Broadcast, 1);
    EXPECT_TRUE(net().broadcast_allowed(handle()));
    EXPECT_FALSE(net().remote_endpoint(handle()).has_value());
    EXPECT_TRUE(net().nonblocking(handle()));
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
}

TEST_F(Devices, BroadcastOnlyModuleNeedsBroadcastModeAndNoSocketIsMadeWithout) {
    device_.Address.Ip.BroadcastOnly = 1;
    EXPECT_EQ(open(0), ZEBERR_NEEDS_BROADCAST);
    EXPECT_EQ(net().sockets_opened(), 0);
    EXPECT_EQ(+device_.Transport, &transport_);
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
    EXPECT_TRUE(net().close_calls().empty());

    EXPECT_EQ(open(1), 0u);
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
}

TEST_F(Devices, ClosingANeverOpenedOrClosedRecordDoesNothing) {
    ZEBDevice zeroed{};
    EXPECT_EQ(ZEBCloseDevice(&zeroed), 0u);
    ASSERT_EQ(open(), 0u);
    const zeb::plat::Handle h = handle();
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
    EXPECT_EQ(+device_.Transport, nullptr);
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
    EXPECT_EQ(net().close_calls(), std::vector<zeb::plat::Handle>{h});
    EXPECT_EQ(net().sockets_open(), 0u);
}

TEST_F(Devices, ClosedDeviceMayBeOpenedAgain) {
    ASSERT_EQ(open(), 0u);
    ASSERT_EQ(ZEBCloseDevice(&device_), 0u);
    ASSERT_EQ(open(), 0u);
    EXPECT_EQ(net().sockets_open(), 1u);
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
    EXPECT_EQ(net().sockets_open(), 0u);
}

// A socket made by a failed open is closed there, once; the record keeps Socket 0 and owns
// nothing, so closing it closes nothing more.
TEST_F(Devices, FailureAfterTheSocketIsMadeClosesItOnceAndTheRecordOwnsNothing) {
    struct Case {
        Op op;
        int32_t broadcast;
        uint32_t error;
    };
    for (const Case c :
         {Case{Op::bind, 0, 10048}, Case{Op::connect, 0, 10065},
          Case{Op::allow_broadcast, 1, 10013}, Case{Op::set_nonblocking, 0, 10045}}) {
        SCOPED_TRACE(static_cast<int>(c.op));
        net().clear_records();
        net().fail_next(c.op, c.error);
        EXPECT_EQ(open(c.broadcast), c.error);
        EXPECT_EQ(+device_.Socket, 0u);
        EXPECT_EQ(net().sockets_open(), 0u);
        EXPECT_EQ(net().close_calls().size(), 1u);
        EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
        EXPECT_EQ(net().close_calls().size(), 1u);
        EXPECT_EQ(+device_.Transport, nullptr);
    }
}

TEST_F(Devices, FailedSocketCreationIsReturnedAndNothingIsClosed) {
    ZEBTransport ipx{};
    ipx.Kind = ZEB_TRANSPORT_WINSOCK;
    ipx.Protocol = ZEB_PROTOCOL_IPX;
    ASSERT_EQ(ZEBOpenTransport(&ipx, ZEB_API_VERSION, nullptr), 0u);
    ZEBDevice d{};
    EXPECT_EQ(ZEBOpenDevice(&ipx, &d, ZEB_API_VERSION, 100, 0, 0), 10047u);  // no IPX here
    EXPECT_EQ(+d.Socket, 0u);
    EXPECT_EQ(+d.Transport, &ipx);
    // Neither send nor receive may touch the socket the record does not own.
    uint8_t frame[16] = {};
    EXPECT_NE(zeb::SendFrame(&d, frame, sizeof frame), 0u);
    EXPECT_TRUE(net().sent().empty());
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
    EXPECT_TRUE(net().close_calls().empty());
    EXPECT_EQ(ZEBCloseTransport(&ipx), 0u);
}

TEST_F(Devices, UnknownTransportKindOrProtocolIsRefused) {
    ZEBTransport odd{};
    odd.Kind = 5;
    EXPECT_EQ(ZEBOpenDevice(&odd, &device_, ZEB_API_VERSION, 100, 0, 0), ZEBERR_BAD_TRANSPORT);
    EXPECT_EQ(ZEBCloseDevice(&device_), ZEBERR_BAD_TRANSPORT);
    EXPECT_EQ(+device_.Transport, nullptr);

    ASSERT_EQ(open(), 0u);
    transport_.Protocol = 9;
    EXPECT_EQ(ZEBCloseDevice(&device_), ZEBERR_BAD_PROTOCOL);
    EXPECT_EQ(+device_.Transport, nullptr);
    transport_.Protocol = ZEB_PROTOCOL_IP;
}

// The table of operations is chosen on every call, so a protocol that changes under an open
// device is refused there too, and the socket is left to a close under a known protocol.
TEST_F(Devices, UnknownProtocolUnderAnOpenDeviceRefusesSendAndReceive) {
    ASSERT_EQ(open(), 0u);
    transport_.Protocol = 9;
    uint8_t frame[16] = {};
    int32_t length = sizeof frame;
    EXPECT_EQ(zeb::SendFrame(&device_, frame, sizeof frame), ZEBERR_BAD_PROTOCOL);
    EXPECT_EQ(zeb::ReceiveFrame(&device_, frame, &length, 0), ZEBERR_BAD_PROTOCOL);
    EXPECT_TRUE(net().sent().empty());
    transport_.Protocol = ZEB_PROTOCOL_IP;
    EXPECT_EQ(ZEBCloseDevice(&device_), 0u);
    EXPECT_EQ(net().sockets_open(), 0u);
}

TEST_F(Devices, SerialPortThatFailedToOpenIsNotClosed) {
    ZEBTransport serial{};
    serial.Kind = ZEB_TRANSPORT_SERIAL;
    ASSERT_EQ(ZEBOpenTransport(&serial, ZEB_API_VERSION, nullptr), 0u);
    ZEBDevice d{};
    d.Address.Serial.ComPort = 1;
    EXPECT_EQ(ZEBOpenDevice(&serial, &d, ZEB_API_VERSION, 100, 0, 0), 2u);  // no ports here
    EXPECT_EQ(+d.Address.Serial.PortHandle, reinterpret_cast<void*>(intptr_t{-1}));
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
    EXPECT_EQ(net().sockets_started(), 1);  // by the fixture's transport only
}

}  // namespace
}  // namespace zebtest
