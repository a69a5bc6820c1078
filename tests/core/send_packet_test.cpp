// One request and its reply through _SendPacket: what ends a call at once.
#include <gtest/gtest.h>

#include "exchange.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

class SendPacket : public SimTest {
  protected:
    ScopedCrcMode crc_{1};
};

TEST_F(SendPacket, ReplyIsDeliveredWithItsHeader) {
    net().add_peer(kModule, answer_with(text_bytes("reply"), 7));
    IpDevice dev(kModule, {.timeout = 100, .retries = 2});
    const Outcome out = send_packet(dev.device, {0x01}, {.capacity = 100});
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(+dev->LastSequence, text_bytes("reply")));
    EXPECT_EQ(out.length, 14);
    EXPECT_EQ(elapsed(), 7u);
    EXPECT_EQ(+dev->ResendCount, 0);
}

TEST_F(SendPacket, BadCrcIsCountedAndNotRetriedEvenWithRetriesLeft) {
    net().add_peer(kModule, [](const Datagram& req, PeerReply& out) {
        out.send(make_bad_crc_reply(sequence_of(req.bytes), text_bytes("damaged")), 5);
    });
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, ZEBERR_BAD_CRC);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(net().sent().size(), 1u);
    EXPECT_EQ(+dev->CrcErrorCount, 1);
    EXPECT_EQ(+dev->ResendCount, 0);
}

TEST_F(SendPacket, RequestShorterThanTheHeaderIsRefusedUnsent) {
    IpDevice dev(kModule);
    Bytes request(8, 0);
    Bytes reply(64);
    int32_t length = 64;
    EXPECT_EQ(_SendPacket(&dev.device, request.data(), 8, reply.data(), &length, 1, 0),
              ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(net().sent().empty());
}

TEST_F(SendPacket, HeaderOnlyRequestIsSent) {
    IpDevice dev(kModule);
    EXPECT_EQ(send_packet(dev.device, {}, {.want_reply = 0}).result, ZEBERR_NO_PACKET);
    ASSERT_EQ(net().sent().size(), 1u);
    EXPECT_EQ(net().sent()[0].bytes, make_reply(+dev->LastSequence, {}));
}

TEST_F(SendPacket, SendFailureIsReturnedAtOnceWithLengthZero) {
    IpDevice dev(kModule, {.retries = 3});
    net().fail_next(SimNetwork::Op::send, 10065);
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, 10065u);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(elapsed(), 0u);
}

TEST_F(SendPacket, ReceiveFailureEndsTheWaitWithoutResending) {
    IpDevice dev(kModule, {.retries = 3});
    net().fail_next(SimNetwork::Op::receive, 10054);
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, 10054u);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(net().sent().size(), 1u);
}

TEST_F(SendPacket, ReplyLargerThanTheCapacityIsAnErrorNotACutReply) {
    net().add_peer(kModule, answer_with(Bytes(200, 0x55)));
    IpDevice dev(kModule, {.retries = 2});
    const Outcome out = send_packet(dev.device, {0x01}, {.capacity = 64});
    EXPECT_EQ(out.result, 10040u);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(net().sent().size(), 1u);
}

// A packet too short to hold a header is never taken as the reply, whatever its bytes.
TEST_F(SendPacket, RuntGoesToTheHandlerAndTheWaitGoesOn) {
    AsyncRecorder handler;
    IpDevice dev(kModule);
    net().add_peer(kModule, [&](const Datagram& req, PeerReply& out) {
        out.send(Bytes(req.bytes.begin(), req.bytes.begin() + 5), 10);  // "ZQK" + the sequence
        out.send(make_reply(sequence_of(req.bytes), text_bytes("whole")), 20);
    });
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("whole"));
    ASSERT_EQ(handler.calls().size(), 1u);
    EXPECT_EQ(handler.calls()[0].packet.size(), 5u);
    EXPECT_EQ(handler.calls()[0].device, &dev.device);
    EXPECT_EQ(+dev->LateReplyCount, 1);
    EXPECT_EQ(+dev->CrcErrorCount, 0);
    EXPECT_EQ(elapsed(), 20u);
}

// A tunnelled request is not sent as it is: the device's socket carries only the remote
// master's shared-RAM requests, and no module here answers the first of them.
TEST_F(SendPacket, TunnelledDeviceSendsItsRequestThroughTheRemoteMaster) {
    IpDevice dev(kModule);
    dev->Tunnel = 1;
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(+dev->Tunnel, 1);
    ASSERT_EQ(net().sent().size(), 1u);
    EXPECT_EQ(payload_of(net().sent()[0].bytes)[0], 0x29);
}

}  // namespace
}  // namespace zebtest
