// Framing: what a module accepts, and the shape of its replies.
#include "frame.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::ask_one;
using test::kModuleA;

TEST(Frame, BuildsTheKnownDiscoveryQuery) {
    const Bytes frame = make_request(1, {0x05}, true);
    EXPECT_EQ(frame, (Bytes{'Z', 'Q', 'K', 0x01, 0x00, 0xA5, 0x50, 0x01, 0x00, 0x05}));
}

TEST(Frame, ReplyCarriesSequenceCrcAndLength) {
    const Bytes reply = make_reply(0x1234, {'a', 'b', 'c'}, true);
    EXPECT_EQ(reply, (Bytes{'Z', 'Q', 'K', 0x34, 0x12, 0xD6, 0x9D, 0x03, 0x00, 'a', 'b', 'c'}));
    const Bytes plain = make_reply(1, {'a'}, false);
    EXPECT_EQ(plain[5], 0);
    EXPECT_EQ(plain[6], 0);
}

TEST(Frame, DropsWhatCannotBeARequest) {
    std::string why;
    const Bytes good = make_request(3, {0x01}, true);
    EXPECT_TRUE(parse_request(good.data(), good.size(), "", &why));

    EXPECT_FALSE(parse_request(good.data(), 8, "", &why));  // shorter than a header
    Bytes magic = good;
    magic[2] = 'X';
    EXPECT_FALSE(parse_request(magic.data(), magic.size(), "", &why));
    Bytes longer = good;
    longer.push_back(0);  // length field now disagrees
    EXPECT_FALSE(parse_request(longer.data(), longer.size(), "", &why));
    EXPECT_EQ(why, "length field disagrees with datagram");
    const Bytes empty = make_request(3, {}, true);  // no function code
    EXPECT_FALSE(parse_request(empty.data(), empty.size(), "", &why));
}

TEST(Frame, ChecksTheCrcUnlessItIsZero) {
    std::string why;
    Bytes frame = make_request(3, {0x07, 0xB1}, true);
    frame[10] ^= 0x01;  // damaged payload
    EXPECT_FALSE(parse_request(frame.data(), frame.size(), "", &why));
    EXPECT_EQ(why, "bad CRC");
    Bytes no_crc = make_request(3, {0x07, 0xB1}, false);
    no_crc[10] ^= 0x01;  // nobody can tell: accepted
    EXPECT_TRUE(parse_request(no_crc.data(), no_crc.size(), "", &why));
}

TEST(Frame, KeyCoversBytesFromFiveOnward) {
    const std::string key = "k7";
    const Bytes clear = make_request(9, {0x04}, true);
    const Bytes keyed = make_request(9, {0x04}, true, key);
    ASSERT_EQ(clear.size(), keyed.size());
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(clear[i], keyed[i]) << i;  // magic, sequence
    for (size_t i = 5; i < clear.size(); ++i) {
        EXPECT_EQ(keyed[i], clear[i] ^ static_cast<uint8_t>(key[(i - 5) % 2])) << i;
    }
    std::string why;
    const auto req = parse_request(keyed.data(), keyed.size(), key, &why);
    ASSERT_TRUE(req);
    EXPECT_EQ(req->payload, Bytes{0x04});
    EXPECT_FALSE(parse_request(keyed.data(), keyed.size(), "", &why));
    EXPECT_FALSE(parse_request(clear.data(), clear.size(), key, &why));
}

TEST(Frame, ExtendedHeaderNamesANode) {
    const HwAddress node{1, 2, 3, 4, 5, 6};
    const Bytes frame = make_request(5, {0x04}, true, "", &node);
    ASSERT_EQ(frame.size(), 17u);
    EXPECT_EQ(get_u16(&frame[7]), 8);  // the length counts the extension
    std::string why;
    const auto req = parse_request(frame.data(), frame.size(), "", &why);
    ASSERT_TRUE(req);
    EXPECT_TRUE(req->extended);
    EXPECT_EQ(req->node, node);
    EXPECT_EQ(req->payload, Bytes{0x04});

    const Bytes cut = make_request(5, {0x15, 1, 2}, true);  // marker without a whole node
    EXPECT_FALSE(parse_request(cut.data(), cut.size(), "", &why));
}

TEST(Frame, RackAnswersWithTheRequestSequenceAndNeverXors) {
    Rack rack = test::three_modules();
    rack.settings().key = "secret";
    const test::Reply r = ask_one(rack, kModuleA, {0x04}, 0xBEEF);
    EXPECT_EQ(r.magic, "ZQK");
    EXPECT_EQ(r.sequence, 0xBEEF);
    EXPECT_TRUE(r.crc_right);
    EXPECT_TRUE(r.length_right);
    ASSERT_GE(r.payload.size(), 42u);
    EXPECT_EQ(r.payload[2], kKindQxRio);
}

TEST(Frame, RackDropsBadFramesAndCountsThem) {
    Rack rack = test::three_modules();
    std::vector<std::string> lines;
    rack.set_log([&](const std::string& l) { lines.push_back(l); });
    Bytes frame = make_request(2, {0x04}, true);
    frame.back() ^= 0xFF;
    EXPECT_TRUE(rack.handle(test::kModuleA, frame.data(), frame.size()).empty());
    EXPECT_EQ(rack.bad_frames(), 1u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("bad CRC"), std::string::npos);
    EXPECT_EQ(rack.module(0).counters.requests, 0u);
}

TEST(Frame, RackWithCrcOffLeavesTheFieldZero) {
    Rack rack = test::three_modules();
    rack.settings().crc = false;
    const test::Reply r = ask_one(rack, kModuleA, {0x01});
    EXPECT_EQ(r.crc_field, 0);
    EXPECT_FALSE(r.payload.empty());
}

TEST(Frame, UnknownFunctionGetsNonzeroStatus) {
    Rack rack = test::three_modules();
    const test::Reply r = ask_one(rack, kModuleA, {0x70, 1, 2, 3});
    EXPECT_EQ(r.payload, (Bytes{0x01, 0x00}));
}

TEST(Frame, AddressesNoOneElseAndNothingForUnknownAddresses) {
    Rack rack = test::three_modules();
    EXPECT_TRUE(ask(rack, 0x7F000009, {0x01}).empty());
    EXPECT_TRUE(ask(rack, 0x7F000001, {0x01}).empty());
    const auto r = ask(rack, test::kModuleB, {0x01});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].from_ip, test::kModuleB);
    EXPECT_EQ(rack.module(1).counters.answered, 1u);
    EXPECT_EQ(rack.module(0).counters.requests, 0u);
}

}  // namespace
}  // namespace racksim
