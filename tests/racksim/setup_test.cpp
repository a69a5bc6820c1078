// The setup-data store (function codes 0x0A to 0x0D), and discovery by its records.
#include <gtest/gtest.h>

#include <algorithm>

#include "functions.h"
#include "identity.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::ask_one;
using test::kModuleA;

Bytes request(uint8_t code, uint16_t type, const Bytes& data = {}) {
    Bytes b{code, 0x00};
    put_u16(b, type);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes read_rq(uint16_t type) {
    return request(0x0B, type);
}

// A write or delete: the acknowledgement, then the final status word.
uint16_t change(Rack& rack, const Bytes& rq, uint32_t to = kModuleA) {
    const auto replies = ask(rack, to, rq);
    if (replies.size() != 2) {
        ADD_FAILURE() << replies.size() << " replies";
        return 0xFFFF;
    }
    EXPECT_EQ(replies[0].payload, (Bytes{rq[0], 0x00})) << "the acknowledgement";
    EXPECT_NE(replies[1].payload, replies[0].payload) << "a host would take it for a duplicate";
    EXPECT_EQ(replies[1].payload.size(), 2u);
    return replies[1].status();
}

Bytes listed(Rack& rack, uint32_t to = kModuleA) {
    const test::Reply r = ask_one(rack, to, {0x0A});
    EXPECT_EQ(r.status(), kStatusOk);
    return r.after_status();
}

Bytes query_item(uint16_t type, const Bytes& data) {
    Bytes b{0x09, 0x00};
    put_u16(b, type);
    put_u16(b, static_cast<uint16_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// Which modules answer a broadcast search by (type, data), by address.
std::vector<uint32_t> found(Rack& rack, uint16_t type, const Bytes& data) {
    std::vector<uint32_t> ips;
    for (const auto& r : ask(rack, kBroadcastIp, query_item(type, data))) ips.push_back(r.from_ip);
    return ips;
}

Bytes text(const std::string& s, size_t padded_to = 0) {
    Bytes b(s.begin(), s.end());
    if (b.size() < padded_to) b.resize(padded_to, 0);
    return b;
}

Bytes ok(const Bytes& data) {
    return test::concat({Bytes{0, 0}, data});
}

TEST(SetupStore, NameAndNumberAreRecordsTheNumberInSixteenBitsWhenItFits) {
    Rack rack = test::three_modules();
    EXPECT_EQ(listed(rack), (Bytes{2, 0, 0x16, 0x00, 0x20, 0x00}));
    EXPECT_EQ(ask_one(rack, kModuleA, read_rq(0x16)).payload, ok(text("alpha")));
    // A node list reads the number with room for 16 bits.
    EXPECT_EQ(ask_one(rack, kModuleA, read_rq(0x20)).payload, ok({1, 0}));
    rack.module(1).set_number(70000);
    EXPECT_EQ(ask_one(rack, test::kModuleB, read_rq(0x20)).payload, ok({0x70, 0x11, 0x01, 0x00}));
    EXPECT_EQ(rack.module(1).number(), 70000u);
}

TEST(SetupStore, WritesAreAcknowledgedThenAnsweredAndReadBack) {
    Rack rack = test::three_modules();
    rack.module(0).faults.final_delay_ms = 40;
    const auto replies = ask(rack, kModuleA, request(0x0C, 0x0300, {1, 2, 3}));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].delay_ms - replies[0].delay_ms, 40u);
    EXPECT_EQ(replies[1].payload, (Bytes{0, 0}));
    EXPECT_EQ(ask_one(rack, kModuleA, read_rq(0x0300)).payload, ok({1, 2, 3}));
    // Types are listed in order; a write replaces a record of its type; a record may be empty.
    EXPECT_EQ(change(rack, request(0x0C, 0x0040, {})), kStatusOk);
    EXPECT_EQ(change(rack, request(0x0C, 0x0300, {9})), kStatusOk);
    EXPECT_EQ(listed(rack), (Bytes{4, 0, 0x16, 0, 0x20, 0, 0x40, 0, 0x00, 0x03}));
    EXPECT_EQ(ask_one(rack, kModuleA, read_rq(0x0300)).payload, ok({9}));
    EXPECT_EQ(ask_one(rack, kModuleA, read_rq(0x0040)).payload, ok({}));
    // Other modules' stores are their own.
    EXPECT_EQ(listed(rack, test::kModuleB), (Bytes{2, 0, 0x16, 0x00, 0x20, 0x00}));
}

TEST(SetupStore, MissingTypesAreRefusedOnReadAndDelete) {
    Rack rack = test::three_modules();
    const test::Reply missing = ask_one(rack, kModuleA, read_rq(0x99));
    EXPECT_EQ(missing.payload, (Bytes{0x01, 0x81}));  // status 0x8101 and no record
    EXPECT_EQ(change(rack, request(0x0D, 0x99)), kStatusNoSuchRecord);
    EXPECT_EQ(change(rack, request(0x0C, 0x99, {5})), kStatusOk);
    EXPECT_EQ(change(rack, request(0x0D, 0x99)), kStatusOk);
    EXPECT_EQ(ask_one(rack, kModuleA, read_rq(0x99)).status(), kStatusNoSuchRecord);
    EXPECT_EQ(change(rack, request(0x0D, 0x99)), kStatusNoSuchRecord);
}

TEST(SetupStore, HoldsOnlyWhatAHostCanReadBack) {
    Rack rack = test::three_modules();
    // The largest record fills a host's 600-byte reply exactly.
    EXPECT_EQ(change(rack, request(0x0C, 0x50, Bytes(589, 0xAB))), kStatusOk);
    const auto big = ask(rack, kModuleA, read_rq(0x50));
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].payload.size() + kHeaderSize, 600u);
    EXPECT_EQ(change(rack, request(0x0C, 0x50, Bytes(590, 0xCD))), kStatusRecordTooLarge);
    EXPECT_EQ(ask_one(rack, kModuleA, read_rq(0x50)).after_status(), Bytes(589, 0xAB));

    // As many types as a list in 600 bytes can name; then only known types can be written.
    for (uint16_t t = 0x100; rack.module(0).setup.size() < 293; ++t) {
        ASSERT_EQ(change(rack, request(0x0C, t, {1})), kStatusOk) << t;
    }
    EXPECT_EQ(change(rack, request(0x0C, 0x7777, {1})), kStatusStoreFull);
    EXPECT_EQ(change(rack, request(0x0C, 0x100, {2})), kStatusOk);
    const auto list = ask(rack, kModuleA, {0x0A});
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(test::u16_at(list[0].payload, 2), 293u);
    EXPECT_LE(list[0].payload.size() + kHeaderSize, 600u);
}

