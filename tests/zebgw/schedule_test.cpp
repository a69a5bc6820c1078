// The schedule that does not drift and the report-by-exception rule.
#include "schedule.h"

#include <gtest/gtest.h>

#include "point_names.h"
#include "zeb_points.h"

namespace zebgw {
namespace {

TEST(Schedule, NextCycleKeepsToTheGridAndSkipsWhatPassed) {
    struct Row {
        int64_t due, end, period;
        int64_t next;
        uint64_t missed;
    };
    const Row rows[] = {
        {1000, 1003, 10, 1010, 0},  // ended early: one period after it was due, not after it ended
        {1000, 1010, 10, 1010, 0},  // ended just as the next was due
        {1000, 1011, 10, 1020, 1},  // ran over: the one due at 1010 is skipped
        {1000, 1035, 10, 1040, 3},  // three skipped, none run back to back
        {1000, 1040, 10, 1040, 3},  // the one due as it ended runs now
        {5, 7, 1, 7, 1},
    };
    for (const Row& r : rows) {
        const NextCycle n = next_cycle(r.due, r.end, r.period);
        EXPECT_EQ(n.due, r.next) << r.due << " " << r.end;
        EXPECT_EQ(n.missed, r.missed) << r.due << " " << r.end;
        EXPECT_GE(n.due, r.end);  // never a time already passed
    }
}

TEST(Schedule, DeadbandAppliesToWordsAndDwordsOnly) {
    EXPECT_FALSE(worth_publishing(true, 1, 1, 10));
    EXPECT_TRUE(worth_publishing(true, 0, 1, 10));  // a bit ignores the deadband
    EXPECT_FALSE(worth_publishing(false, 100, 109, 10));
    EXPECT_TRUE(worth_publishing(false, 100, 110, 10));
    EXPECT_TRUE(worth_publishing(false, 110, 100, 10));  // down as well as up
    EXPECT_TRUE(worth_publishing(false, 0, 0xFFFFFFFF, 10));
    EXPECT_TRUE(worth_publishing(false, 5, 6, 0));  // no deadband: every change
}

TEST(Points, ValuesAsTheKindHoldsThem) {
    struct Row {
        uint8_t kind;
        int64_t value;
        std::optional<uint32_t> held;
    };
    const Row rows[] = {
        {ZEB_BIT_OUT, 0, 0u},
        {ZEB_BIT_OUT, 1, 1u},
        {ZEB_BIT_OUT, 2, std::nullopt},
        {ZEB_BIT_OUT, -1, std::nullopt},
        {ZEB_WORD_OUT, 65535, 0xFFFFu},
        {ZEB_WORD_OUT, 65536, std::nullopt},
        {ZEB_WORD_OUT, -1, 0xFFFFu},  // a signed word, as its two's complement
        {ZEB_WORD_OUT, -32768, 0x8000u},
        {ZEB_WORD_OUT, -32769, std::nullopt},
        {ZEB_DWORD_OUT, 4294967295, 0xFFFFFFFFu},
        {ZEB_DWORD_OUT, 4294967296, std::nullopt},
        {ZEB_DWORD_OUT, -2147483648ll, 0x80000000u},
        {ZEB_DWORD_OUT, -2147483649ll, std::nullopt},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(point_value(r.kind, r.value), r.held) << int(r.kind) << " " << r.value;
    }
}

}  // namespace
}  // namespace zebgw
