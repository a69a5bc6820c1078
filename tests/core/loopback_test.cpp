// Exchanges with a module over the system's own sockets (POSIX or Winsock), on loopback only:
// every socket is bound to 127.0.0.1 and every datagram goes to 127.0.0.1.
#include <gtest/gtest.h>

#include <cstring>

#include "core/link.h"
#include "exchange.h"
#include "frames.h"
#include "sim_device.h"
#include "state_guards.h"
#include "udp_peer.h"

namespace zebtest {
namespace {

Endpoint local_of(const ZEBDevice& d) {
    return bound_at(static_cast<intptr_t>(d.Socket));
}

class Loopback : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(module_.ok()); }
    ScopedCrcMode crc_{1};
    UdpPeer module_;
};

TEST_F(Loopback, RequestAndReplyTravelOverRealSockets) {
    IpDevice dev(module_.at(), {.timeout = 5000});
    ASSERT_EQ(dev.device_result, 0u);
    EXPECT_EQ(local_of(dev.device).ip, kHostIp);
    const Outcome sent = send_packet(dev.device, text_bytes("ping"), {.want_reply = 0});
    EXPECT_EQ(sent.result, ZEBERR_NO_PACKET);

    Bytes request;
    Endpoint from;
    ASSERT_TRUE(module_.receive(&request, &from, 5000));
    EXPECT_EQ(request, make_reply(+dev->LastSequence, text_bytes("ping")));
    EXPECT_EQ(from, local_of(dev.device));

    const Bytes reply = make_reply(sequence_of(request), text_bytes("pong"));
    ASSERT_TRUE(module_.send_to(reply, from));
    const Outcome got = get_response(dev.device, 64, 0, 1, 1);
    EXPECT_EQ(got.result, 0u);
    EXPECT_EQ(got.reply, reply);
}

TEST_F(Loopback, DatagramLargerThanTheBufferIsAnErrorAndTheNextOneIsWhole) {
    IpDevice dev(module_.at(), {.timeout = 5000});
    ASSERT_EQ(dev.device_result, 0u);
    const Endpoint device_at = local_of(dev.device);
    ASSERT_TRUE(module_.send_to(Bytes(200, 0x41), device_at));
    ASSERT_TRUE(module_.send_to(make_reply(0, text_bytes("small")), device_at));
    const Outcome big = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(big.result, 10040u);  // WSAEMSGSIZE
    EXPECT_EQ(big.length, 0);
    const Outcome small = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(small.result, 0u);
    EXPECT_EQ(payload_of(small.reply), text_bytes("small"));
}

// A broadcast-mode device only receives here: nothing is broadcast.
TEST_F(Loopback, SenderAddressHasTheLibraryLayout) {
    IpDevice dev(module_.at(), {.timeout = 5000, .retries = 0, .broadcast = 1});
    ASSERT_EQ(dev.device_result, 0u);
    uint8_t from[16];
    std::memset(from, 0xCC, sizeof from);
    dev->FromAddress = from;
    dev->FromAddressSize = sizeof from;
    ASSERT_TRUE(module_.send_to(make_reply(0, {0x55}), local_of(dev.device)));
    const Outcome got = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(got.result, 0u);
    const SocketAddress expected = socket_address(module_.at());
    EXPECT_EQ(std::memcmp(from, expected.data(), expected.size()), 0);
}

}  // namespace
}  // namespace zebtest
