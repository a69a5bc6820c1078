#include "output_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "exchange_result.h"

namespace racktap {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(OutputStream, EmptyMapHoldsOnlySwitchAndEnd) {
    EXPECT_EQ(build_output_stream(IoMap{}), (Bytes{0xB1, 0x00, 0xFF}));
}

TEST(OutputStream, BitAndWordOutputsOfSlot2) {
    IoMap map;
    auto& d = map[2].emplace();
    d.counts = Counts{8, 16, 4, 2, 1, 0};
    d.bit_outputs = {0x12, 0x34, 0x56};
    d.word_outputs = {0xBBAA, 0xDDCC, 0xFFEE};
    d.bit_inputs[0] = 0x99;
    EXPECT_EQ(build_output_stream(map), (Bytes{0xB1, 0x00, 0x00, 0x02, 0x04, 0x02, 0x12, 0x34, 0x06,
                                               0x04, 0xAA, 0xBB, 0xCC, 0xDD, 0xFF}));
}

TEST(OutputStream, SlotsInOrderAndOnlyThoseWithOutputs) {
    IoMap map;
    map[0].emplace().counts = Counts{8, 0, 4, 0, 2, 0};  // inputs only
    auto& s5 = map[5].emplace();
    s5.counts = Counts{0, 0, 0, 0, 0, 1};
    s5.dword_outputs[0] = 0x44332211;
    auto& s1 = map[1].emplace();
    s1.counts = Counts{0, 3, 0, 0, 0, 0};
    s1.bit_outputs[0] = 0x05;
    EXPECT_EQ(build_output_stream(map), (Bytes{0xB1, 0x00, 0x00, 0x01, 0x04, 0x01, 0x05, 0x00, 0x05,
                                               0x09, 0x04, 0x11, 0x22, 0x33, 0x44, 0xFF}));
}

TEST(OutputStream, CountsBeyondTheImagesSendWhatTheImagesHold) {
    IoMap map;
    map[7].emplace().counts = Counts{0, 255, 0, 255, 0, 255};
    const Bytes s = build_output_stream(map);
    ASSERT_EQ(s.size(), 2u + 2 + (2 + 8) + (2 + 64) + (2 + 128) + 1);
    EXPECT_EQ(s[4], 0x04);
    EXPECT_EQ(s[5], 8);
    EXPECT_EQ(s[14], 0x06);
    EXPECT_EQ(s[15], 64);
    EXPECT_EQ(s[80], 0x09);
    EXPECT_EQ(s[81], 128);
    EXPECT_EQ(s.back(), 0xFF);
}

TEST(ExchangeResult, OnlyExchangesThatDeliveredDataAreRead) {
    EXPECT_TRUE(exchange_delivered(0));
    EXPECT_TRUE(exchange_delivered(0x2000));        // re-sent
    EXPECT_TRUE(exchange_delivered(0x9000));        // module status 0x1000, data delivered
    EXPECT_TRUE(exchange_delivered(0xFFFF8000u));   // module status 0x8000
    EXPECT_FALSE(exchange_delivered(0x8004));       // buffer too small
    EXPECT_FALSE(exchange_delivered(0x8006));       // time-out
    EXPECT_FALSE(exchange_delivered(0xFFFF8012u));  // module status 0x8012
    EXPECT_FALSE(exchange_delivered(10054));        // socket error passed through
    EXPECT_FALSE(exchange_delivered(109));          // system error passed through
}

}  // namespace
}  // namespace racktap
