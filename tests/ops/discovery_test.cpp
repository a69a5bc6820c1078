// Discovery on the simulated network: exact query bytes, which answers are listed, and timing.
#include <gtest/gtest.h>

#include <cstring>

#include "frames.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr uint32_t kFirstModule = ipv4(127, 0, 0, 2);

// The discovery answer a module gives: 0x55 0xAA, its hardware address, broadcast-only.
Bytes answer(uint8_t last_hw_byte, uint8_t broadcast_only = 0) {
    return {0x55, 0xAA, 0x02, 0, 0, 0, 0, last_hw_byte, broadcast_only, 0xEE};
}

class Discovery : public ::testing::Test {
  protected:
    void SetUp() override {
        transport_.Kind = ZEB_TRANSPORT_WINSOCK;
        transport_.Protocol = ZEB_PROTOCOL_IP;
        source_ = socket_address({kHostIp, 0});
        ASSERT_EQ(ZEBOpenTransport(&transport_, 3, source_.data()), 0u);
        previous_timeout_ = ZEBSetQueryTimeout(600);
    }
    void TearDown() override {
        ZEBCloseTransport(&transport_);
        ZEBSetQueryTimeout(previous_timeout_);
    }
    // A module at 127.0.0.(2 + i) that answers a broadcast with `payload` after `delay_ms`.
    void module(int i, Bytes payload, uint64_t delay_ms = 1, std::string_view magic = "ZQK") {
        net_->add_peer({kFirstModule + uint32_t(i), kModulePort},
                       [payload, delay_ms, magic](const Datagram& d, PeerReply& out) {
                           const Bytes reply = make_reply(sequence_of(d.bytes), payload);
                           Bytes framed = reply;
                           std::memcpy(framed.data(), magic.data(), 3);
                           out.send(framed, delay_ms);
                       });
    }
    uint16_t query(ZEBDevice* list, uint16_t capacity, uint32_t* result) {
        uint16_t count = capacity;
        *result = ZEBQueryDevices(&transport_, list, &count, 3);
        return count;
    }

    ScopedSimNetwork net_;
    ZEBTransport transport_{};
    SocketAddress source_{};
    uint32_t previous_timeout_ = 0;
};

TEST_F(Discovery, QueryIsOneBroadcastFromTheSourceAddressAndLastsTheQueryTime) {
    ZEBDevice list[4] = {};
    uint32_t result = 1;
    const uint64_t start = net_->now();
    EXPECT_EQ(query(list, 4, &result), 0);
    EXPECT_EQ(result, 0u);
    const uint64_t took = net_->now() - start;
    EXPECT_GE(took, 620u);  // the first 20 ms wait plus the 600 ms query time
    EXPECT_LE(took, 640u);
    ASSERT_EQ(net_->sent().size(), 1u);
    const Datagram& q = net_->sent()[0];
    EXPECT_EQ(q.to, (Endpoint{kBroadcastIp, kModulePort}));
    EXPECT_EQ(q.from.ip, kHostIp);
    EXPECT_EQ(payload_of(q.bytes), Bytes{0x05});
    EXPECT_TRUE(crc_field_ok(q.bytes));
}

