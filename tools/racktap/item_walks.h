#pragma once

#include <cstdint>
#include <span>

#include "io_map.h"

namespace racktap {

// Builds the I/O map from the delivered base definition. The walk starts in the compact item
// format, turns to the extended one at the switch item, ends at 0xF0 (extended) or at the end
// of the data. A module record belongs to the slot selected last; records before any slot
// selection, for slots above 7, of unknown kinds, or cut short create nothing. Any other item
// is passed over by its header alone.
IoMap build_io_map(std::span<const uint8_t> base_def);

// Copies the delivered I/O item stream into the images of the map. A slot select picks that
// slot's descriptor (none for an empty slot or a slot above 7, and then nothing is stored).
// Each item is stored from the start of its image, cut to the image; an item whose data runs
// past the delivered bytes stores what was delivered and ends the walk. The walk also ends at
// an end item (type 15, or the end byte 0xFF).
void store_inputs(std::span<const uint8_t> stream, IoMap& map);

}  // namespace racktap
