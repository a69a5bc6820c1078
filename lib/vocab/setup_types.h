// Setup record types that the library itself reads: a module's name and number, by which
// discovery can ask for one module and the node list knows its nodes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb::vocab::setup {

inline constexpr uint16_t kNameRecord = 0x16;
inline constexpr uint16_t kNumberRecord = 0x20;

// A query by name carries the name zero-filled to this size: at most 255 bytes of name, then a
// zero.
inline constexpr size_t kNameQuerySize = 256;

}  // namespace zeb::vocab::setup