TEST(SetupStore, RequestsTooShortToNameATypeAreRefused) {
    Rack rack = test::three_modules();
    for (const Bytes& rq : {Bytes{0x0B}, Bytes{0x0B, 0x00}, Bytes{0x0B, 0x00, 0x16}}) {
        EXPECT_EQ(ask_one(rack, kModuleA, rq).payload, (Bytes{0x04, 0x81}));
    }
    EXPECT_EQ(change(rack, {0x0C, 0x00, 0x16}), kStatusShortRequest);
    EXPECT_EQ(change(rack, {0x0D}), kStatusShortRequest);
    EXPECT_EQ(rack.module(0).name(), "alpha");
}

TEST(SetupStore, NameAndNumberWrittenByAHostAreWhatTheModuleSays) {
    Rack rack = test::three_modules();
    EXPECT_EQ(change(rack, request(0x0C, 0x16, text("renamed"))), kStatusOk);
    EXPECT_EQ(found(rack, 0x16, text("renamed", 256)), std::vector<uint32_t>{kModuleA});
    EXPECT_TRUE(found(rack, 0x16, text("alpha", 256)).empty());
    const Bytes def = ask_one(rack, kModuleA, {0x04}).payload;
    ASSERT_EQ(def.size(), 42u);
    EXPECT_EQ(std::string(def.begin() + 14, def.begin() + 21), "renamed");
    EXPECT_EQ(def[21], 0);

    // A 32-bit number written; searches of any width find it by its value.
    EXPECT_EQ(change(rack, request(0x0C, 0x20, {9, 0, 0, 0})), kStatusOk);
    EXPECT_EQ(test::u32_at(def, 4), 1u);
    EXPECT_EQ(test::u32_at(ask_one(rack, kModuleA, {0x04}).payload, 4), 9u);
    EXPECT_EQ(found(rack, 0x20, {9, 0, 0, 0}), std::vector<uint32_t>{kModuleA});
    EXPECT_EQ(found(rack, 0x20, {9, 0}), std::vector<uint32_t>{kModuleA});
    EXPECT_TRUE(found(rack, 0x20, {9, 0, 0, 1}).empty());

    // Without a name record the module has no name, and no search by name finds it.
    EXPECT_EQ(change(rack, request(0x0D, 0x16)), kStatusOk);
    EXPECT_EQ(rack.module(0).name(), "");
    EXPECT_TRUE(found(rack, 0x16, text("renamed", 256)).empty());
    EXPECT_TRUE(found(rack, 0x16, Bytes(256, 0)).empty());
}

TEST(SetupStore, DiscoveryFindsAModuleByAnyOfItsRecords) {
    Rack rack = test::three_modules();
    ASSERT_EQ(change(rack, request(0x0C, 0x30, text("line-A"))), kStatusOk);
    ASSERT_EQ(change(rack, request(0x0C, 0x30, text("line-B")), test::kModuleC), kStatusOk);
    EXPECT_EQ(found(rack, 0x30, text("line-A")), std::vector<uint32_t>{kModuleA});
    EXPECT_EQ(found(rack, 0x30, text("line-B", 64)), std::vector<uint32_t>{test::kModuleC});
    EXPECT_TRUE(found(rack, 0x30, text("line-")).empty());
    EXPECT_TRUE(found(rack, 0x31, text("line-A")).empty());

    // Numbers compare by value whatever their width; 16-bit records hold modules 1 to 3.
    EXPECT_EQ(found(rack, 0x20, {2, 0, 0, 0}), std::vector<uint32_t>{test::kModuleB});
    EXPECT_EQ(found(rack, 0x20, {2}), std::vector<uint32_t>{test::kModuleB});
    EXPECT_EQ(found(rack, 0x20, {2, 0, 0, 0, 0, 0, 0, 0}), std::vector<uint32_t>{test::kModuleB});
    EXPECT_TRUE(found(rack, 0x20, {2, 0, 1, 0}).empty());
    EXPECT_TRUE(found(rack, 0x20, {0, 2}).empty());

    // A name compares up to the first zero byte on either side.
    EXPECT_EQ(found(rack, 0x16, test::concat({text("gamma"), Bytes{0, 'x', 'y'}})),
              std::vector<uint32_t>{test::kModuleC});
    ASSERT_EQ(change(rack, request(0x0C, 0x16, text("beta", 20)), test::kModuleB), kStatusOk);
    EXPECT_EQ(found(rack, 0x16, text("beta")), std::vector<uint32_t>{test::kModuleB});
    EXPECT_TRUE(found(rack, 0x16, text("bet")).empty());
}

}  // namespace
}  // namespace racksim
