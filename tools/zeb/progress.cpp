#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace zeb::cli {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string duration_text(double seconds) {
    const auto s = static_cast<unsigned long long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600) {
        std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(buf, sizeof buf, "%llu:%02llu", s / 60, s % 60);
    }
    return buf;
}

}  // namespace

std::string byte_count(double bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    char buf[32];
    if (unit == 0) {
        std::snprintf(buf, sizeof buf, "%.0f B", bytes);
    } else {
        std::snprintf(buf, sizeof buf, "%.1f %s", bytes, kUnits[unit]);
    }
    return buf;
}

std::string progress_line(uint64_t done, uint64_t total, double elapsed_s, int bar_width) {
    const double rate = elapsed_s > 0.0 ? static_cast<double>(done) / elapsed_s : 0.0;
    const std::string speed = byte_count(rate) + "/s";
    if (total == 0) return byte_count(static_cast<double>(done)) + "  " + speed;

    const double share = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    const int filled = static_cast<int>(share * bar_width);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(share * 100.0));
    std::string line = "[" + std::string(filled, '#') + std::string(bar_width - filled, '-') +
                       "] " + percent + "  " + byte_count(static_cast<double>(done)) + " / " +
                       byte_count(static_cast<double>(total)) + "  " + speed;
    if (done >= total) return line + "  done";
    if (rate <= 0.0) return line + "  --:-- left";
    return line + "  " + duration_text(static_cast<double>(total - done) / rate) + " left";
}

ProgressBar::ProgressBar(uint64_t total, uint64_t threshold)
    : total_(total), shown_(total > threshold && isatty(STDERR_FILENO)) {}

ProgressBar::~ProgressBar() {
    if (drawn_) std::fputc('\n', stderr);
}

void ProgressBar::update(uint64_t done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_draw_ < kRedrawEvery && done < total_) return;
    last_draw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\r%s\x1b[K", progress_line(done, total_, elapsed).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
}

}  // namespace zeb::cli
