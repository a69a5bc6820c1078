// Time-outs and re-sends of _SendPacket, timed on the virtual clock.
#include <gtest/gtest.h>

#include "core/state.h"
#include "exchange.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

class Retries : public SimTest {
  protected:
    ScopedCrcMode crc_{1};
};

TEST_F(Retries, LostReplyWithoutRetriesTimesOutAfterOneSendAndOneTimeout) {
    net().add_peer(kModule, [](const Datagram&, PeerReply&) {});
    IpDevice dev(kModule, {.timeout = 300, .retries = 0});
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(net().sent().size(), 1u);
    EXPECT_EQ(elapsed(), 300u);
    EXPECT_EQ(+dev->ResendCount, 0);
}

TEST_F(Retries, EveryTryIsLostAfterRetriesPlusOneSends) {
    IpDevice dev(kModule, {.timeout = 100, .retries = 4});
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(net().sent().size(), 5u);
    EXPECT_EQ(elapsed(), 500u);
    EXPECT_EQ(+dev->ResendCount, 4);
}

// The clock starts just below the 32-bit wrap, so these waits also cross it.
TEST_F(Retries, TwoLostRepliesThenAnAnswerResendWithConsecutiveNumbers) {
    for (int32_t warn : {1, 0}) {
        SCOPED_TRACE(warn);
        ScopedSimNetwork sim(0xFFFFFF00);
        const uint64_t start = sim->now();
        sim->add_peer(kModule, lose_first(2, answer_with(text_bytes("third time"), 3)));
        IpDevice dev(kModule, {.timeout = 100, .retries = 2});
        zeb::state::set_next_sequence(65534);
        const Outcome out = send_packet(dev.device, {0x01, 0x02}, {.warn = warn});
        EXPECT_EQ(out.result, warn ? ZEBWARN_RETRIED : 0u);
        EXPECT_EQ(payload_of(out.reply), text_bytes("third time"));
        EXPECT_EQ(sim->now() - start, 203u);
        EXPECT_EQ(+dev->ResendCount, 2);

        ASSERT_EQ(sim->sent().size(), 3u);
        EXPECT_EQ(sequence_of(sim->sent()[0].bytes), 65534);
        EXPECT_EQ(sequence_of(sim->sent()[1].bytes), 65535);
        EXPECT_EQ(sequence_of(sim->sent()[2].bytes), 1);  // 0 is never used
        EXPECT_EQ(+dev->LastSequence, 1);
        EXPECT_EQ(sim->sent()[1].time - sim->sent()[0].time, 100u);
        EXPECT_EQ(sim->sent()[2].time - sim->sent()[1].time, 100u);
    }
}

TEST_F(Retries, ReplyToAnEarlierTryGoesToTheHandlerAndTheWaitGoesOn) {
    AsyncRecorder handler;
    auto requests = std::make_shared<std::vector<Datagram>>();
    net().add_peer(kModule, recording(requests, [requests](const Datagram& req, PeerReply& out) {
                       // The first answer comes 10 ms into the second try, the second 30 ms in.
                       const uint64_t delay = requests->size() == 1 ? 110 : 30;
                       out.send(make_reply(sequence_of(req.bytes), text_bytes("answer")), delay);
                   }));
    IpDevice dev(kModule, {.timeout = 100, .retries = 1});
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, ZEBWARN_RETRIED);
    ASSERT_EQ(requests->size(), 2u);
    EXPECT_EQ(sequence_of(out.reply), sequence_of((*requests)[1].bytes));
    EXPECT_EQ(elapsed(), 130u);
    EXPECT_EQ(+dev->LateReplyCount, 1);
    ASSERT_EQ(handler.calls().size(), 1u);
    EXPECT_EQ(handler.calls()[0].device, &dev.device);
    EXPECT_EQ(sequence_of(handler.calls()[0].packet), sequence_of((*requests)[0].bytes));
}

// Every packet taken costs 1 ms and another is due each millisecond, so one is always waiting:
// the deadline must hold on the path that passes a stray packet by, too.
TEST_F(Retries, SteadyStreamOfStrayPacketsCannotExtendTheWait) {
    IpDevice dev(kModule, {.timeout = 100, .retries = 0});
    zeb::state::set_next_sequence(10);
    for (uint64_t t = 0; t < 2000; ++t) {
        net().inject_to(dev.socket(), kModule, make_reply(0x7777, text_bytes("noise")), t);
    }
    net().set_receive_cost(1);
    const Outcome out = send_packet(dev.device, {0x01});
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_GE(elapsed(), 100u);
    EXPECT_LE(elapsed(), 101u);
    EXPECT_GE(+dev->LateReplyCount, 99);
    EXPECT_EQ(net().sent().size(), 1u);
}

// The same for a call that must not wait at all: it takes what is queued and returns.
// What is queued is drained by a bounded count, whatever the time-out (0 included).
TEST_F(Retries, SteadyStreamOfStrayPacketsCannotHoldACallThatDoesNotWait) {
    IpDevice dev(kModule, {.timeout = 0, .retries = 0});
    zeb::state::set_next_sequence(10);
    send_packet(dev.device, {0x01}, {.want_reply = 0});
    for (uint64_t t = 0; t < 2000; ++t) {
        net().inject_to(dev.socket(), kModule, make_reply(0x7777, text_bytes("noise")), t);
    }
    net().set_receive_cost(1);
    restart_clock();
    Bytes buf(64);
    int32_t length = 64;
    EXPECT_EQ(ZEBGetResponse(&dev.device, buf.data(), &length, 1), ZEBERR_NO_PACKET);
    EXPECT_LT(elapsed(), 500u);
    EXPECT_GT(+dev->LateReplyCount, 1);
}

}  // namespace
}  // namespace zebtest
