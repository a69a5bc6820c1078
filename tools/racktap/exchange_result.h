#pragma once

#include <cstdint>

namespace racktap {

// Whether an I/O exchange delivered an input stream worth reading. A result with bit 15 set and
// any of its low 12 bits set is a failed exchange. A module status whose low 12 bits are clear
// still comes with its data. Any other nonzero result except the re-send warning is an error
// passed through from the socket layer, which delivers nothing.
constexpr bool exchange_delivered(uint32_t result) {
    if (result & 0x8000u) return (result & 0x0FFFu) == 0;
    return result == 0 || result == 0x2000u;
}

}  // namespace racktap
