// Misbehaviour knobs: each one shapes the replies exactly as configured.
#include <gtest/gtest.h>

#include "core/crc16.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::kModuleA;

TEST(Faults, DropFirstLosesThatManyRequestsThenAnswers) {
    Rack rack = test::three_modules();
    rack.module(0).faults.drop_first = 2;
    EXPECT_TRUE(ask(rack, kModuleA, {0x04}).empty());
    EXPECT_TRUE(ask(rack, kModuleA, {0x04}).empty());
    EXPECT_EQ(ask(rack, kModuleA, {0x04}).size(), 1u);
    const Counters& c = rack.module(0).counters;
    EXPECT_EQ(c.requests, 3u);
    EXPECT_EQ(c.dropped, 2u);
    EXPECT_EQ(c.answered, 1u);
    // Other modules are not affected.
    EXPECT_EQ(ask(rack, test::kModuleB, {0x04}).size(), 1u);
}

TEST(Faults, DroppedRequestsAreNotCarriedOut) {
    Rack rack = test::three_modules();
    rack.module(0).faults.drop_first = 1;
    EXPECT_TRUE(ask(rack, kModuleA, {0x30, 0x03, 0x41, 0xFF, 0xFF}).empty());
    EXPECT_EQ(rack.module(0).slot(3).io.bit_out, Bytes{0});
}

std::vector<bool> drop_pattern(double fraction, uint64_t seed, int n) {
    Rack rack = test::three_modules();
    rack.module(0).faults.drop_fraction = fraction;
    rack.module(0).faults.rng_state = seed;
    std::vector<bool> dropped;
    for (int i = 0; i < n; ++i) dropped.push_back(ask(rack, kModuleA, {0x01}).empty());
    return dropped;
}

TEST(Faults, DropFractionIsDeterministicPerSeed) {
    const auto a = drop_pattern(0.3, 42, 1000);
    EXPECT_EQ(a, drop_pattern(0.3, 42, 1000));
    EXPECT_NE(a, drop_pattern(0.3, 43, 1000));
    const auto lost = std::count(a.begin(), a.end(), true);
    EXPECT_GT(lost, 230);
    EXPECT_LT(lost, 370);
    const auto none = drop_pattern(0.0, 42, 50);
    EXPECT_EQ(std::count(none.begin(), none.end(), true), 0);
    const auto all = drop_pattern(1.0, 42, 50);
    EXPECT_EQ(std::count(all.begin(), all.end(), true), 50);
}

TEST(Faults, SeedComesFromTheFaultsWhenAdded) {
    Rack rack;
    Module m("m", 1);
    m.faults.seed = 99;
    m.faults.drop_fraction = 0.5;
    EXPECT_EQ(rack.add_module(std::move(m)).faults.rng_state, 99u);
}

TEST(Faults, DelayIsCarriedOnEveryReply) {
    Rack rack = test::three_modules();
    rack.module(0).faults.delay_ms = 150;
    const auto r = ask(rack, kModuleA, {0x07});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].delay_ms, 150u);
    EXPECT_EQ(ask(rack, test::kModuleB, {0x07}).at(0).delay_ms, 0u);
}

TEST(Faults, CorruptCrcIsWrongAndNeverZero) {
    Rack rack = test::three_modules();
    rack.module(0).faults.corrupt_crc = true;
    const auto r = ask(rack, kModuleA, {0x04});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FALSE(r[0].crc_right);
    EXPECT_NE(r[0].crc_field, 0);
    // Also with the rack's CRC off, where a correct reply would carry 0.
    rack.settings().crc = false;
    const auto off = ask(rack, kModuleA, {0x04});
    EXPECT_NE(off.at(0).crc_field, 0);
    EXPECT_FALSE(off.at(0).crc_right);
}

TEST(Faults, StrayPacketWithAnotherSequenceGoesFirst) {
    Rack rack = test::three_modules();
    rack.module(0).faults.stray_before_reply = true;
    const auto r = ask(rack, kModuleA, {0x04}, 10);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].sequence, 9);
    EXPECT_EQ(r[1].sequence, 10);
    EXPECT_EQ(r[0].payload, r[1].payload);
    EXPECT_EQ(ask(rack, kModuleA, {0x04}, 1).at(0).sequence, 0xFFFF);  // never 0
}

