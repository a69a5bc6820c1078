// I/O exchanges with many devices at once: each request is sent without waiting, the replies
// are collected as they come, and each device keeps its own time-out and re-send budget.
//
// A pass starts at most one request, takes the replies of the devices whose sockets are
// readable (a readiness set says which, so a silent device costs no system call), and times
// out the requests whose time is up. While requests are still going out, the set is looked at
// after every few starts rather than after each, since one look takes the replies of many
// devices; a time-out that is due is always preceded by a look. Once every request is out,
// the call sleeps until a reply arrives or the earliest time-out is due.
#include "io_parallel.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>

#include "core/link.h"
#include "core/platform/clock.h"
#include "device_watch.h"
#include "io_reply.h"

namespace zeb::io {
namespace {

constexpr uint32_t kNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY
constexpr size_t kReadyBatch = 64;        // readable devices taken per look at the set
// Entry tables up to this size are kept by the thread for its next call.
constexpr size_t kKeptEntries = 4096;
// Requests started between two looks at the readiness set while requests are going out.
constexpr int32_t kStartsPerLook = 8;
constexpr uint64_t kNever = UINT64_MAX;

// One device's progress. Whether a request is out is kept apart from its start time, since
// the clock reads 0 like any other value.
struct Entry {
    uint32_t start_ms;  // when the last request went out, in ms since the call began
    bool started;       // a request is out, or its start step finished the entry
    bool watch_tried;   // the device was offered to the readiness set
    bool watched;       // and the set took it
    bool resting;       // reported readable and not armed since
};

// What one call works with: the table of its entries and the devices' watch. A thread keeps
// both from one call to the next, so that only a call larger than any before it on that thread
// allocates, and a device read again is not added to a readiness set and taken out on every
// call. A call made from inside another (by the asynchronous handler) or a very large one gets
// its own.
class CallState {
  public:
    explicit CallState(size_t count) noexcept {
        if (!t_busy && count <= kKeptEntries) {
            if (t_size < count) {
                t_table.reset(new (std::nothrow) Entry[count]);
                t_size = t_table ? count : 0;
            }
            if (!t_watch || !t_watch->fresh()) t_watch.reset(new (std::nothrow) DeviceWatch);
            if (t_table && t_watch) {
                t_busy = true;
                borrowed_ = true;
                entries_ = t_table.get();
                watch_ = t_watch.get();
            }
        }
        if (!borrowed_) {
            owned_.reset(new (std::nothrow) Entry[count]);
            entries_ = owned_.get();
            watch_ = &own_watch_.emplace();
        }
        if (entries_) std::fill_n(entries_, count, Entry{});
        watch_->begin_call();
    }
    ~CallState() {
        if (borrowed_) t_busy = false;
    }
    CallState(const CallState&) = delete;
    CallState& operator=(const CallState&) = delete;

    Entry* entries() const noexcept { return entries_; }
    DeviceWatch& watch() const noexcept { return *watch_; }
    // Closes the thread's kept set unless a call of the thread is using it.
    static void release() noexcept;

  private:
    static thread_local std::unique_ptr<Entry[]> t_table;
    static thread_local size_t t_size;
    static thread_local std::unique_ptr<DeviceWatch> t_watch;
    static thread_local bool t_busy;

