// SendPacketTwoResponses: an acknowledgement that must echo given bytes, then a final reply,
// with one re-send budget for both.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "exchange.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

// A module that acknowledges each request at once and answers it finally 500 ms later, unless
// told to lose one or the other. Request numbers count from 0.
struct TwoStepModule {
    Bytes ack{0x23, 0x00};
    Bytes final_payload = text_bytes("final");
    uint64_t ack_delay = 5;
    uint64_t final_delay = 500;
    std::set<size_t> acks_lost;
    std::set<size_t> finals_lost;
    std::map<size_t, Bytes> other_acks;  // a different acknowledgement for some requests
    std::string key;
    std::vector<Bytes> requests;  // with the key undone

    PeerHandler handler() {
        return [this](const Datagram& req, PeerReply& out) {
            const size_t n = requests.size();
            requests.push_back(unkey(req.bytes, key));
            const uint16_t seq = sequence_of(req.bytes);
            const Bytes& a = other_acks.count(n) ? other_acks[n] : ack;
            if (!acks_lost.count(n)) out.send(make_reply(seq, a), ack_delay);
            if (!finals_lost.count(n)) out.send(make_reply(seq, final_payload), final_delay);
        };
    }
};

class TwoResponses : public SimTest {
  protected:
    TwoResponses() { peer_ = net().add_peer(kModule, module_.handler()); }

    Outcome call(IpDevice& dev, Bytes echo = {0x23, 0x00}, int32_t warn = 1) {
        TwoReplyOptions o;
        o.send.warn = warn;
        o.echo = std::move(echo);
        o.extra_timeout = 1000;
        return send_two_responses(dev.device, {0x23, 0x11, 0x22}, o);
    }

    ScopedCrcMode crc_{1};
    TwoStepModule module_;
    SimNetwork::PeerId peer_;
};

TEST_F(TwoResponses, FinalReplyReplacesTheAcknowledgementAndMayTakeTheExtraTime) {
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(+dev->LastSequence, text_bytes("final")));
    EXPECT_EQ(elapsed(), 500u);
    EXPECT_EQ(module_.requests.size(), 1u);
    EXPECT_EQ(+dev->ResendCount, 0);
    EXPECT_EQ(+dev->Retries, 3);
}

TEST_F(TwoResponses, FinalReplyWaitIsTimeoutPlusExtraTime) {
    module_.finals_lost = {0};
    IpDevice dev(kModule, {.timeout = 100, .retries = 0});
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(elapsed(), 5u + 100u + 1000u);
    EXPECT_EQ(module_.requests.size(), 1u);
    EXPECT_EQ(+dev->Retries, 0);
}

TEST_F(TwoResponses, WrongAcknowledgementEndsTheCallWithoutWaitingForTheFinalReply) {
    module_.ack = {0x23, 0x01};
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    const Outcome out = call(dev, {0x23, 0x02});
    EXPECT_EQ(out.result, ZEBERR_MISMATCHED_REPLY);
    EXPECT_EQ(elapsed(), 5u);
    EXPECT_EQ(module_.requests.size(), 1u);
    EXPECT_EQ(+dev->Retries, 3);
}

TEST_F(TwoResponses, AcknowledgementShorterThanTheEchoIsWrong) {
    module_.ack = {0x23};
    IpDevice dev(kModule, {.timeout = 100});
    EXPECT_EQ(call(dev, {0x23, 0x00}).result, ZEBERR_MISMATCHED_REPLY);
}

TEST_F(TwoResponses, FinalReplyLostTwiceThenArrivingIsARetriedSuccessWhateverWarnSays) {
    module_.finals_lost = {0, 1};
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    const Outcome out = call(dev, {0x23, 0x00}, /*warn=*/0);
    EXPECT_EQ(out.result, ZEBWARN_RETRIED);
    EXPECT_EQ(payload_of(out.reply), text_bytes("final"));
    ASSERT_EQ(module_.requests.size(), 3u);
    EXPECT_EQ(sequence_of(out.reply), sequence_of(module_.requests[2]));
    EXPECT_EQ(+dev->Retries, 3);
    EXPECT_EQ(+dev->ResendCount, 2);
    // Two full waits of 5 + 1100 ms, then the final reply 500 ms after the third send.
    EXPECT_EQ(elapsed(), 2u * 1105u + 500u);
}

TEST_F(TwoResponses, BudgetSpentOnFinalRepliesEndsInTimeoutWithRetriesRestored) {
    module_.finals_lost = {0, 1, 2, 3, 4, 5};
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(module_.requests.size(), 3u);
    EXPECT_EQ(+dev->Retries, 3);
}

// Re-sends for a lost acknowledgement come out of the same budget: never more than
// Retries + 1 requests in all.
TEST_F(TwoResponses, ResendsForAcknowledgementsShareTheBudget) {
    module_.acks_lost = {0, 2, 3};
    module_.finals_lost = {1};
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_EQ(module_.requests.size(), 4u);
    EXPECT_EQ(+dev->Retries, 3);
}

TEST_F(TwoResponses, OnlyTheFirstAcknowledgementIsEchoChecked) {
    module_.finals_lost = {0};
    module_.other_acks[1] = {0x99};
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, ZEBWARN_RETRIED);
    EXPECT_EQ(module_.requests.size(), 2u);
}

TEST_F(TwoResponses, KeyedRequestIsKeyedTheSameWayOnEveryPass) {
    module_.key = "K7";
    module_.finals_lost = {0};
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    dev.set_key("K7");
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, ZEBWARN_RETRIED);
    ASSERT_EQ(module_.requests.size(), 2u);
    for (const Bytes& r : module_.requests) {
        EXPECT_EQ(payload_of(r), (Bytes{0x23, 0x11, 0x22}));
        EXPECT_TRUE(crc_field_ok(r));
        EXPECT_EQ(u16_at(r, 7), 3);
    }
}

