#include "http/request_log.h"

#include <algorithm>

namespace racksim {

void RequestLog::add(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(LogLine{++last_, text});
        if (lines_.size() > keep_) lines_.pop_front();
    }
    added_.notify_all();
}

bool RequestLog::next(uint64_t after, std::chrono::milliseconds wait, size_t max,
                      std::vector<LogLine>* out) {
    out->clear();
    std::unique_lock<std::mutex> lock(mutex_);
    // A number from before RackSim started (a page left open across a restart) waits for the
    // lines to come, not for the count to pass it.
    after = std::min(after, last_);
    added_.wait_for(lock, wait, [&] { return closed_ || last_ > after; });
    if (closed_) return false;
    for (const LogLine& line : lines_) {
        if (out->size() == max) break;
        if (line.number > after) out->push_back(line);
    }
    return true;
}

void RequestLog::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    added_.notify_all();
}

}  // namespace racksim