TEST_F(Discovery, TooManyAnswersFillTheListAndCountThemAll) {
    for (int i = 0; i < 3; ++i) module(i, answer(uint8_t(i + 1)), 1 + i * 30);
    ZEBDevice list[3] = {};
    uint32_t result = 0;
    EXPECT_EQ(query(list, 2, &result), 3);
    EXPECT_EQ(result, ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(endpoint_of(list[0].Address.Raw), (Endpoint{kFirstModule, kModulePort}));
    EXPECT_EQ(endpoint_of(list[1].Address.Raw), (Endpoint{kFirstModule + 1, kModulePort}));
    EXPECT_EQ(list[1].NodeAddress[5], 2);
    ZEBDevice untouched{};
    EXPECT_EQ(std::memcmp(&list[2], &untouched, sizeof untouched), 0);
}

TEST_F(Discovery, ZqqAnswersCountAndBroadcastOnlyIsKept) {
    module(0, answer(1, 1), 1, "ZQQ");
    module(1, answer(2, 7), 5);  // only 1 means broadcast-only
    ZEBDevice list[4] = {};
    uint32_t result = 1;
    ASSERT_EQ(query(list, 4, &result), 2);
    EXPECT_EQ(list[0].Address.Ip.BroadcastOnly, 1);
    EXPECT_EQ(list[1].Address.Ip.BroadcastOnly, 0);
    EXPECT_EQ(ZEBOpenDevice(&transport_, &list[0], 3, 100, 0, 0), ZEBERR_NEEDS_BROADCAST);
    EXPECT_EQ(net_->sockets_open(), 0u);
    ZEBCloseDevice(&list[0]);
}

TEST_F(Discovery, MalformedAndShortAnswersAreSkipped) {
    module(0, {0x55, 0xAB, 1, 2, 3, 4, 5, 6, 0});  // wrong marker
    module(1, {0x55, 0xAA, 1, 2, 3}, 2);           // cut short: no whole hardware address
    module(2, answer(9), 3, "XYZ");                // wrong magic
    module(3, answer(4), 4);
    ZEBDevice list[4] = {};
    uint32_t result = 1;
    ASSERT_EQ(query(list, 4, &result), 1);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(list[0].NodeAddress[5], 4);
}

TEST_F(Discovery, DataItemIsCutAt512AndAnnounced) {
    std::vector<uint8_t> item(1000, 0x33);
    ZEBDevice list[1] = {};
    uint16_t count = 1;
    EXPECT_EQ(ZEBQueryDeviceData(&transport_, list, &count, 3, 0x16, item.data(), 1000), 0u);
    ASSERT_EQ(net_->sent().size(), 1u);
    const Bytes body = payload_of(net_->sent()[0].bytes);
    ASSERT_EQ(body.size(), 6u + 512u);
    EXPECT_EQ(body[0], 0x09);
    EXPECT_EQ(body[1], 0x00);
    EXPECT_EQ(u16_at(body, 2), 0x16);
    EXPECT_EQ(u16_at(body, 4), 512);
}

TEST_F(Discovery, QueryTimeoutSettingIsKeptAndUsed) {
    EXPECT_EQ(ZEBSetQueryTimeout(100), 600u);
    EXPECT_EQ(ZEBGetQueryTimeout(), 100u);
    ZEBDevice list[1] = {};
    uint32_t result = 1;
    const uint64_t start = net_->now();
    query(list, 1, &result);
    EXPECT_LE(net_->now() - start, 140u);
}

TEST_F(Discovery, SocketErrorEndsTheQueryWithTheCountUnchanged) {
    net_->fail_next(SimNetwork::Op::send, 10051);
    ZEBDevice list[2] = {};
    uint16_t count = 2;
    EXPECT_EQ(ZEBQueryDevices(&transport_, list, &count, 3), 10051u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(net_->sockets_open(), 0u);  // the temporary device is closed again
}

TEST_F(Discovery, BadDatagramsAreSkippedAndTheGoodAnswersKept) {
    // Any host on the network can send a damaged or oversized datagram; it must not cost the
    // answers already collected nor end the query.
    module(0, answer(1), 1);
    net_->add_peer({kFirstModule + 1, kModulePort}, [](const Datagram& d, PeerReply& out) {
        out.send(make_bad_crc_reply(sequence_of(d.bytes), answer(2)), 2);
        out.send(make_reply(sequence_of(d.bytes), Bytes(700, 0x55)), 3);  // over 600 bytes
    });
    module(2, answer(3), 30);
    ZEBDevice list[4] = {};
    uint32_t result = 1;
    const uint64_t start = net_->now();
    ASSERT_EQ(query(list, 4, &result), 2);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(list[0].NodeAddress[5], 1);
    EXPECT_EQ(list[1].NodeAddress[5], 3);
    EXPECT_GE(net_->now() - start, 600u);
}

TEST_F(Discovery, AModuleWhoseAnswerArrivesTwiceIsListedOnce) {
    net_->add_peer({kFirstModule, kModulePort}, [](const Datagram& d, PeerReply& out) {
        out.send(make_reply(sequence_of(d.bytes), answer(1)), 1);
        out.send(make_reply(sequence_of(d.bytes), answer(1)), 2);
    });
    module(1, answer(2), 3);
    ZEBDevice list[4] = {};
    uint32_t result = 1;
    ASSERT_EQ(query(list, 4, &result), 2);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(list[0].NodeAddress[5], 1);
    EXPECT_EQ(list[1].NodeAddress[5], 2);
}

TEST_F(Discovery, ListeningEndsAtTheQueryTimeoutAndTakesAnswersUpToIt) {
    // The first answer ends the first wait after 2 ms; listening runs 600 ms from there.
    module(0, answer(1), 2);
    module(1, answer(2), 601);  // 599 ms into listening
    module(2, answer(3), 603);  // 1 ms too late
    ZEBDevice list[4] = {};
    uint32_t result = 1;
    const uint64_t start = net_->now();
    ASSERT_EQ(query(list, 4, &result), 2);
    EXPECT_EQ(list[1].NodeAddress[5], 2);
    EXPECT_EQ(net_->now() - start, 602u);
}

TEST_F(Discovery, NobodyAnsweringCostsOneWaitNotOneASlice) {
    const uint64_t receives = net_->receive_calls();
    const uint64_t start = net_->now();
    ZEBDevice list[1] = {};
    uint32_t result = 1;
    EXPECT_EQ(query(list, 1, &result), 0);
    EXPECT_EQ(net_->now() - start, 620u);  // the first 20 ms wait, then the query time
    // Each wait is a look, a sleep and a look: two waits in all.
    EXPECT_LE(net_->receive_calls() - receives, 4u);
}

TEST_F(Discovery, TheQuerySocketAsksForRoomForAThousandAnswers) {
    ZEBDevice list[1] = {};
    uint32_t result = 1;
    query(list, 1, &result);
    EXPECT_GE(net_->last_receive_buffer(), 1000u * 1024u);
}

TEST_F(Discovery, AThousandAnswersArrivingTogetherAreAllListed) {
    net_->add_peer_range(
        kFirstModule, kFirstModule + 999, kModulePort, [](const Datagram& d, PeerReply& out) {
            for (uint32_t i = 0; i < 1000; ++i) {
                Bytes a = answer(uint8_t(i));
                a[6] = uint8_t(i >> 8);
                out.send_from(kFirstModule + i, make_reply(sequence_of(d.bytes), a), 1 + i % 3);
            }
        });
    std::vector<ZEBDevice> list(1000);
    uint16_t count = 1000;
    EXPECT_EQ(ZEBQueryDevices(&transport_, list.data(), &count, 3), 0u);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(endpoint_of(list[999].Address.Raw).ip & 0xFFFF0000, kFirstModule & 0xFFFF0000);
}

}  // namespace
}  // namespace zebtest
