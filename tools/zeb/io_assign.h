// Output values as written on the command line: SLOT.KIND.INDEX=VALUE for one point, or
// SLOT.KIND=V0,V1,... for points from 0 on; KIND is bit, word or dword (b, w, d).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io_stream.h"

namespace zeb::cli {

enum class PointKind { kBit, kWord, kDword };

struct Assignment {
    int slot = 0;
    PointKind kind = PointKind::kBit;
    int first = 0;                 // index of the first value
    std::vector<uint32_t> values;  // as sent: bits 0 or 1, words 16 bits, dwords 32 bits
};

// Nothing, with the reason, for a malformed assignment or a value out of its kind's range
// (bits 0 or 1; words -32768 to 65535; dwords -2^31 to 2^32 - 1).
std::optional<Assignment> parse_assignment(std::string_view text, std::string* why);

// The outputs to write: for each slot and kind named, the points from 0 up to the highest one
// named, those not given as 0; a later assignment to a point wins. False, with the reason,
// for a slot the base does not describe or a point beyond its slot's outputs.
bool build_outputs(const std::vector<Assignment>& assignments, const BaseLayout& layout,
                   Image* outputs, std::string* why);

}  // namespace zeb::cli
