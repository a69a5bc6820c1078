#pragma once

#include <cstdint>
#include <span>

#include "io_map.h"

namespace racktap {

// Builds the I/O map from the delivered base definition. The walk starts in the compact item
// format, turns to the extended one at the switch item, ends at 0xF0 (extended) or at the end
// of the data. A module record belongs to the slot selected last; records before any slot
// selection, for slots above 7, of unknown kinds, or cut short create nothing.
IoMap build_io_map(std::span<const uint8_t> base_def);

}  // namespace racktap
