// The devices of parallel calls, watched in one readiness set under tags that stay the same
// from one call to the next.
//
// A device gets a tag of its own when first watched and keeps it while the set lives, so a
// later call that lists it again, in any place, only notes which of its entries the tag now
// stands for. Where the platform has lasting watches, such a device costs no system call to be
// watched again; elsewhere it is armed again (one call) rather than added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/link.h"

namespace zeb::io {

class DeviceWatch {
  public:
    DeviceWatch() noexcept;

    // Whether the set may serve another call: it belongs to the platform in use, no device
    // has been closed since it was made (the number of a closed socket may come back on
    // another), and it has not taken in too many devices.
    bool fresh() const noexcept;

    // Begins a call: the tags stand for no entry until watched in it.
    void begin_call() noexcept;

    // Watches the device of entry k. False when it cannot be watched (no handle, listed twice
    // in the call, or no memory): the caller then looks at that device itself.
    bool watch(const ZEBDevice& device, int32_t k) noexcept;

    // For a watched entry still waited for after a receive or a time-out: armed again, or,
    // with a lasting watch, reported once more if something was left unread. A lasting watch
    // the system no longer has (a socket closed behind the library's back) is made again.
    void rearm(const ZEBDevice& device, int32_t k) noexcept;

    // Waits at most `timeout_ms` (0: only looks) and writes at most `capacity` entries of this
    // call that are readable; reports for devices not in the call are passed over. *more is
    // set when the set had more to report than was taken.
    size_t wait(int32_t* entries, size_t capacity, uint32_t timeout_ms, bool* more) noexcept;

  private:
    struct Slot {
        plat::Handle handle;
        int32_t entry;  // in the call `call`
        uint32_t call;
        bool in_set;  // the set took it
    };

    bool find(plat::Handle h, uint32_t* tag) const noexcept;
    bool insert(plat::Handle h, uint32_t* tag) noexcept;
    bool add(const ZEBDevice& device, uint32_t tag) noexcept;

    ReadySet set_;
    std::vector<Slot> slots_;      // a device's tag is its place here
    std::vector<uint32_t> index_;  // open addressing by handle: tag + 1, or 0 for none
    uint32_t call_ = 0;
    uint32_t closed_at_start_;
    enum class Mode : uint8_t { unknown, lasting, armed } mode_ = Mode::unknown;
};

}  // namespace zeb::io
