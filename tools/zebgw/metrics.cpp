#include "metrics.h"

#include <cstdio>

namespace zebgw {

void Histogram::observe(double seconds) {
    size_t i = 0;
    while (i < kBounds.size() && seconds > kBounds[i]) ++i;
    buckets_[i].fetch_add(1, std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_relaxed);
    sum_ns_.fetch_add(static_cast<uint64_t>(seconds * 1e9), std::memory_order_relaxed);
}

std::string Histogram::text(const std::string& name, const std::string& labels) const {
    std::string out;
    const std::string sep = labels.empty() ? "" : ",";
    uint64_t cumulative = 0;
    char le[32];
    for (size_t i = 0; i <= kBounds.size(); ++i) {
        cumulative += buckets_[i].load(std::memory_order_relaxed);
        if (i < kBounds.size()) {
            std::snprintf(le, sizeof le, "%g", kBounds[i]);
        } else {
            std::snprintf(le, sizeof le, "+Inf");
        }
        out += name + "_bucket{" + labels + sep + "le=\"" + le + "\"} " +
               std::to_string(cumulative) + "\n";
    }
    char sum[64];
    std::snprintf(sum, sizeof sum, "%.9f", sum_ns_.load(std::memory_order_relaxed) / 1e9);
    const std::string braces = labels.empty() ? "" : "{" + labels + "}";
    out += name + "_sum" + braces + " " + sum + "\n";
    out += name + "_count" + braces + " " + std::to_string(count_.load()) + "\n";
    return out;
}

}  // namespace zebgw
