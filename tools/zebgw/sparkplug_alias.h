// Sparkplug metric aliases: a number for each point, unique across the edge node (every
// module's points), given with the name in births and alone in data and commands. An alias is
// worked out from the module's and the point's places, (module + 1) << 16 | point, so that a
// command's alias is found without a table, and 0, which some hosts take for none, is never one.
#pragma once

#include <cstdint>
#include <optional>

#include "zeb_points.h"

namespace zebgw {

// A module's points fit 16 bits: one bit each at the most.
static_assert(ZEB_IMAGE_VALUE_BYTES * 8 <= 0xFFFF);

inline uint64_t point_alias(uint32_t module, uint32_t point) {
    return (uint64_t{module} + 1) << 16 | point;
}

struct AliasPlace {
    uint32_t module;
    uint32_t point;
};

inline std::optional<AliasPlace> alias_place(uint64_t alias) {
    const uint64_t module = alias >> 16;
    if (module == 0 || module > UINT32_MAX) return std::nullopt;
    return AliasPlace{static_cast<uint32_t>(module - 1), static_cast<uint32_t>(alias & 0xFFFF)};
}

}  // namespace zebgw
