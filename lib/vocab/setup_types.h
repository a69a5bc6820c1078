// Setup record types that the library itself reads: a module's name and number, by which
// discovery can ask for one module and the node list knows its nodes.
#pragma once

#include <cstdint>

namespace zeb::vocab::setup {

inline constexpr uint16_t kNameRecord = 0x16;
inline constexpr uint16_t kNumberRecord = 0x20;

}  // namespace zeb::vocab::setup
