// Collecting a reply later: GetResponse and ZEBGetResponse after a request sent without waiting.
#include <gtest/gtest.h>

#include "exchange.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

class LaterReply : public SimTest {
  protected:
    ScopedCrcMode crc_{1};
};

TEST_F(LaterReply, NoWaitSendReturnsAtOnceAndZEBGetResponseTakesTheReplyWhenItIsThere) {
    net().add_peer(kModule, answer_with(text_bytes("later"), 50));
    IpDevice dev(kModule, {.timeout = 100});
    const Outcome sent = send_packet(dev.device, {0x07}, {.want_reply = 0});
    EXPECT_EQ(sent.result, ZEBERR_NO_PACKET);
    EXPECT_EQ(sent.length, 0);
    EXPECT_EQ(net().sent().size(), 1u);
    EXPECT_EQ(elapsed(), 0u);

    Bytes buf(64);
    int32_t length = 64;
    EXPECT_EQ(ZEBGetResponse(&dev.device, buf.data(), &length, 1), ZEBERR_NO_PACKET);
    EXPECT_EQ(elapsed(), 0u);  // never waits
    net().advance(49);
    EXPECT_EQ(ZEBGetResponse(&dev.device, buf.data(), &length, 1), ZEBERR_NO_PACKET);
    net().advance(1);
    length = 64;
    EXPECT_EQ(ZEBGetResponse(&dev.device, buf.data(), &length, 1), 0u);
    buf.resize(static_cast<size_t>(length));
    EXPECT_EQ(buf, make_reply(+dev->LastSequence, text_bytes("later")));
    EXPECT_EQ(elapsed(), 50u);
}

// What is queued is drained by count, not by the clock: a device whose time-out is 0 reaches
// its reply behind stray packets too.
TEST_F(LaterReply, ZEBGetResponsePassesQueuedStrayPacketsToTheHandler) {
    for (const uint16_t timeout : {uint16_t{0}, uint16_t{100}}) {
        SCOPED_TRACE(timeout);
        AsyncRecorder handler;
        IpDevice dev(kModule, {.timeout = timeout});
        send_packet(dev.device, {0x07}, {.want_reply = 0});
        const uint16_t awaited = dev->LastSequence;
        net().inject_to(dev.socket(), kModule, make_reply(awaited ^ 0x100, text_bytes("old")));
        net().inject_to(dev.socket(), kModule, make_reply(awaited ^ 0x200, text_bytes("older")));
        net().inject_to(dev.socket(), kModule, make_reply(awaited, text_bytes("mine")));
        Bytes buf(64);
        int32_t length = 64;
        restart_clock();
        EXPECT_EQ(ZEBGetResponse(&dev.device, buf.data(), &length, 1), 0u);
        buf.resize(static_cast<size_t>(length));
        EXPECT_EQ(payload_of(buf), text_bytes("mine"));
        EXPECT_EQ(handler.calls().size(), 2u);
        EXPECT_EQ(+dev->LateReplyCount, 2);

        net().inject_to(dev.socket(), kModule, make_reply(awaited ^ 0x300, text_bytes("stray")));
        length = 64;
        EXPECT_EQ(ZEBGetResponse(&dev.device, buf.data(), &length, 1), ZEBERR_NO_PACKET);
        EXPECT_EQ(handler.calls().size(), 3u);
        EXPECT_EQ(elapsed(), 0u);
    }
}

TEST_F(LaterReply, CheckSequenceOffTakesAnyPacketAndItsNumber) {
    IpDevice dev(kModule, {.timeout = 100});
    send_packet(dev.device, {0x07}, {.want_reply = 0});
    net().inject_to(dev.socket(), kModule, make_reply(777, text_bytes("any")), 10);
    const Outcome out = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("any"));
    EXPECT_EQ(+dev->LastSequence, 777);
    EXPECT_EQ(elapsed(), 10u);
}

TEST_F(LaterReply, CheckSequenceOnPassesOtherNumbersByUntilTheTimeLimit) {
    IpDevice dev(kModule, {.timeout = 100});
    send_packet(dev.device, {0x07}, {.want_reply = 0});
    const uint16_t awaited = dev->LastSequence;
    net().inject_to(dev.socket(), kModule, make_reply(awaited + 1, text_bytes("other")), 10);
    const Outcome out = get_response(dev.device, 64, 0, 1, 1);
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(+dev->LastSequence, awaited);
    EXPECT_EQ(+dev->LateReplyCount, 1);
    EXPECT_EQ(elapsed(), 100u);
}

// A record that never sent anything awaits number 0, which any reply answers.
TEST_F(LaterReply, FreshRecordTakesAnyNumber) {
    IpDevice dev(kModule);
    ASSERT_EQ(+dev->LastSequence, 0);
    net().inject_to(dev.socket(), kModule, make_reply(4321, text_bytes("hello")));
    const Outcome out = get_response(dev.device, 64, 0, 1, 1);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("hello"));
}

TEST_F(LaterReply, RuntIsNeverTakenEvenWithCheckSequenceOff) {
    AsyncRecorder handler;
    IpDevice dev(kModule, {.timeout = 100});
    net().inject_to(dev.socket(), kModule, {'Z', 'Q', 'K'});
    const Outcome out = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(handler.calls().size(), 1u);
    EXPECT_EQ(+dev->LateReplyCount, 1);
}

TEST_F(LaterReply, ExtraTimeIsAddedToTheDevicesTimeoutWithoutOverflow) {
    struct Case {
        uint16_t timeout;
        uint16_t extra;
    };
    // 65535 + 65535 does not fit 16 bits; 5100 ms from the start crosses the clock's wrap.
    for (const Case c : {Case{100, 250}, Case{100, 5000}, Case{65535, 65535}}) {
        SCOPED_TRACE(c.extra);
        IpDevice dev(kModule, {.timeout = c.timeout});
        restart_clock();
        const Outcome out = get_response(dev.device, 64, c.extra, 1, 1);
        EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
        EXPECT_EQ(out.length, 0);
        EXPECT_EQ(elapsed(), uint64_t{c.timeout} + c.extra);
    }
}

// The wait looks at the clock again after the 32-bit millisecond count has wrapped (woken by a
// stray packet) and still knows how long it has waited.
TEST_F(LaterReply, WaitGoesOnAcrossTheClockWrap) {
    IpDevice dev(kModule, {.timeout = 10000});
    send_packet(dev.device, {0x07}, {.want_reply = 0});
    const uint64_t until_wrap = 0x100000000ull - net().now();
    const uint16_t awaited = dev->LastSequence;
    net().inject_to(dev.socket(), kModule, make_reply(awaited ^ 0x100, {0x01}), until_wrap + 5);
    net().inject_to(dev.socket(), kModule, make_reply(awaited, {0x00}), until_wrap + 20);
    const Outcome out = get_response(dev.device, 64, 0, 1, 1);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(elapsed(), until_wrap + 20);
    EXPECT_EQ(+dev->LateReplyCount, 1);
}

}  // namespace
}  // namespace zebtest