TEST(Faults, AnswerTwiceSendsEachReplyTwice) {
    Rack rack = test::three_modules();
    rack.module(0).faults.answer_twice = true;
    const auto r = ask(rack, kModuleA, {0x07});
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].payload, r[1].payload);
    EXPECT_EQ(r[0].sequence, r[1].sequence);
    // A two-reply request: acknowledgement twice, then the final reply twice.
    const auto two = ask(rack, kModuleA, {0x0F, 0x00, 0x00, 0x00});
    ASSERT_EQ(two.size(), 4u);
    EXPECT_EQ(two[1].payload, (Bytes{0x0F, 0x00}));
    EXPECT_EQ(two[2].payload, (Bytes{0x00, 0x00}));
}

TEST(Faults, MagicZqq) {
    Rack rack = test::three_modules();
    rack.module(1).faults.magic_zqq = true;
    const auto r = ask(rack, kBroadcastIp, {0x05});
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].magic, "ZQK");
    EXPECT_EQ(r[1].magic, "ZQQ");
    EXPECT_TRUE(r[1].crc_right);
}

TEST(Faults, FaultsOfAFunctionCodeStandInForTheModuleFaults) {
    Rack rack = test::three_modules();
    Module& m = rack.module(0);
    m.faults.delay_ms = 30;
    Faults io = m.faults;
    io.drop_first = 1;
    m.faults_by_function[0x07] = io;  // read I/O: late, and the first one lost
    m.faults_by_function[0x01] = {};  // version block: no fault at all
    EXPECT_TRUE(ask(rack, kModuleA, {0x07}).empty());
    EXPECT_EQ(ask(rack, kModuleA, {0x07}).at(0).delay_ms, 30u);
    EXPECT_EQ(ask(rack, kModuleA, {0x01}).at(0).delay_ms, 0u);
    EXPECT_EQ(ask(rack, kModuleA, {0x04}).at(0).delay_ms, 30u);  // the module's faults
    EXPECT_EQ(m.faults.drop_first, 0u);  // the loss was counted down on the function's entry
    EXPECT_EQ(m.counters.dropped, 1u);
}

TEST(Faults, HandlersSeeTheFaultsOfTheirFunctionCode) {
    Rack rack = test::three_modules();
    Module& m = rack.module(0);
    m.faults_by_function[0x05].broadcast_only = true;
    m.faults_by_function[0x0F].final_delay_ms = 500;
    EXPECT_EQ(ask(rack, kModuleA, {0x05}).at(0).payload.at(8), 1);
    // Discovery by number (0x09) has no entry: the module's faults say "not broadcast-only".
    Bytes by_number{0x09, 0x00, 0x20, 0x00, 0x04, 0x00};
    put_u32(by_number, m.number());
    EXPECT_EQ(ask(rack, kModuleA, by_number).at(0).payload.at(8), 0);
    const auto write = ask(rack, kModuleA, {0x0F, 0x00, 0x00, 0x00});
    ASSERT_EQ(write.size(), 2u);
    EXPECT_EQ(write[0].delay_ms, 0u);
    EXPECT_EQ(write[1].delay_ms, 500u);
}

TEST(Faults, EveryFaultEntryGetsItsOwnDropGenerator) {
    Rack rack;
    Module m("m", 1);
    m.faults.seed = 5;
    m.faults_by_function[0x07].seed = 6;
    Module& added = rack.add_module(std::move(m));
    EXPECT_EQ(added.faults.rng_state, 5u);
    EXPECT_EQ(added.faults_by_function.at(0x07).rng_state, 6u);
}

TEST(Faults, LogNamesTheModuleFunctionAndFaults) {
    Rack rack = test::three_modules();
    std::vector<std::string> lines;
    rack.set_log([&](const std::string& l) { lines.push_back(l); });
    rack.module(0).faults.drop_first = 1;
    ask(rack, kModuleA, {0x07});
    rack.module(0).faults.delay_ms = 20;
    ask(rack, kModuleA, {0x06, 0x03, 0x41, 0x05, 0xFF});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("alpha (127.0.0.2) fn 0x07 dropped"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("slot 3 bit outputs 05"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("late 20 ms"), std::string::npos) << lines[1];
}

}  // namespace
}  // namespace racksim
