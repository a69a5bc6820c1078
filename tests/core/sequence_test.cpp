// The process-wide sequence counter: 1 to 65535 and round again, never 0, safe across threads.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/state.h"

namespace {

using zeb::state::set_next_sequence;
using zeb::state::take_sequence;

TEST(Sequence, WrapsFrom65535ToOneNeverZero) {
    set_next_sequence(65534);
    EXPECT_EQ(take_sequence(), 65534);
    EXPECT_EQ(take_sequence(), 65535);
    EXPECT_EQ(take_sequence(), 1);
    EXPECT_EQ(take_sequence(), 2);
}

TEST(Sequence, SettingZeroMeansOne) {
    set_next_sequence(0);
    EXPECT_EQ(take_sequence(), 1);
}

// Several threads taking numbers at once get exactly the numbers one thread would have got:
// none lost, none given twice, 0 never.
TEST(Sequence, ThreadsTakingNumbersAtOnceGetTheSameNumbersAsOneThread) {
    constexpr int kThreads = 4;
    constexpr int kEach = 20000;  // 80000 in all: once round the counter and partly again
    set_next_sequence(1);
    std::vector<std::vector<uint16_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&taken, t] {
            taken[t].reserve(kEach);
            for (int i = 0; i < kEach; ++i) taken[t].push_back(take_sequence());
        });
    }
    for (std::thread& th : threads) th.join();

    std::vector<int> seen(65536, 0);
    for (const auto& list : taken) {
        for (uint16_t n : list) ++seen[n];
    }
    constexpr int kTotal = kThreads * kEach;
    constexpr int kSecondRound = kTotal - 65535;
    EXPECT_EQ(seen[0], 0);
    for (int n = 1; n <= 65535; ++n) {
        ASSERT_EQ(seen[n], n <= kSecondRound ? 2 : 1) << "number " << n;
    }
    EXPECT_EQ(take_sequence(), kSecondRound + 1);
}

}  // namespace
