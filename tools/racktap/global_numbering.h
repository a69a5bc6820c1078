#pragma once

#include <optional>

#include "io_map.h"

namespace racktap {

enum class BitKind { kInput, kOutput };

struct PointRef {
    int slot = 0;
    int index = 0;  // the point's number within its slot

    bool operator==(const PointRef&) const = default;
};

// Finds global bit point `global`. The slots' points are numbered in slot order: a slot's points
// follow those of the slots before it, and slots without such points take no numbers. Nothing
// when the number lies beyond the last slot's points.
std::optional<PointRef> locate_global_bit(const IoMap& map, BitKind kind, int global);

}  // namespace racktap
