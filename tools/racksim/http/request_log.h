// The request log as watchers over HTTP read it: the last lines served, numbered from 1, and a
// wait for the next ones.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace racksim {

struct LogLine {
    uint64_t number = 0;
    std::string text;
};

class RequestLog {
  public:
    explicit RequestLog(size_t keep = 500) : keep_(keep) {}

    // Adds a line (called by the serving loop under its lock, so it only copies and wakes).
    void add(const std::string& text);
    // The lines numbered after `after`, at most `max` of them; waits up to `wait` for one when
    // there are none. False once the log is closed.
    bool next(uint64_t after, std::chrono::milliseconds wait, size_t max,
              std::vector<LogLine>* out);
    // Wakes every waiter; next() returns false from now on.
    void close();

  private:
    std::mutex mutex_;
    std::condition_variable added_;
    std::deque<LogLine> lines_;
    uint64_t last_ = 0;
    size_t keep_;
    bool closed_ = false;
};

}  // namespace racksim
