#pragma once

#include <cstdint>
#include <span>

#include "io_map.h"

namespace racktap {

// Copies the delivered I/O item stream into the images of the map. A slot select picks that
// slot's descriptor (none for an empty slot or a slot above 7, and then nothing is stored).
// Items longer than an image are cut to it; an item whose data runs past the delivered bytes
// stores what was delivered and ends the walk. The walk also ends at an end item (type 15, or
// the end byte 0xFF).
void store_inputs(std::span<const uint8_t> stream, IoMap& map);

}  // namespace racktap
