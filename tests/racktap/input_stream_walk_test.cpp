#include <gtest/gtest.h>

#include <vector>

#include "item_walks.h"

namespace racktap {
namespace {

// Slot 0 described with room in every image; the other slots empty.
IoMap slot0_map() {
    IoMap map;
    map[0].emplace().counts = Counts{64, 64, 32, 32, 32, 32};
    return map;
}

IoMap walk(const std::vector<uint8_t>& stream, IoMap map = slot0_map()) {
    store_inputs(stream, map);
    return map;
}

TEST(InputStreamWalk, CompactItemsCountElements) {
    const auto map = walk({0x00, 0x31, 0xAA, 0x52, 0x34, 0x12, 0x78, 0x56,  //
                           0x81, 0x44, 0x33, 0x22, 0x11, 0x41, 0x5A, 0xFF});
    const auto& d = *map[0];
    EXPECT_EQ(d.bit_inputs[0], 0xAA);
    EXPECT_EQ(d.word_inputs[0], 0x1234);
    EXPECT_EQ(d.word_inputs[1], 0x5678);
    EXPECT_EQ(d.word_inputs[2], 0);
    EXPECT_EQ(d.dword_inputs[0], 0x11223344u);
    EXPECT_EQ(d.bit_outputs[0], 0x5A);
}

TEST(InputStreamWalk, ExtendedItemsCountBytes) {
    const auto map = walk({0xB1, 0x00, 0x00, 0x00, 0x03, 0x02, 0xAA, 0xBB, 0x05, 0x04, 0x34, 0x12,
                           0x78, 0x56, 0x08, 0x04, 0x44, 0x33, 0x22, 0x11, 0x06, 0x02, 0xCD, 0xAB,
                           0x09, 0x04, 0x01, 0x00, 0x00, 0x80, 0x04, 0x01, 0x0F, 0xFF});
    const auto& d = *map[0];
    EXPECT_EQ(d.bit_inputs[0], 0xAA);
    EXPECT_EQ(d.bit_inputs[1], 0xBB);
    EXPECT_EQ(d.word_inputs[0], 0x1234);
    EXPECT_EQ(d.word_inputs[1], 0x5678);
    EXPECT_EQ(d.dword_inputs[0], 0x11223344u);
    EXPECT_EQ(d.word_outputs[0], 0xABCD);
    EXPECT_EQ(d.dword_outputs[0], 0x80000001u);
    EXPECT_EQ(d.bit_outputs[0], 0x0F);
}

TEST(InputStreamWalk, ItemsLongerThanTheImageAreCut) {
    std::vector<uint8_t> s{0xB1, 0x00, 0x00, 0x00, 0x03, 10};
    for (int i = 0; i < 10; ++i) s.push_back(static_cast<uint8_t>(i + 1));
    s.insert(s.end(), {0x05, 80});
    for (int i = 0; i < 40; ++i) s.insert(s.end(), {static_cast<uint8_t>(i), 0x10});
    s.insert(s.end(), {0x08, 160});
    for (int i = 0; i < 40; ++i) s.insert(s.end(), {static_cast<uint8_t>(i), 0, 0, 0x20});
    s.insert(s.end(), {0x04, 0x01, 0x77, 0xFF});

    IoMap map = slot0_map();
    map[1].emplace();  // a neighbour that must stay untouched
    map = walk(s, map);
    const auto& d = *map[0];
    for (int i = 0; i < 8; ++i) EXPECT_EQ(d.bit_inputs[i], i + 1);
    EXPECT_EQ(d.word_inputs[31], 0x101F);
    EXPECT_EQ(d.dword_inputs[31], 0x2000001Fu);
    EXPECT_EQ(d.bit_outputs[0], 0x77);  // the walk went on after the cut items
    EXPECT_EQ(map[1]->bit_inputs[0], 0);
    EXPECT_EQ(map[1]->word_inputs[0], 0);
}

TEST(InputStreamWalk, OnlyADescribedSlotIsSelected) {
    // Slot 9 and the empty slot 2 select nothing; data before any selection is not stored.
    const auto map = walk({0x31, 0x11, 0xB1, 0x00, 0x00, 0x00, 0x00, 0x09, 0x03, 0x01, 0x22, 0x00,
                           0x02, 0x03, 0x01, 0x33, 0xFF});
    EXPECT_EQ(map[0]->bit_inputs[0], 0);
    EXPECT_FALSE(map[2]);
    EXPECT_EQ(walk({0x08, 0x31, 0x44})[0]->bit_inputs[0], 0);  // compact slot 8
}

TEST(InputStreamWalk, EndsAtEndItemOrEndByte) {
    EXPECT_EQ(walk({0x00, 0x31, 0x01, 0xFF, 0x31, 0x02})[0]->bit_inputs[0], 0x01);
    EXPECT_EQ(walk({0x00, 0x31, 0x01, 0xF0, 0x31, 0x02})[0]->bit_inputs[0], 0x01);
    EXPECT_EQ(walk({0xB1, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x03, 0x01, 0x02})[0]->bit_inputs[0], 0);
    EXPECT_EQ(walk({0xB1, 0x00, 0x00, 0x00, 0x0F, 0x00, 0x03, 0x01, 0x02})[0]->bit_inputs[0], 0);
}

TEST(InputStreamWalk, DataCutByTheEndStoresWhatWasDelivered) {
    auto map = walk({0xB1, 0x00, 0x00, 0x00, 0x03, 0x04, 0xAA, 0xBB});
    EXPECT_EQ(map[0]->bit_inputs[0], 0xAA);
    EXPECT_EQ(map[0]->bit_inputs[1], 0xBB);
    EXPECT_EQ(map[0]->bit_inputs[2], 0);

    map = walk({0x00, 0x53, 0x34, 0x12, 0x78});  // the half word is dropped
    EXPECT_EQ(map[0]->word_inputs[0], 0x1234);
    EXPECT_EQ(map[0]->word_inputs[1], 0);

    map = walk({0xB1, 0x00, 0x00, 0x00, 0x08, 0x08, 0x01, 0x02, 0x03, 0x04, 0x05});
    EXPECT_EQ(map[0]->dword_inputs[0], 0x04030201u);
    EXPECT_EQ(map[0]->dword_inputs[1], 0u);

    EXPECT_EQ(walk({0xB1, 0x00, 0x00})[0]->bit_inputs[0], 0);  // header cut in half
}

TEST(InputStreamWalk, ItemsPassedOverWithTheirData) {
    // Types 1 and 14 carry length + 2 bytes, 7 none, 2/10/12/13 length bytes. The bit-output
    // items hidden in their data must not be read as items.
    const auto compact = walk({0x00, 0x12, 0x41, 0x99, 0x41, 0x99, 0xE0, 0x41, 0x99, 0x75, 0x23,
                               0x41, 0x99, 0x99, 0xA1, 0x41, 0xC1, 0x41, 0xD0, 0x31, 0x42});
    EXPECT_EQ(compact[0]->bit_outputs[0], 0);
    EXPECT_EQ(compact[0]->bit_inputs[0], 0x42);

    const auto extended =
        walk({0xB1, 0x00, 0x00, 0x00, 0x01, 0x01, 0x04, 0x01, 0x99, 0x0E, 0x00, 0x04,
              0x01, 0x07, 0x05, 0x02, 0x02, 0x04, 0x01, 0x03, 0x01, 0x42, 0xFF});
    EXPECT_EQ(extended[0]->bit_outputs[0], 0);
    EXPECT_EQ(extended[0]->bit_inputs[0], 0x42);
}

TEST(InputStreamWalk, ExtendedTypesAbove15PassOverTheHeaderOnly) {
    const auto map = walk({0xB1, 0x00, 0x00, 0x00, 0x20, 0x05, 0x03, 0x01, 0x42, 0xFF});
    EXPECT_EQ(map[0]->bit_inputs[0], 0x42);
}

TEST(InputStreamWalk, EmptyMapStoresNothing) {
    IoMap map;
    store_inputs(std::vector<uint8_t>{0x00, 0x31, 0x01, 0xFF}, map);
    for (const auto& slot : map) EXPECT_FALSE(slot);
}

}  // namespace
}  // namespace racktap
