#include "device_watch.h"

#include <algorithm>
#include <iterator>

namespace zeb::io {
namespace {

// A set that has taken in this many devices is made anew by the next call.
constexpr size_t kMaxSlots = 16384;
constexpr size_t kFirstIndexSize = 64;

size_t place_of(plat::Handle h, size_t size) {
    const auto v = static_cast<uint64_t>(h) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(v >> 32) & (size - 1);
}

}  // namespace

DeviceWatch::DeviceWatch() noexcept : closed_at_start_(devices_closed()) {}

bool DeviceWatch::fresh() const noexcept {
    return set_.current() && devices_closed() == closed_at_start_ && slots_.size() < kMaxSlots;
}

void DeviceWatch::begin_call() noexcept {
    // After four thousand million calls a tag could seem to stand for an entry of a call long
    // gone; numbering from 1 again with every slot cleared keeps that from happening.
    if (++call_ == 0) {
        for (Slot& s : slots_) s.call = 0;
        call_ = 1;
    }
}

bool DeviceWatch::find(plat::Handle h, uint32_t* tag) const noexcept {
    if (index_.empty()) return false;
    for (size_t i = place_of(h, index_.size());; i = (i + 1) & (index_.size() - 1)) {
        const uint32_t v = index_[i];
        if (v == 0) return false;
        if (slots_[v - 1].handle == h) {
            *tag = v - 1;
            return true;
        }
    }
}

bool DeviceWatch::insert(plat::Handle h, uint32_t* tag) noexcept {
    try {
        if (2 * (slots_.size() + 1) > index_.size()) {
            std::vector<uint32_t> grown(std::max(kFirstIndexSize, 2 * index_.size()), 0);
            for (uint32_t t = 0; t < slots_.size(); ++t) {
                size_t i = place_of(slots_[t].handle, grown.size());
                while (grown[i] != 0) i = (i + 1) & (grown.size() - 1);
                grown[i] = t + 1;
            }
            index_.swap(grown);
        }
        slots_.push_back({h, -1, 0, false});
    } catch (...) {
        return false;
    }
    *tag = static_cast<uint32_t>(slots_.size() - 1);
    size_t i = place_of(h, index_.size());
    while (index_[i] != 0) i = (i + 1) & (index_.size() - 1);
    index_[i] = *tag + 1;
    return true;
}

// Puts a device new to the set in it: lastingly where the platform can, else armed once.
bool DeviceWatch::add(const ZEBDevice& device, uint32_t tag) noexcept {
    if (mode_ != Mode::armed) {
        const uint32_t result = set_.watch_lasting(device, tag, false);
        if (result != plat::kNotSupported) {
            if (result == 0) mode_ = Mode::lasting;
            return result == 0;
        }
        mode_ = Mode::armed;
    }
    return set_.watch(device, tag);
}

bool DeviceWatch::watch(const ZEBDevice& device, int32_t k) noexcept {
    const plat::Handle h = wait_handle(device);
    if (h == plat::kNoHandle) return false;
    uint32_t tag = 0;
    if (find(h, &tag)) {
        Slot& s = slots_[tag];
        if (s.call == call_) return false;  // listed twice: one entry is watched
        s.call = call_;
        // Watched by an earlier call: a lasting watch holds; an armed one is armed again. A
        // device the set could not take before is offered again.
        s.in_set =
            s.in_set ? mode_ != Mode::armed || set_.watch_again(device, tag) : add(device, tag);
    } else {
        if (!insert(h, &tag)) return false;
        slots_[tag].call = call_;
        slots_[tag].in_set = add(device, tag);
    }
    slots_[tag].entry = k;
    return slots_[tag].in_set;
}

void DeviceWatch::rearm(const ZEBDevice& device, int32_t k) noexcept {
    uint32_t tag = 0;
    const plat::Handle h = wait_handle(device);
    if (h == plat::kNoHandle || !find(h, &tag)) return;
    if (slots_[tag].call != call_ || slots_[tag].entry != k) return;
    if (mode_ != Mode::lasting) {
        set_.arm(device, tag);
    } else if (set_.watch_lasting(device, tag, true) != 0) {
        set_.watch_lasting(device, tag, false);
    }
}

size_t DeviceWatch::wait(int32_t* entries, size_t capacity, uint32_t timeout_ms,
                         bool* more) noexcept {
    uint32_t tags[64];
    const size_t room = std::min(capacity, std::size(tags));
    const size_t n = set_.wait(tags, room, timeout_ms);
    *more = n == room;
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
        if (tags[i] >= slots_.size()) continue;
        const Slot& s = slots_[tags[i]];
        if (s.call == call_) entries[out++] = s.entry;
    }
    return out;
}

}  // namespace zeb::io