TEST_F(TwoResponses, FinalReplyWithAnyNumberIsTakenWhenCheckSequenceIsOff) {
    net().remove_peer(peer_);
    net().add_peer(kModule, [](const Datagram& req, PeerReply& out) {
        const uint16_t seq = sequence_of(req.bytes);
        out.send(make_reply(seq, {0x23, 0x00}), 5);
        out.send(make_reply(static_cast<uint16_t>(seq + 100), text_bytes("final")), 50);
    });
    IpDevice dev(kModule, {.timeout = 100});
    TwoReplyOptions o;
    o.echo = {0x23, 0x00};
    o.check_sequence = 0;
    const Outcome out = send_two_responses(dev.device, {0x23}, o);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("final"));
    EXPECT_EQ(+dev->LastSequence, sequence_of(out.reply));
}

TEST_F(TwoResponses, DuplicatedAcknowledgementIsALateReplyAndTheFinalReplyIsStillAwaited) {
    // UDP may deliver a datagram twice: a second copy of the acknowledgement must not be taken
    // for the final reply.
    net().remove_peer(peer_);
    net().add_peer(kModule, [](const Datagram& req, PeerReply& out) {
        const uint16_t seq = sequence_of(req.bytes);
        out.send(make_reply(seq, {0x23, 0x00}), 5);
        out.send(make_reply(seq, {0x23, 0x00}), 6);
        out.send(make_reply(seq, text_bytes("final")), 300);
    });
    IpDevice dev(kModule, {.timeout = 100, .retries = 1});
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("final"));
    EXPECT_EQ(+dev->LateReplyCount, 1);
    EXPECT_EQ(+dev->ResendCount, 0);
    EXPECT_EQ(elapsed(), 300u);

    // Only duplicates keep the wait going: within the same deadline, which still holds.
    net().remove_peer(peer_ + 1);
    net().add_peer(kModule, [](const Datagram& req, PeerReply& out) {
        const uint16_t seq = sequence_of(req.bytes);
        for (uint64_t t = 5; t < 2000; t += 10) out.send(make_reply(seq, {0x23, 0x00}), t);
    });
    IpDevice quiet(kModule, {.timeout = 100, .retries = 0});
    restart_clock();
    EXPECT_EQ(call(quiet).result, ZEBERR_TIMEOUT);
    EXPECT_LE(elapsed(), 1100u + 5u);
}

// Without echo bytes any first reply is the acknowledgement, whatever it holds, and a module
// may answer with the very bytes it acknowledged with. A packet identical to the
// acknowledgement is the final reply unless a different one with the same number follows
// within a short grace, which shows the first was a copy made by the network.
TEST_F(TwoResponses, WithoutEchoBytesAPacketLikeTheAcknowledgementIsTheFinalReply) {
    const Bytes status_ok = {0x00, 0x00};
    const Bytes refused = {0x01, 0x81};
    struct Sent {
        Bytes payload;
        uint64_t at;
    };
    struct Row {
        const char* what;
        std::vector<Sent> replies;  // after the acknowledgement, sent at 5 ms
        Bytes answer;
        uint64_t elapsed;
        uint16_t late;
    } rows[] = {
        {"same bytes at once", {{status_ok, 5}}, status_ok, 5 + 20, 0},
        {"same bytes much later", {{status_ok, 900}}, status_ok, 900 + 20, 0},
        {"a network copy, then another answer", {{status_ok, 6}, {refused, 15}}, refused, 15, 1},
        {"the answer, then a network copy of it",
         {{status_ok, 7}, {status_ok, 9}},
         status_ok,
         7 + 20,
         1},
        // The trade this makes: a network copy with no other answer within the grace is taken.
        {"a network copy, then a late answer",
         {{status_ok, 6}, {refused, 300}},
         status_ok,
         6 + 20,
         0},
    };
    net().remove_peer(peer_);
    const Row* row = nullptr;
    net().add_peer(kModule, [&](const Datagram& req, PeerReply& out) {
        const uint16_t seq = sequence_of(req.bytes);
        out.send(make_reply(seq, status_ok), 5);
        for (const Sent& s : row->replies) out.send(make_reply(seq, s.payload), s.at);
    });
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        row = &r;
        IpDevice dev(kModule, {.timeout = 100, .retries = 2});
        restart_clock();
        const Outcome out = call(dev, {});
        EXPECT_EQ(out.result, 0u);
        EXPECT_EQ(out.reply, make_reply(+dev->LastSequence, r.answer));
        EXPECT_EQ(elapsed(), r.elapsed);
        EXPECT_EQ(+dev->LateReplyCount, r.late);
        EXPECT_EQ(+dev->ResendCount, 0);
        net().advance(1000);  // what is still to come reaches this device, not the next
    }
}

TEST_F(TwoResponses, SocketErrorOnTheAcknowledgementEndsTheCallAtOnce) {
    // A refused port: waiting for a final reply would only spend the extra time on every try.
    IpDevice dev(kModule, {.timeout = 100, .retries = 3});
    net().fail_next(SimNetwork::Op::receive, 10054);
    const Outcome out = call(dev);
    EXPECT_EQ(out.result, 10054u);
    EXPECT_EQ(out.length, 0);
    EXPECT_EQ(elapsed(), 0u);
    EXPECT_EQ(module_.requests.size(), 1u);
    EXPECT_EQ(+dev->Retries, 3);
}

}  // namespace
}  // namespace zebtest
