// Discovery (function codes 5 and 9), addressing by hardware address, and identity blocks.
#include <gtest/gtest.h>

#include <algorithm>

#include "identity.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::ask_one;

Bytes query_item(uint16_t type, const Bytes& data, uint16_t length) {
    Bytes b{0x09, 0x00};
    put_u16(b, type);
    put_u16(b, length);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes by_number(uint32_t n) {
    Bytes data;
    put_u32(data, n);
    return query_item(kQueryByNumber, data, 4);
}

Bytes by_name(const std::string& name) {
    Bytes data(256, 0);  // the name followed by zeros, as a host sends it
    std::copy(name.begin(), name.end(), data.begin());
    return query_item(kQueryByName, data, 256);
}

std::vector<uint32_t> senders(const std::vector<test::Reply>& replies) {
    std::vector<uint32_t> ips;
    for (const auto& r : replies) ips.push_back(r.from_ip);
    return ips;
}

TEST(Discovery, BroadcastQueryIsAnsweredByEveryModule) {
    Rack rack = test::three_modules();
    const auto replies = ask(rack, kBroadcastIp, {0x05}, 41);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(senders(replies),
              (std::vector<uint32_t>{test::kModuleA, test::kModuleB, test::kModuleC}));
    for (size_t i = 0; i < replies.size(); ++i) {
        const test::Reply& r = replies[i];
        EXPECT_EQ(r.sequence, 41);
        ASSERT_GE(r.payload.size(), 9u);
        EXPECT_EQ(r.payload[0], 0x55);
        EXPECT_EQ(r.payload[1], 0xAA);
        EXPECT_TRUE(std::equal(r.payload.begin() + 2, r.payload.begin() + 8,
                               rack.module(i).identity.hw.begin()));
        EXPECT_EQ(r.payload[8], 0);  // not broadcast-only
    }
}

TEST(Discovery, LoopbackBroadcastAddressCountsAsBroadcast) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask(rack, 0x7FFFFFFF, {0x05}).size(), 3u);
}

TEST(Discovery, DirectedQueryIsAnsweredByThatModuleOnly) {
    Rack rack = test::three_modules();
    const auto replies = ask(rack, test::kModuleB, {0x05});
    EXPECT_EQ(senders(replies), std::vector<uint32_t>{test::kModuleB});
}

TEST(Discovery, ByNumberOnlyTheMatchingModuleAnswers) {
    Rack rack = test::three_modules();
    EXPECT_EQ(senders(ask(rack, kBroadcastIp, by_number(2))),
              std::vector<uint32_t>{test::kModuleB});
    EXPECT_TRUE(ask(rack, kBroadcastIp, by_number(9)).empty());
    // Two modules with one number both answer, in rack order.
    rack.module(2).set_number(2);
    EXPECT_EQ(senders(ask(rack, kBroadcastIp, by_number(2))),
              (std::vector<uint32_t>{test::kModuleB, test::kModuleC}));
}

TEST(Discovery, ByNameComparesTheWholeName) {
    Rack rack = test::three_modules();
    EXPECT_EQ(senders(ask(rack, kBroadcastIp, by_name("gamma"))),
              std::vector<uint32_t>{test::kModuleC});
    EXPECT_TRUE(ask(rack, kBroadcastIp, by_name("gam")).empty());
    EXPECT_TRUE(ask(rack, kBroadcastIp, by_name("gammas")).empty());
    EXPECT_TRUE(ask(rack, kBroadcastIp, by_name("Gamma")).empty());
    // A name without a terminating zero inside the item still compares by the item's length.
    EXPECT_EQ(ask(rack, kBroadcastIp, query_item(kQueryByName, {'b', 'e', 't', 'a'}, 4)).size(),
              1u);
}

TEST(Discovery, MalformedOrUnknownItemsGetNoAnswer) {
    Rack rack = test::three_modules();
    EXPECT_TRUE(ask(rack, kBroadcastIp, query_item(0x33, {1, 0, 0, 0}, 4)).empty());
    // The item claims more data than the request holds.
    EXPECT_TRUE(ask(rack, kBroadcastIp, query_item(kQueryByNumber, {1, 0, 0, 0}, 40)).empty());
    EXPECT_TRUE(ask(rack, kBroadcastIp, {0x09, 0x00, 0x20}).empty());
}