    std::unique_ptr<Entry[]> owned_;
    std::optional<DeviceWatch> own_watch_;
    Entry* entries_ = nullptr;
    DeviceWatch* watch_ = nullptr;
    bool borrowed_ = false;
};

void CallState::release() noexcept {
    if (!t_busy) t_watch.reset();
}

thread_local std::unique_ptr<Entry[]> CallState::t_table;
thread_local size_t CallState::t_size = 0;
thread_local std::unique_ptr<DeviceWatch> CallState::t_watch;
thread_local bool CallState::t_busy = false;

// Sends one device's request in no-wait mode; returns its immediate result.
using StartFn = uint32_t (*)(const void* context, int32_t k, uint16_t* size) noexcept;

struct Batch {
    ZEBDevice** devices;
    uint8_t** buffers;
    uint16_t* sizes;
    uint32_t* results;
    int32_t count;
    const void* context;
    StartFn start;
};

uint8_t* buffer_of(const Batch& b, int32_t k) {
    return b.buffers ? b.buffers[k] : nullptr;
}

// Takes a reply that is already waiting for entry k, without waiting for one.
void poll_entry(const Batch& b, int32_t k) {
    IoReply reply;
    reply.set_capacity();
    const uint32_t result =
        get_response(*b.devices[k], reply.data(), reply.length_slot(), 0, false, true);
    b.results[k] = result;
    if (result == ZEBERR_NO_PACKET) return;
    if (failed(result)) {
        b.sizes[k] = 0;
        return;
    }
    b.results[k] = deliver_inputs(reply, result, buffer_of(b, k), &b.sizes[k]);
}

// The scheduler of one call.
class Scheduler {
  public:
    Scheduler(const Batch& b, const CallState& state)
        : b_(b), e_(state.entries()), watch_(state.watch()), base_(ClockMs()) {
        for (int32_t k = 0; k < b.count; ++k) {
            if (!b.devices[k]) continue;
            b.devices[k]->FromAddressSize = 0;  // counts this device's re-sends
            ++to_send_;
        }
    }

    void run() {
        int32_t starts = 0;  // since the last look at the set
        for (;;) {
            start_next();
            const bool starting = scan_ < b_.count;
            if (!starting || ++starts >= kStartsPerLook || now() >= next_due_) {
                starts = 0;
                take_replies(starting ? 0 : sleep_ms());
            }
            if (now() >= next_due_) time_out();
            if (prefix_ >= b_.count && to_send_ == 0 && in_flight_ == 0) return;
        }
    }

  private:
    uint32_t now() const { return ClockMs() - base_; }
    bool pending(int32_t k) const { return b_.devices[k] && b_.results[k] == ZEBERR_NO_PACKET; }

    // Starts the first entry from the scan position that has no request out; at most one a
    // pass, so that requests to many devices overlap.
    void start_next() {
        while (scan_ < b_.count) {
            const int32_t k = scan_++;
            prefix_ = std::max(prefix_, scan_);
            if (!b_.devices[k] || e_[k].started) continue;
            start(k);
            return;
        }
    }

    void start(int32_t k) {
        ZEBDevice& d = *b_.devices[k];
        Entry& e = e_[k];
        const int32_t saved = d.NoWait;
        d.NoWait = 1;
        e.start_ms = now();
        e.started = true;
        --to_send_;
        b_.results[k] = b_.start(b_.context, k, &b_.sizes[k]);
        d.NoWait = saved;
        if (b_.results[k] != ZEBERR_NO_PACKET) return;  // finished by its start step
        ++in_flight_;
        next_due_ = std::min<uint64_t>(next_due_, uint64_t(e.start_ms) + d.Timeout);
        if (!e.watch_tried) {
            e.watch_tried = true;
            e.watched = watch_.watch(d, k);
            if (!e.watched) ++unwatched_;
        } else if (e.resting) {
            arm(k);
        }
    }

    void arm(int32_t k) {
        e_[k].resting = false;
        watch_.rearm(*b_.devices[k], k);
    }

    // How long the call may sleep once every request is out: until the earliest time-out,
    // and no longer than a millisecond while a device cannot be watched.
    uint32_t sleep_ms() const {
        if (in_flight_ == 0 && unwatched_ == 0) return 0;
        const uint64_t t = now();
        uint64_t ms = next_due_ > t ? next_due_ - t : 0;
        if (unwatched_ > 0) ms = std::min<uint64_t>(ms, 1);
        return static_cast<uint32_t>(std::min<uint64_t>(ms, UINT32_MAX));
    }

    // Takes the replies waiting on readable sockets (and looks at the unwatched devices).
    void take_replies(uint32_t wait_ms) {
        int32_t ready[kReadyBatch];
        for (;;) {
            bool more = false;
            const size_t n = watch_.wait(ready, kReadyBatch, wait_ms, &more);
            for (size_t i = 0; i < n; ++i) {
                const int32_t k = ready[i];
                if (k < 0 || k >= prefix_) continue;
                e_[k].resting = true;
                take_reply(k);
                // Still waiting (only strays came): watch it again.
                if (pending(k)) arm(k);
            }
            if (!more) break;
            wait_ms = 0;
        }
        for (int32_t k = 0; unwatched_ > 0 && k < prefix_; ++k) {
            if (e_[k].watch_tried && !e_[k].watched) take_reply(k);
        }
    }

