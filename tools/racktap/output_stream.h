#pragma once

#include <cstdint>
#include <vector>

#include "io_map.h"

namespace racktap {

// Builds the output stream in the extended item format: the switch item 0xB1 0x00; for each
// slot in ascending order whose module has outputs, the slot select and its bit, word and
// 32-bit output items; the end byte 0xFF. Outputs beyond what an image holds are not sent.
std::vector<uint8_t> build_output_stream(const IoMap& map);

}  // namespace racktap
