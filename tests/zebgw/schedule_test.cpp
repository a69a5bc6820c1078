// The schedule that does not drift and the report-by-exception rule.
#include "schedule.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zebgw
