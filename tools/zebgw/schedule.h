// The drift-free schedule and the report-by-exception rule, apart from threads and clocks so
// that they can be checked on their own.
#pragma once

#include <cstdint>

namespace zebgw {

struct NextCycle {
    int64_t due;      // when the next cycle is due
    uint64_t missed;  // cycles skipped: their time passed while the last one ran
};

// The cycle after one that was due at `due` and ended at `end`: one period after `due`, or,
// when that has passed, the first due time at or after `end` on the same grid.
inline NextCycle next_cycle(int64_t due, int64_t end, int64_t period) {
    int64_t next = due + period;
    uint64_t missed = 0;
    if (end > next) {
        // Every due time before `end` has passed; one equal to it is due now.
        const int64_t behind = (end - next + period - 1) / period;
        missed = static_cast<uint64_t>(behind);
        next += behind * period;
    }
    return {next, missed};
}

// Whether a point's new value is news: any change of a bit; for words and 32-bit values a move
// of at least `deadband` (any change when it is 0).
inline bool worth_publishing(bool bit, uint32_t last, uint32_t now, uint32_t deadband) {
    if (now == last) return false;
    const uint32_t moved = now > last ? now - last : last - now;
    return bit || moved >= deadband;
}

}  // namespace zebgw
