// Typed memory and shared RAM: the entries of the listing of memory areas (function code 0x26)
// and the items of a batched access (0x27).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb::vocab::memory {

// One area of the listing; its layout is the module's.
inline constexpr size_t kAreaEntrySize = 22;

// Each item of an access starts with a head (direction, memory type, 32-bit address, count); a
// write's data follows it, and the answer to a read repeats the head before the data.
inline constexpr size_t kItemHeadSize = 9;
inline constexpr uint8_t kItemRead = 0;
inline constexpr uint8_t kItemWrite = 1;

}  // namespace zeb::vocab::memory
