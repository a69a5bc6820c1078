// Base definition: reading in both item formats, writing (two replies), init and rescan.
#include "base_def.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::ask_one;
using test::kModuleA;

const Bytes kAlphaCompact = {
    0x00, 0x14, 0x01, 0x23, 16, 0, 0, 0,  // slot 0: kind 1, 16 bit inputs
    0x01, 0x14, 0x01, 0x22, 8,  0, 0, 0,  // slot 1: 8 bit inputs
    0x03, 0x14, 0x01, 0x24, 0,  8, 0, 0,  // slot 3: 8 bit outputs
    0x04, 0x14, 0x01, 0x30, 0,  0, 4, 4,  // slot 4: 4 words in and out
    0x05, 0x14, 0x03, 0x40, 0,  0, 2, 2,  // slot 5: kind 3, 2 32-bit in and out
};

Bytes write_request(const Bytes& def) {
    Bytes b(4 + def.size());
    b[0] = 0x0F;
    b[2] = static_cast<uint8_t>(def.size());
    b[3] = static_cast<uint8_t>(def.size() >> 8);
    std::copy(def.begin(), def.end(), b.begin() + 4);
    return b;
}

TEST(BaseDef, CompactFormat) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask_one(rack, kModuleA, {0x08}).payload, kAlphaCompact);
}

TEST(BaseDef, ExtendedFormatStartsWithSwitchAndEndsWithF0) {
    Rack rack = test::three_modules();
    const Bytes expected = {
        0xB1, 0x00,                                       //
        0x00, 0x00, 0x01, 0x04, 0x01, 0x23, 16, 0, 0, 0,  //
        0x00, 0x01, 0x01, 0x04, 0x01, 0x22, 8,  0, 0, 0,  //
        0x00, 0x03, 0x01, 0x04, 0x01, 0x24, 0,  8, 0, 0,  //
        0x00, 0x04, 0x01, 0x04, 0x01, 0x30, 0,  0, 4, 4,  //
        0x00, 0x05, 0x01, 0x04, 0x03, 0x40, 0,  0, 2, 2,  //
        0xF0,
    };
    EXPECT_EQ(ask_one(rack, kModuleA, {0x08, 0xB1}).payload, expected);
}

TEST(BaseDef, EncodesEveryRecordKind) {
    Module m("m", 1);
    m.base.base_slots = 32;
    m.add_slot(0, SlotRecord::full(0x11, {1, 2, 3, 4, 5, 6}));
    m.add_slot(1, SlotRecord::paired(0x12, {{5, 4}, {6, 2}}));
    m.add_slot(2, SlotRecord::no_io(0x13));
    m.add_slot(20, SlotRecord::basic(0x14, 8, 0, 0, 0));
    EXPECT_EQ(m.slot(1).counts(), (IoCounts{0, 0, 4, 2, 0, 0}));
    const Bytes expected = {
        0x00, 0x16, 0x05, 0x11, 1,    2,    3,    4,    5, 6,        // kind 5: 8 bytes
        0x01, 0x15, 0x07, 0x12, 2,    5,    4,    6,    2,           // kind 7: 7 bytes
        0x02, 0x10, 0xFF, 0x13,                                      // kind 255: 2 bytes
        0xB1, 0x00, 0x00, 20,   0x01, 0x04, 0x01, 0x14, 8, 0, 0, 0,  // slot 20 needs the switch
        0xF0,
    };
    EXPECT_EQ(encode_base_def(m, false), expected);
}

TEST(BaseDef, KindSevenPairsOfOtherTypesSetNothing) {
    const SlotRecord r = SlotRecord::paired(1, {{7, 9}, {3, 5}, {2, 4}, {3, 6}});
    EXPECT_EQ(r.counts, (IoCounts{6, 0, 0, 0, 0, 0}));
}

TEST(BaseDefWrite, AcknowledgesThenAdoptsAndReportsStatusZero) {
    Rack rack = test::three_modules();
    const Bytes def = {0x02, 0x14, 0x01, 0x55, 0, 12, 0, 0,  // slot 2: 12 bit outputs
                       0x06, 0x10, 0xFF, 0x56};              // slot 6: no I/O
    const auto replies = ask(rack, kModuleA, write_request(def), 77);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].payload, (Bytes{0x0F, 0x00}));
    EXPECT_EQ(replies[1].payload, (Bytes{0x00, 0x00}));
    EXPECT_EQ(replies[0].sequence, 77);
    EXPECT_EQ(replies[1].sequence, 77);

    EXPECT_EQ(ask_one(rack, kModuleA, {0x08}).payload, def);
    const Module& m = rack.module(0);
    ASSERT_EQ(m.base.slots.size(), 2u);
    EXPECT_EQ(m.slot(2).io.bit_out.size(), 2u);
}

TEST(BaseDefWrite, AcceptsTheExtendedFormat) {
    Rack rack = test::three_modules();
    const Bytes def = {
        0xB1, 0x00, 0x00, 0x07, 0x01, 0x04, 0x01, 0x60, 4, 4, 0, 0,
        0xF0, 0x00, 0x01, 0x01, 0x04, 0x01, 0x61, 1,    1, 0, 0};  // after F0: ignored
    const auto replies = ask(rack, kModuleA, write_request(def));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].status(), 0);
    ASSERT_EQ(rack.module(0).base.slots.size(), 1u);
    EXPECT_EQ(rack.module(0).slot(7).counts(), (IoCounts{4, 4, 0, 0, 0, 0}));
}

