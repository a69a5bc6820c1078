#pragma once

#include <array>

#include "io_map.h"

namespace racktap {

// The four input values, each 1 or 0, or -1 when the slot has no descriptor or the point does
// not exist: bit inputs 0 and 1 of slot 1, then global bit inputs 2 and 3.
using InputValues = std::array<int, 4>;

InputValues take_input_values(const IoMap& map);

// Copies the values to bit outputs 1 and 2 of slot 3 and to global bit outputs 3 and 4. Any
// nonzero value sets the bit, 0 clears it; a point that does not exist is left alone.
void set_outputs(IoMap& map, const InputValues& values);

}  // namespace racktap
