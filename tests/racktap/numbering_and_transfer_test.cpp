#include <gtest/gtest.h>

#include "global_numbering.h"
#include "transfer.h"

namespace racktap {
namespace {

IoMap slots_with_bit_inputs(int slots, uint8_t bits) {
    IoMap map;
    for (int s = 0; s < slots; ++s) map[s].emplace().counts.bit_inputs = bits;
    return map;
}

TEST(GlobalNumbering, SlotsAreNumberedInOrder) {
    const IoMap two = slots_with_bit_inputs(2, 8);
    EXPECT_EQ(locate_global_bit(two, BitKind::kInput, 2), (PointRef{0, 2}));
    EXPECT_EQ(locate_global_bit(two, BitKind::kInput, 10), (PointRef{1, 2}));
    EXPECT_EQ(locate_global_bit(two, BitKind::kInput, 15), (PointRef{1, 7}));
    EXPECT_FALSE(locate_global_bit(two, BitKind::kInput, 16));
    EXPECT_FALSE(locate_global_bit(two, BitKind::kInput, -1));
    EXPECT_FALSE(locate_global_bit(two, BitKind::kOutput, 0));

    const IoMap three = slots_with_bit_inputs(3, 8);
    EXPECT_EQ(locate_global_bit(three, BitKind::kInput, 20), (PointRef{2, 4}));
}

TEST(GlobalNumbering, SlotsWithoutPointsTakeNoNumbers) {
    IoMap map;
    map[1].emplace().counts = Counts{0, 3, 0, 0, 0, 0};
    map[2].emplace().counts = Counts{4, 0, 0, 0, 0, 0};
    map[6].emplace().counts = Counts{255, 2, 0, 0, 0, 0};
    EXPECT_EQ(locate_global_bit(map, BitKind::kInput, 0), (PointRef{2, 0}));
    EXPECT_EQ(locate_global_bit(map, BitKind::kInput, 4), (PointRef{6, 0}));
    EXPECT_EQ(locate_global_bit(map, BitKind::kInput, 258), (PointRef{6, 254}));
    EXPECT_EQ(locate_global_bit(map, BitKind::kOutput, 3), (PointRef{6, 0}));
    EXPECT_FALSE(locate_global_bit(map, BitKind::kOutput, 5));
}

TEST(BitImage, PointsBeyondCountOrImageAreAbsent) {
    std::array<uint8_t, kMaxBits / 8> image{};
    EXPECT_TRUE(set_bit(image, 100, 63, true));
    EXPECT_EQ(image[7], 0x80);
    EXPECT_FALSE(set_bit(image, 100, 64, true));
    EXPECT_FALSE(get_bit(image, 100, 64));
    EXPECT_FALSE(set_bit(image, 2, 2, true));
    EXPECT_FALSE(get_bit(image, 2, 2));
    EXPECT_FALSE(get_bit(image, 2, -1));
    EXPECT_EQ(get_bit(image, 64, 63), true);
}

TEST(Transfer, ValuesComeFromSlot1AndGlobalInputs) {
    IoMap map = slots_with_bit_inputs(2, 8);
    map[0]->bit_inputs[0] = 0b0000'0100;  // global 2 set, global 3 clear
    map[1]->bit_inputs[0] = 0b0000'0001;  // slot 1 bit 0 set, bit 1 clear
    EXPECT_EQ(take_input_values(map), (InputValues{1, 0, 1, 0}));

    IoMap none;
    EXPECT_EQ(take_input_values(none), (InputValues{-1, -1, -1, -1}));

    IoMap small;  // slot 1 with one bit input: bit 1 and globals 2 and 3 do not exist
    small[1].emplace().counts.bit_inputs = 1;
    small[1]->bit_inputs[0] = 0xFF;
    EXPECT_EQ(take_input_values(small), (InputValues{1, -1, -1, -1}));
}

TEST(Transfer, Slot3WithTwoBitOutputs) {
    IoMap map;
    map[3].emplace().counts.bit_outputs = 2;
    map[3]->bit_outputs[0] = 0b01;
    set_outputs(map, take_input_values(map));  // no slot 1: value 1 is -1, which sets
    EXPECT_EQ(map[3]->bit_outputs[0], 0b11);   // output 2 and globals 3, 4 do not exist
}

TEST(Transfer, ZeroClearsAndGlobalOutputsAreSet) {
    IoMap map;
    map[0].emplace().counts.bit_outputs = 4;
    map[3].emplace().counts.bit_outputs = 8;
    map[3]->bit_outputs[0] = 0xFF;
    set_outputs(map, InputValues{0, 1, 1, 0});
    // Slot 3 bit 1 cleared and bit 2 set; global 3 is slot 0 bit 3 (set), global 4 is slot 3
    // bit 0 (cleared).
    EXPECT_EQ(map[3]->bit_outputs[0], 0xFC);
    EXPECT_EQ(map[0]->bit_outputs[0], 0x08);
}

}  // namespace
}  // namespace racktap
