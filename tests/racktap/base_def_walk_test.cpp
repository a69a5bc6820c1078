#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "item_walks.h"

namespace racktap {
namespace {

IoMap walk(const std::vector<uint8_t>& data) {
    return build_io_map(data);
}

int described(const IoMap& map) {
    int n = 0;
    for (const auto& slot : map) n += slot.has_value();
    return n;
}

TEST(BaseDefWalk, CompactRecordOfKind1) {
    const auto map = walk({0x00, 0x14, 0x01, 0x23, 16, 16, 0, 0});
    ASSERT_TRUE(map[0]);
    EXPECT_EQ(map[0]->counts, (Counts{16, 16, 0, 0, 0, 0}));
    EXPECT_EQ(described(map), 1);
}

TEST(BaseDefWalk, ExtendedFormatWithEveryKnownKind) {
    const auto map = walk({
        0xB1, 0x00,                                            // switch to the extended format
        0x00, 0x01, 0x01, 0x04, 0x01, 0x10, 8, 4, 2, 1,        // slot 1, kind 1
        0x00, 0x02, 0x01, 0x05, 0x07, 0x10, 2, 5, 4, 6, 2,     // slot 2, kind 7
        0x00, 0x03, 0x01, 0x04, 0x03, 0x10, 1, 2, 3, 4,        // slot 3, kind 3
        0x00, 0x05, 0x01, 0x06, 0x05, 0x10, 1, 2, 3, 4, 5, 6,  // slot 5, kind 5
        0x00, 0x07, 0x01, 0x00, 0xFF, 0x10,                    // slot 7, kind 255
        0xF0,
    });
    EXPECT_EQ(described(map), 5);
    ASSERT_TRUE(map[1] && map[2] && map[3] && map[5] && map[7]);
    EXPECT_EQ(map[1]->counts, (Counts{8, 4, 2, 1, 0, 0}));
    EXPECT_EQ(map[2]->counts, (Counts{0, 0, 4, 2, 0, 0}));
    EXPECT_EQ(map[3]->counts, (Counts{1, 2, 0, 0, 3, 4}));
    EXPECT_EQ(map[5]->counts, (Counts{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(map[7]->counts, Counts{});
}

TEST(BaseDefWalk, UnknownKindsAndFaultyPlacesCreateNothing) {
    EXPECT_EQ(described(walk({0x00, 0x14, 0x02, 0x23, 16, 16, 0, 0})), 0);  // kind 2
    EXPECT_EQ(described(walk({0x14, 0x01, 0x23, 16, 16, 0, 0})), 0);        // no slot selected
    EXPECT_EQ(described(walk({0x09, 0x14, 0x01, 0x23, 16, 16, 0, 0})), 0);  // slot 9
    EXPECT_EQ(described(walk({0xB1, 0x00, 0x00, 0x08, 0x01, 0x00, 0xFF, 0x10})), 0);  // slot 8
}

TEST(BaseDefWalk, LaterRecordForTheSameSlotReplacesTheFirst) {
    const auto map = walk({0x03, 0x14, 0x01, 0, 8, 8, 0, 0, 0x14, 0x01, 0, 1, 2, 3, 4});
    ASSERT_TRUE(map[3]);
    EXPECT_EQ(map[3]->counts, (Counts{1, 2, 3, 4, 0, 0}));
}

TEST(BaseDefWalk, OtherItemsPassOverTheirHeaderOnly) {
    // Compact 0x32 (type 3, length 2) and extended 0x05 0x09 are followed at once by items.
    const auto map = walk({0x32, 0x01, 0x14, 0x01, 0, 8, 0, 0, 0,  //
                           0xB1, 0x00, 0x05, 0x09, 0x00, 0x04, 0x01, 0x00, 0xFF, 0x00});
    ASSERT_TRUE(map[1]);
    EXPECT_EQ(map[1]->counts.bit_inputs, 8);
    EXPECT_TRUE(map[4]);
}

TEST(BaseDefWalk, EndItemStopsTheWalk) {
    const auto map = walk({0xB1, 0x00, 0x00, 0x01, 0x01, 0x00, 0xFF, 0x00,  //
                           0xF0, 0x00, 0x02, 0x01, 0x00, 0xFF, 0x00});
    EXPECT_TRUE(map[1]);
    EXPECT_FALSE(map[2]);
}

TEST(BaseDefWalk, TruncatedDataEndsTheWalkSafely) {
    EXPECT_EQ(described(walk({})), 0);
    // The second record runs past the end: the first stays, the second is not created.
    const auto map = walk({0x00, 0x14, 0x01, 0, 8, 8, 0, 0, 0x01, 0x14, 0x01, 0, 8});
    EXPECT_TRUE(map[0]);
    EXPECT_FALSE(map[1]);
    EXPECT_EQ(described(walk({0xB1})), 0);              // filler missing
    EXPECT_EQ(described(walk({0xB1, 0x00, 0x00})), 0);  // extended header cut in half
    EXPECT_EQ(described(walk({0xB1, 0x00, 0x00, 0x01, 0x01, 0x04, 0x01})), 0);
}

// A module record alone in slot 0 of an extended definition: its counts, when it describes a
// module.
std::optional<Counts> record_counts(const std::vector<uint8_t>& record) {
    std::vector<uint8_t> def{0xB1, 0x00, 0x00, 0x00, 0x01, static_cast<uint8_t>(record.size() - 2)};
    def.insert(def.end(), record.begin(), record.end());
    const IoMap map = walk(def);
    if (!map[0]) return std::nullopt;
    return map[0]->counts;
}

TEST(ModuleRecord, Kind7PairsSetOnlyTheCountsTheyName) {
    EXPECT_EQ(record_counts({0x07, 0x10, 2, 5, 4, 6, 2}), (Counts{0, 0, 4, 2, 0, 0}));
    EXPECT_EQ(record_counts({0x07, 0x10, 8, 3, 1, 4, 2, 5, 3, 6, 4, 8, 5, 9, 6, 7, 9, 2, 9}),
              (Counts{1, 2, 3, 4, 5, 6}));
}

TEST(ModuleRecord, RecordsTooShortForTheirKindDescribeNothing) {
    EXPECT_FALSE(record_counts({0x01, 0x10, 1, 2, 3}));
    EXPECT_FALSE(record_counts({0x03, 0x10, 1, 2, 3}));
    EXPECT_FALSE(record_counts({0x05, 0x10, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(record_counts({0x07, 0x10}));
    EXPECT_FALSE(record_counts({0x07, 0x10, 3, 3, 1, 4, 2}));
    EXPECT_EQ(record_counts({0xFF, 0x10}), Counts{});
    EXPECT_FALSE(record_counts({0x04, 0x10, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace racktap
