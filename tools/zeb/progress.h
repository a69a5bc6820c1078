// The progress of a long transfer on standard error: bytes, rate and time left, redrawn in
// place on a terminal, and nothing at all when standard error is not one.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zeb::cli {

// "[##########----------]  50%  1.5 KiB / 3.0 KiB  1.0 KiB/s  0:02 left" for a known total;
// without one (total 0), the bytes and the rate alone.
std::string progress_line(uint64_t done, uint64_t total, double elapsed_s, int bar_width = 24);

// "812 B", "1.5 KiB", "3.2 MiB"
std::string byte_count(double bytes);

class ProgressBar {
  public:
    // Shown only when `total` exceeds `threshold` bytes and standard error is a terminal.
    ProgressBar(uint64_t total, uint64_t threshold);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(uint64_t done);
    // Leaves the last line in place and moves to the next.
    void finish();

  private:
    uint64_t total_;
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace zeb::cli
