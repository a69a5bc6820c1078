#include "global_numbering.h"

namespace racktap {

std::optional<PointRef> locate_global_bit(const IoMap& map, BitKind kind, int global) {
    if (global < 0) return std::nullopt;
    int first = 0;  // global number of the slot's first point
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!map[slot]) continue;
        const Counts& c = map[slot]->counts;
        const int count = kind == BitKind::kInput ? c.bit_inputs : c.bit_outputs;
        if (global < first + count) return PointRef{slot, global - first};
        first += count;
    }
    return std::nullopt;
}

}  // namespace racktap
