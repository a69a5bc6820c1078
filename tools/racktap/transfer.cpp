#include "transfer.h"

#include "global_numbering.h"

namespace racktap {

namespace {

int bit_input(const IoMap& map, int slot, int index) {
    if (!map[slot]) return -1;
    const auto bit = get_bit(map[slot]->bit_inputs, map[slot]->counts.bit_inputs, index);
    return bit ? int{*bit} : -1;
}

int global_bit_input(const IoMap& map, int global) {
    const auto point = locate_global_bit(map, BitKind::kInput, global);
    return point ? bit_input(map, point->slot, point->index) : -1;
}

void set_bit_output(IoMap& map, int slot, int index, int value) {
    if (!map[slot]) return;
    set_bit(map[slot]->bit_outputs, map[slot]->counts.bit_outputs, index, value != 0);
}

void set_global_bit_output(IoMap& map, int global, int value) {
    if (const auto point = locate_global_bit(map, BitKind::kOutput, global)) {
        set_bit_output(map, point->slot, point->index, value);
    }
}

}  // namespace

InputValues take_input_values(const IoMap& map) {
    return {bit_input(map, 1, 0), bit_input(map, 1, 1), global_bit_input(map, 2),
            global_bit_input(map, 3)};
}

void set_outputs(IoMap& map, const InputValues& values) {
    set_bit_output(map, 3, 1, values[0]);
    set_bit_output(map, 3, 2, values[1]);
    set_global_bit_output(map, 3, values[2]);
    set_global_bit_output(map, 4, values[3]);
}

}  // namespace racktap
