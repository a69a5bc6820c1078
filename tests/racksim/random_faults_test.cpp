// Random reply faults: each one shapes the replies as it says and is counted by function code,
// so that a host's counters can be compared with what the module did.
#include <gtest/gtest.h>

#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::kModuleA;

constexpr uint8_t kVersion = 0x01;
// A setup-record write: acknowledged first, then answered.
const Bytes kSetupWrite = {0x0C, 0x00, 0x40, 0x00, 0x02, 0x00, 0xAB, 0xCD};

Rack rack_with(void (*set)(Faults&)) {
    Rack rack = test::three_modules();
    set(rack.module(0).faults);
    return rack;
}

const FaultTally& tally(Rack& rack, uint8_t code) {
    return rack.module(0).counters.faults_by_function[code];
}

TEST(RandomFaults, LateAnswersLeaveWholeAndLate) {
    Rack rack = rack_with([](Faults& f) {
        f.late_fraction = 1;
        f.late_ms = 300;
    });
    const auto replies = ask(rack, kModuleA, kSetupWrite);
    ASSERT_EQ(replies.size(), 2u);
    for (const auto& r : replies) EXPECT_GE(r.delay_ms, 300u);
    EXPECT_EQ(tally(rack, 0x0C).late_answers, 1u);
    EXPECT_EQ(tally(rack, 0x0C).late, 2u);
}

TEST(RandomFaults, CorruptionChangesTheLastReplyBehindItsCrc) {
    Rack rack = rack_with([](Faults& f) { f.corrupt_fraction = 1; });
    const auto replies = ask(rack, kModuleA, kSetupWrite);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_TRUE(replies[0].crc_right);
    EXPECT_FALSE(replies[1].crc_right);
    EXPECT_TRUE(replies[1].length_right);
    EXPECT_EQ(tally(rack, 0x0C).corrupted, 1u);
}

TEST(RandomFaults, DuplicatesAndStraysAddOneDatagramPerReply) {
    Rack twice = rack_with([](Faults& f) { f.duplicate_fraction = 1; });
    const auto copies = ask(twice, kModuleA, {kVersion}, 9);
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0].payload, copies[1].payload);
    EXPECT_EQ(tally(twice, kVersion).duplicated, 1u);

    Rack stray = rack_with([](Faults& f) { f.stray_fraction = 1; });
    const auto replies = ask(stray, kModuleA, {kVersion}, 9);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].sequence, 8u);  // another request's number, first
    EXPECT_EQ(replies[1].sequence, 9u);
    EXPECT_EQ(tally(stray, kVersion).strays, 1u);
}

TEST(RandomFaults, RatesHoldRoughlyAndReplayPerSeed) {
    auto run = [](uint64_t seed) {
        Rack rack = test::three_modules();
        Faults& f = rack.module(0).faults;
        f.duplicate_fraction = 0.1;
        f.stray_fraction = 0.05;
        f.corrupt_fraction = 0.02;
        f.rng_state = seed;
        size_t datagrams = 0;
        for (int i = 0; i < 2000; ++i) datagrams += ask(rack, kModuleA, {kVersion}).size();
        return std::make_pair(datagrams, rack.module(0).counters.faults_by_function[kVersion]);
    };
    const auto [datagrams, t] = run(5);
    EXPECT_EQ(datagrams, 2000 + t.duplicated + t.strays);
    EXPECT_NEAR(double(t.duplicated), 200, 60);
    EXPECT_NEAR(double(t.strays), 100, 45);
    EXPECT_NEAR(double(t.corrupted), 40, 25);
    EXPECT_EQ(run(5).first, datagrams);
}

TEST(RandomFaults, DropsAreCountedByFunction) {
    Rack rack = rack_with([](Faults& f) { f.drop_first = 2; });
    ask(rack, kModuleA, {kVersion});
    ask(rack, kModuleA, {0x04});
    EXPECT_EQ(rack.module(0).counters.dropped_by_function[kVersion], 1u);
    EXPECT_EQ(rack.module(0).counters.dropped_by_function[0x04], 1u);
}

}  // namespace
}  // namespace racksim
