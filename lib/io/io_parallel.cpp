// I/O exchanges with many devices at once: each request is sent without waiting, the replies
// are collected as they come, and each device keeps its own time-out and re-send budget.
#include <algorithm>
#include <memory>
#include <new>

#include "core/link.h"
#include "io_reply.h"

namespace zeb::io {
namespace {

constexpr uint32_t kNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY

// One device's progress. Whether a request is in flight is kept apart from its start time,
// since the clock reads 0 like any other value.
struct Entry {
    bool started;
    uint32_t start_ms;
};

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

void start_entry(const Batch& b, int32_t k, Entry& entry) {
    ZEBDevice& d = *b.devices[k];
    const int32_t saved = d.NoWait;
    d.NoWait = 1;
    entry.start_ms = ClockMs();
    entry.started = true;
    b.results[k] = b.start(b.context, k, &b.sizes[k]);
    d.NoWait = saved;
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

// Sleeps until a pending device's reply arrives or the earliest time-out is due.
void wait_for_replies(const Batch& b, const Entry* entries, int32_t prefix, plat::Handle* handles) {
    size_t watched = 0;
    uint32_t wait_ms = UINT32_MAX;
    const uint32_t now = ClockMs();
    for (int32_t k = 0; k < prefix; ++k) {
        if (!b.devices[k] || b.results[k] != ZEBERR_NO_PACKET || !entries[k].started) continue;
        const uint32_t age = now - entries[k].start_ms;
        const uint32_t timeout = b.devices[k]->Timeout;
        wait_ms = std::min(wait_ms, age < timeout ? timeout - age : 0);
        const plat::Handle h = wait_handle(*b.devices[k]);
        if (h != plat::kNoHandle) handles[watched++] = h;
    }
    if (watched > 0 && wait_ms > 0) plat::platform().wait_readable(handles, watched, wait_ms);
}

void run(const Batch& b) {
    const auto count = static_cast<size_t>(b.count);
    std::unique_ptr<Entry[]> entries(new (std::nothrow) Entry[count]());
    std::unique_ptr<plat::Handle[]> handles(new (std::nothrow) plat::Handle[count]);
    if (!entries || !handles) {
        for (int32_t k = 0; k < b.count; ++k) {
            if (b.devices[k]) b.results[k] = kNotEnoughMemory;
        }
        return;
    }
    for (int32_t k = 0; k < b.count; ++k) {
        if (b.devices[k]) b.devices[k]->FromAddressSize = 0;  // counts this device's re-sends
    }
    int32_t scan = 0;
    int32_t prefix = 0;
    for (;;) {
        // Start at most one request a pass, so that requests to many devices overlap.
        bool started_one = false;
        while (scan < b.count && !started_one) {
            if (b.devices[scan] && !entries[scan].started) {
                start_entry(b, scan, entries[scan]);
                started_one = true;
            }
            prefix = std::max(prefix, ++scan);
        }
        for (int32_t k = 0; k < prefix; ++k) {
            if (b.devices[k] && b.results[k] == ZEBERR_NO_PACKET) poll_entry(b, k);
        }
        bool unfinished = false;
        const uint32_t now = ClockMs();
        for (int32_t k = 0; k < prefix; ++k) {
            ZEBDevice* d = b.devices[k];
            if (!d) continue;
            Entry& e = entries[k];
            const bool pending = b.results[k] == ZEBERR_NO_PACKET;
            if (pending && e.started && now - e.start_ms >= d->Timeout) {
                if (d->FromAddressSize < d->Retries) {
                    ++d->FromAddressSize;
                    ++d->ResendCount;
                    e.started = false;
                    scan = std::min(scan, k);
                    unfinished = true;
                } else {
                    b.results[k] = ZEBERR_TIMEOUT;
                }
            } else if (pending || !e.started) {
                unfinished = true;
            }
        }
        if (prefix >= b.count && !unfinished) return;
        const bool more_to_start = scan < b.count;
        if (!more_to_start) wait_for_replies(b, entries.get(), prefix, handles.get());
    }
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
