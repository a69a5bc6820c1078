// Replies waiting for their time to leave, earliest first; equal times keep their order.
#pragma once

#include <chrono>
#include <cstdint>
#include <queue>
#include <vector>

#include "bytes.h"

namespace racksim {

using SteadyTime = std::chrono::steady_clock;

struct Pending {
    SteadyTime::time_point due;
    uint64_t order = 0;
    uint32_t from_ip = 0;  // host order
    uint32_t to_ip = 0;    // host order
    uint16_t to_port = 0;
    Bytes bytes;
};

class ReplyQueue {
  public:
    void push(Pending p) {
        p.order = next_order_++;
        queue_.push(std::move(p));
    }
    bool empty() const { return queue_.empty(); }
    SteadyTime::time_point next_due() const { return queue_.top().due; }
    // Takes the earliest reply if it is due at `now`.
    bool pop_due(SteadyTime::time_point now, Pending* out) {
        if (queue_.empty() || queue_.top().due > now) return false;
        *out = queue_.top();
        queue_.pop();
        return true;
    }

  private:
    struct Later {
        bool operator()(const Pending& a, const Pending& b) const {
            return a.due != b.due ? a.due > b.due : a.order > b.order;
        }
    };
    std::priority_queue<Pending, std::vector<Pending>, Later> queue_;
    uint64_t next_order_ = 0;
};

}  // namespace racksim