    void take_reply(int32_t k) {
        if (!pending(k)) return;
        poll_entry(b_, k);
        if (b_.results[k] != ZEBERR_NO_PACKET && e_[k].started) --in_flight_;
    }

    // Ends the requests whose time is up: re-sent by a later pass while the device's re-sends
    // last, else finished with ZEBERR_TIMEOUT.
    void time_out() {
        const uint32_t t = now();
        next_due_ = kNever;
        for (int32_t k = 0; k < prefix_; ++k) {
            ZEBDevice* d = b_.devices[k];
            Entry& e = e_[k];
            if (!pending(k) || !e.started) continue;
            if (t - e.start_ms < d->Timeout) {
                next_due_ = std::min<uint64_t>(next_due_, uint64_t(e.start_ms) + d->Timeout);
                continue;
            }
            --in_flight_;
            if (d->FromAddressSize < d->Retries) {
                ++d->FromAddressSize;
                ++d->ResendCount;
                e.started = false;
                // Watched again with the re-send, in case the system lost the watch.
                e.resting = e.watched;
                ++to_send_;
                scan_ = std::min(scan_, k);
            } else {
                b_.results[k] = ZEBERR_TIMEOUT;
            }
        }
    }

    const Batch& b_;
    Entry* e_;
    DeviceWatch& watch_;
    const uint32_t base_;
    int32_t scan_ = 0;    // where the next start looks first
    int32_t prefix_ = 0;  // entries below this have been passed by the scan
    size_t to_send_ = 0;  // listed entries without a request out
    size_t in_flight_ = 0;
    size_t unwatched_ = 0;
    uint64_t next_due_ = kNever;  // the earliest time-out of a request in flight
};

void run(const Batch& b) {
    const CallState state(static_cast<size_t>(b.count));
    if (!state.entries()) {
        for (int32_t k = 0; k < b.count; ++k) {
            if (b.devices[k]) b.results[k] = kNotEnoughMemory;
        }
        return;
    }
    Scheduler(b, state).run();
}

// What the start step of either operation needs besides the batch.
struct ExchangeContext {
    const uint8_t* const* sources;
    const uint16_t* lengths;
    ZEBDevice** devices;
    uint8_t** buffers;
};

uint32_t start_read(const void* context, int32_t k, uint16_t* size) noexcept {
    const auto& c = *static_cast<const ExchangeContext*>(context);
    return ZEBReadIO(c.devices[k], c.buffers ? c.buffers[k] : nullptr, size);
}

uint32_t start_write(const void* context, int32_t k, uint16_t* size) noexcept {
    const auto& c = *static_cast<const ExchangeContext*>(context);
    return ZEBWriteIO(c.devices[k], c.sources[k], c.lengths[k], c.buffers ? c.buffers[k] : nullptr,
                      size);
}

}  // namespace
}  // namespace zeb::io

void zeb::io::release_kept_call_state() noexcept {
    CallState::release();
}

using namespace zeb;
using namespace zeb::io;

extern "C" {

uint32_t ZEBReadIOEx(ZEBDevice** devices, uint8_t** buffers, uint16_t* sizes, uint32_t* results,
                     int32_t count) {
    if (count <= 0) return 0;
    if (!devices || !sizes || !results) return ZEBERR_BAD_PARAMETER;
    const ExchangeContext context{nullptr, nullptr, devices, buffers};
    run({devices, buffers, sizes, results, count, &context, start_read});
    return 0;
}

uint32_t ZEBWriteIOEx(ZEBDevice** devices, const uint8_t* const* sources, const uint16_t* lengths,
                      uint8_t** buffers, uint16_t* sizes, uint32_t* results, int32_t count) {
    if (count <= 0) return 0;
    if (!devices || !sources || !lengths || !sizes || !results) return ZEBERR_BAD_PARAMETER;
    const ExchangeContext context{sources, lengths, devices, buffers};
    run({devices, buffers, sizes, results, count, &context, start_write});
    return 0;
}

}  // extern "C"
