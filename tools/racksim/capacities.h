// What a module may put in a reply: a host takes each reply in a buffer of the vocabulary's
// capacity, header included, so RackSim refuses to hold anything whose reply would not fit.
#pragma once

#include <cstddef>

#include "frame.h"
#include "vocab/capacities.h"

namespace racksim {

namespace capacity = zeb::vocab::capacity;

inline constexpr size_t kStatusWordSize = 2;

// A setup record travels after the status word; the list of types after the status word and
// a 16-bit count.
inline constexpr size_t kMaxSetupRecord = capacity::kSetupReply - kHeaderSize - kStatusWordSize;
inline constexpr size_t kMaxSetupTypes =
    (capacity::kSetupReply - kHeaderSize - kStatusWordSize - 2) / 2;
inline constexpr size_t kMaxConfigBlock = capacity::kConfigReply - kHeaderSize - kStatusWordSize;
inline constexpr size_t kMaxStatsRecord = capacity::kStatsReply - kHeaderSize;
inline constexpr size_t kMaxStatusBlock = capacity::kStatusReply - kHeaderSize - kStatusWordSize;

}  // namespace racksim
