// Output values as written on the command line: SLOT.KIND.INDEX=VALUE for one point,
// SLOT.KIND=V0,V1,... for points from 0 on, and SLOT.bits=MASK for every bit output of a slot
// at once (bit n of MASK is point n); KIND is bit, word or dword (b, w, d).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "io_points.h"
#include "values.h"

namespace zeb::cli {

struct Assignment {
    int slot = 0;
    PointKind kind = PointKind::kBit;
    int first = 0;                 // index of the first value
    std::vector<uint32_t> values;  // as sent: bits 0 or 1, words 16 bits, dwords 32 bits
    // SLOT.bits=MASK: every bit output of the slot, from the mask's bytes (little-endian);
    // `values` is filled once the slot's count is known.
    std::optional<Bytes> mask;
};

// Nothing, with the reason, for a malformed assignment or a value out of its kind's range
// (bits 0 or 1; words -32768 to 65535; dwords -2^31 to 2^32 - 1).
std::optional<Assignment> parse_assignment(std::string_view text, std::string* why);

// One point written, for the report.
struct WrittenPoint {
    int slot = 0;
    PointKind kind = PointKind::kBit;
    int index = 0;
    uint32_t value = 0;
};

// What a write sends: the slots concerned, with the points named.
struct WritePlan {
    std::set<int> slots;
    std::vector<WrittenPoint> points;  // in the order named; a later one to a point wins
};

// Sets the named outputs in the image (laid out, with the outputs last written restored for
// the slots in `known`). False, with the reason, for a slot or point the image does not hold,
// or a mask with bits beyond the slot's bit outputs; and for a slot concerned that is neither
// known nor named whole, unless `all` lets its other outputs be written as 0.
bool plan_write(ZEBImage& image, std::vector<Assignment> assignments, const std::set<int>& known,
                bool all, WritePlan* plan, std::string* why);

// "3.bit.6 = 1", or "3.word.0..2 = 1,2,3" for a run of points named together.
std::vector<std::string> written_texts(const WritePlan& plan, ValueStyle style);

}  // namespace zeb::cli
