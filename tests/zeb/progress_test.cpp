// The transfer progress line: bytes, rate and time left.
#include "progress.h"

#include <gtest/gtest.h>

namespace zeb::cli {
namespace {

TEST(Progress, BytesRateAndTimeLeft) {
    EXPECT_EQ(byte_count(812), "812 B");
    EXPECT_EQ(byte_count(1536), "1.5 KiB");
    EXPECT_EQ(byte_count(3.5 * 1024 * 1024), "3.5 MiB");

    EXPECT_EQ(progress_line(1024, 4096, 1.0, 8),
              "[##------]  25%  1.0 KiB / 4.0 KiB  1.0 KiB/s  0:03 left");
    EXPECT_EQ(progress_line(4096, 4096, 2.0, 8),
              "[########] 100%  4.0 KiB / 4.0 KiB  2.0 KiB/s  done");
    EXPECT_EQ(progress_line(0, 4096, 0.0, 4), "[----]   0%  0 B / 4.0 KiB  0 B/s  --:-- left");
    EXPECT_EQ(progress_line(2048, 0, 2.0), "2.0 KiB  1.0 KiB/s") << "no total known";
    // An hour and more left shows hours.
    EXPECT_EQ(progress_line(1, 3602, 1.0, 2), "[--]   0%  1 B / 3.5 KiB  1 B/s  1:00:01 left");
    // More done than the total said (a file that grew) stays at 100%.
    EXPECT_EQ(progress_line(5000, 4096, 1.0, 2).substr(0, 9), "[##] 100%");
}

}  // namespace
}  // namespace zeb::cli