TEST(Discovery, BroadcastOnlyIsSaidInTheAnswer) {
    Rack rack = test::three_modules();
    rack.module(1).faults.broadcast_only = true;
    const auto replies = ask(rack, kBroadcastIp, {0x05});
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].payload[8], 0);
    EXPECT_EQ(replies[1].payload[8], 1);
}

TEST(ExtendedHeader, OnlyTheOwnerOfTheHardwareAddressAnswers) {
    Rack rack = test::three_modules();
    const HwAddress hw = rack.module(1).identity.hw;
    const Bytes frame = make_request(12, {0x04}, true, "", &hw);
    auto out = rack.handle(kBroadcastIp, frame.data(), frame.size());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].from_ip, test::kModuleB);
    const test::Reply r = test::decode(out[0]);
    EXPECT_EQ(r.payload[2], kKindQxRio);  // payload at byte 9: no extension in replies
    EXPECT_EQ(r.sequence, 12);

    // Addressed to module A's IP but naming B's hardware address: nobody.
    EXPECT_TRUE(rack.handle(test::kModuleA, frame.data(), frame.size()).empty());
    const HwAddress stranger{9, 9, 9, 9, 9, 9};
    const Bytes lost = make_request(13, {0x04}, true, "", &stranger);
    EXPECT_TRUE(rack.handle(kBroadcastIp, lost.data(), lost.size()).empty());
}

TEST(ExtendedHeader, WorksUnderAKey) {
    Rack rack = test::three_modules();
    rack.settings().key = "xy";
    const HwAddress hw = rack.module(2).identity.hw;
    const Bytes frame = make_request(12, {0x05}, true, "xy", &hw);
    auto out = rack.handle(kBroadcastIp, frame.data(), frame.size());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].from_ip, test::kModuleC);
}

TEST(Identity, DeviceDefinitionCarriesTheKindInByteTwo) {
    Rack rack = test::three_modules();
    const test::Reply a = ask_one(rack, test::kModuleA, {0x04});
    ASSERT_EQ(a.payload.size(), 42u);  // exactly what hosts read: longer counts as an error
    EXPECT_EQ(a.payload[2], 0);
    const test::Reply c = ask_one(rack, test::kModuleC, {0x04});
    ASSERT_EQ(c.payload.size(), 42u);
    EXPECT_EQ(c.payload[2], 6);
}

TEST(Identity, BlocksHaveDefaultsAndCanBeReplaced) {
    Rack rack = test::three_modules();
    EXPECT_FALSE(ask_one(rack, test::kModuleA, {0x01}).payload.empty());
    const Bytes support = ask_one(rack, test::kModuleA, {0x02}).payload;
    ASSERT_EQ(support.size(), 32u);
    EXPECT_TRUE(support[0x07 / 8] & (1 << (0x07 % 8)));   // read IO is served
    EXPECT_TRUE(support[0x61 / 8] & (1 << (0x61 % 8)));   // write configuration too
    EXPECT_TRUE(support[0x24 / 8] & (1 << (0x24 % 8)));   // memory as well
    EXPECT_FALSE(support[0x34 / 8] & (1 << (0x34 % 8)));  // controller services are not played

    rack.module(0).identity.version_block = {3, 1, 4};
    rack.module(0).identity.device_def = Bytes(50, 0xEE);
    EXPECT_EQ(ask_one(rack, test::kModuleA, {0x01}).payload, (Bytes{3, 1, 4}));
    EXPECT_EQ(ask_one(rack, test::kModuleA, {0x04}).payload, Bytes(50, 0xEE));
}

TEST(Identity, CountersFollowRequests) {
    Rack rack = test::three_modules();
    ask(rack, test::kModuleA, {0x04});
    ask(rack, test::kModuleA, {0x04});
    ask(rack, test::kModuleA, {0x01});
    const Counters& c = rack.module(0).counters;
    EXPECT_EQ(c.requests, 3u);
    EXPECT_EQ(c.answered, 3u);
    EXPECT_EQ(c.by_function.at(0x04), 2u);
    EXPECT_EQ(c.by_function.at(0x01), 1u);
}

}  // namespace
}  // namespace racksim
