#include "ping_stats.h"

#include <algorithm>
#include <cmath>

namespace zeb::cli {

void PingStats::add(std::optional<double> rtt_ms, unsigned resends) {
    ++sent_;
    resends_ += resends;
    if (!rtt_ms) return;
    const double t = *rtt_ms;
    min_ = received_ == 0 ? t : std::min(min_, t);
    max_ = received_ == 0 ? t : std::max(max_, t);
    sum_ += t;
    sum_squares_ += t * t;
    ++received_;
}

double PingStats::loss_percent() const {
    return sent_ == 0 ? 0.0 : 100.0 * lost() / sent_;
}

double PingStats::avg_ms() const {
    return received_ == 0 ? 0.0 : sum_ / received_;
}

double PingStats::stddev_ms() const {
    if (received_ == 0) return 0.0;
    const double mean = avg_ms();
    return std::sqrt(std::max(0.0, sum_squares_ / received_ - mean * mean));
}

}  // namespace zeb::cli
