// Shared RAM a module keeps for the slots of its bases: per base and slot, two windows of up to
// 32 KiB, the plain one and the one a host reaches with the address flag (bit 15 of its
// address). Something that lives behind a window (a remote master's mailbox) hooks into its
// region: it sees every write that lands and can bring the bytes up to date before a read.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

#include "bytes.h"
#include "context.h"

namespace racksim {

inline constexpr size_t kSharedRamWindowMax = 0x8000;

struct SharedRamKey {
    uint16_t base = 0;
    uint16_t slot = 0;
    auto operator<=>(const SharedRamKey&) const = default;
};

// One host access that reached a region: which window, where and how many bytes.
struct SharedRamAccess {
    SharedRamKey key;
    bool flagged = false;
    uint16_t address = 0;  // within the window
    uint16_t count = 0;
};

struct SharedRamRegion;

// Hooks take the request's context (module, clock) and may change the region's bytes.
using SharedRamHook = std::function<void(Context&, SharedRamRegion&, const SharedRamAccess&)>;

struct SharedRamRegion {
    Bytes plain;                // at most kSharedRamWindowMax bytes
    Bytes flagged;              // at most kSharedRamWindowMax bytes
    SharedRamHook after_write;  // after a host's write has landed (not for refused writes)
    SharedRamHook before_read;  // before a host's read in range is answered

    Bytes& window(bool with_flag) { return with_flag ? flagged : plain; }
};

struct SharedRam {
    std::map<SharedRamKey, SharedRamRegion> regions;

    SharedRamRegion* find(uint16_t base, uint16_t slot);

    // What a module has unless its rack entry says otherwise: base 0, slot 0, 1 KiB in each
    // window.
    static SharedRam standard();
};

}  // namespace racksim
