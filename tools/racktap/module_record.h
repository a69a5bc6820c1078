#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "io_map.h"

namespace racktap {

// Decodes the counts of a module record (kind byte first). Kinds 1, 3, 5, 7 and 255 describe a
// module; any other kind, or a record too short for its kind, describes none.
std::optional<Counts> decode_module_record(std::span<const uint8_t> record);

}  // namespace racktap
