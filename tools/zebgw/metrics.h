// Counters and histograms that the health endpoint shows in Prometheus' text format. Written
// by the scanning and publishing threads without locks; read whenever asked.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace zebgw {

// Seconds from 10 us to 10 s, 1-2-5 in each decade: cycle times and start lateness alike.
class Histogram {
  public:
    static constexpr std::array<double, 19> kBounds{
        0.00001, 0.00002, 0.00005, 0.0001, 0.0002, 0.0005, 0.001, 0.002, 0.005, 0.01,
        0.02,    0.05,    0.1,     0.2,    0.5,    1.0,    2.0,   5.0,   10.0};
    void observe(double seconds);
    // The histogram's lines for one metric name and label set ("" or `group="fast"`).
    std::string text(const std::string& name, const std::string& labels) const;

  private:
    std::array<std::atomic<uint64_t>, kBounds.size() + 1> buckets_{};
    std::atomic<uint64_t> count_{0};
    std::atomic<uint64_t> sum_ns_{0};
};

struct GroupMetrics {
    Histogram cycle;     // how long a cycle ran
    Histogram lateness;  // how late a cycle began after it was due: its jitter
    std::atomic<uint64_t> cycles{0};
    std::atomic<uint64_t> overruns{0};      // cycles not begun because the one before ran over
    std::atomic<int64_t> last_cycle_ns{0};  // steady clock when the last cycle ended
};

struct ModuleMetrics {
    std::atomic<uint64_t> reads{0};
    std::atomic<uint64_t> errors{0};  // exchanges that failed or that the module refused
    std::atomic<uint64_t> resends{0};
    std::atomic<uint64_t> crc_errors{0};
    std::atomic<uint64_t> deaths{0};
    std::atomic<uint64_t> births{0};
};

struct PublishMetrics {
    std::atomic<uint64_t> published{0};
    std::atomic<uint64_t> dropped{0};  // events dropped because the queue was full
    std::atomic<uint64_t> queued{0};   // events now waiting
    std::atomic<uint64_t> connects{0};
    std::atomic<int> connected{0};
    std::atomic<uint64_t> writes_done{0};
    std::atomic<uint64_t> writes_refused{0};
    std::atomic<uint64_t> writes_failed{0};
};

}  // namespace zebgw