// The switch item carries data only in the compact format that it leaves: a host writes it once,
// as 0xB1 0x00, and a module takes one met again later for its header alone.
TEST(BaseDefWrite, ASwitchInTheExtendedFormatIsAHeaderAlone) {
    Rack rack = test::three_modules();
    const Bytes def = {0xB1, 0x00, 0x00, 0x01, 0x0B, 0x02, 0x00, 0x02, 0x01,
                       0x04, 0x01, 0x62, 8,    0,    0,    0,    0xF0};
    ASSERT_EQ(ask(rack, kModuleA, write_request(def)).at(1).status(), 0);
    ASSERT_EQ(rack.module(0).base.slots.size(), 1u);
    EXPECT_EQ(rack.module(0).slot(2).counts(), (IoCounts{8, 0, 0, 0, 0, 0}));
}

TEST(BaseDefWrite, RefusesBadDefinitionsAndKeepsTheOldOne) {
    const std::vector<std::pair<const char*, Bytes>> bad = {
        {"slot outside the base", {0x08, 0x14, 0x01, 0x55, 1, 0, 0, 0}},
        {"record before a slot", {0x14, 0x01, 0x55, 1, 0, 0, 0}},
        {"record cut short", {0x00, 0x14, 0x01, 0x55, 1}},
        {"record too short for its kind", {0x00, 0x12, 0x01, 0x55, 1, 0}},
        {"too many pairs",
         {0x00, 0x1F, 0x07, 0x55, 8, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3, 1, 3}},
    };
    for (const auto& [what, def] : bad) {
        Rack rack = test::three_modules();
        const auto replies = ask(rack, kModuleA, write_request(def));
        ASSERT_EQ(replies.size(), 2u) << what;
        EXPECT_EQ(replies[0].payload, (Bytes{0x0F, 0x00})) << what;
        EXPECT_NE(replies[1].status(), 0) << what;
        EXPECT_EQ(ask_one(rack, kModuleA, {0x08}).payload, kAlphaCompact) << what;
    }
}

TEST(BaseDefWrite, RefusesALengthBeyondTheData) {
    Rack rack = test::three_modules();
    Bytes req = write_request({0x00, 0x10, 0xFF, 0x01});
    req[2] = 200;  // claims 200 bytes
    const auto replies = ask(rack, kModuleA, req);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_NE(replies[1].status(), 0);
    const auto cut = ask(rack, kModuleA, {0x0F, 0x00, 0x01});  // no room for the length
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_NE(cut[1].status(), 0);
    EXPECT_EQ(rack.module(0).base.slots.size(), 5u);
}

TEST(BaseDefWrite, UnknownRecordKindLeavesTheSlotEmpty) {
    Rack rack = test::three_modules();
    const Bytes def = {0x00, 0x10, 0xFF, 0x01, 0x01, 0x10, 0x09, 0x01};
    const auto replies = ask(rack, kModuleA, write_request(def));
    EXPECT_EQ(replies.at(1).status(), 0);
    EXPECT_EQ(rack.module(0).base.slots.size(), 1u);
    EXPECT_TRUE(rack.module(0).base.slots.count(0));
}

TEST(BaseDefWrite, KeepsImagesOfSlotsWhoseCountsDidNotChange) {
    Rack rack = test::three_modules();
    Module& m = rack.module(0);
    m.slot(4).io.word_in = {1, 2, 3, 4};
    m.slot(3).io.bit_out = {0xFF};
    m.slot(4).behaviour.counter = true;
    const Bytes def = {0x03, 0x14, 0x01, 0x24, 0, 4, 0, 0,   // slot 3 now 4 bit outputs
                       0x04, 0x14, 0x01, 0x99, 0, 0, 4, 4};  // slot 4 unchanged counts
    ASSERT_EQ(ask(rack, kModuleA, write_request(def)).at(1).status(), 0);
    EXPECT_EQ(m.slot(4).io.word_in, (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_TRUE(m.slot(4).behaviour.counter);
    EXPECT_EQ(m.slot(4).record.ident, 0x99);
    EXPECT_EQ(m.slot(3).io.bit_out, Bytes{0x00});
}

TEST(BaseDefInit, RestoresTheInstalledBaseAndAnswersIt) {
    Rack rack = test::three_modules();
    ASSERT_EQ(ask(rack, kModuleA, write_request({0x00, 0x10, 0xFF, 0x01})).at(1).status(), 0);
    ASSERT_EQ(rack.module(0).base.slots.size(), 1u);
    EXPECT_EQ(ask_one(rack, kModuleA, {0x18}).payload, kAlphaCompact);
    EXPECT_EQ(rack.module(0).base.slots.size(), 5u);
    EXPECT_EQ(ask_one(rack, kModuleA, {0x18, 0x01, 0x00, 0x00, 0x00}).payload, kAlphaCompact);
}

TEST(BaseDefWrite, FinalReplyMayComeLater) {
    Rack rack = test::three_modules();
    rack.module(0).faults.final_delay_ms = 250;
    const auto replies = ask(rack, kModuleA, write_request({0x00, 0x10, 0xFF, 0x01}));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].delay_ms, 0u);
    EXPECT_EQ(replies[1].delay_ms, 250u);
}

}  // namespace
}  // namespace racksim
