// CRC-16/XMODEM of the frame body.
#include <gtest/gtest.h>

#include <random>

#include "core/crc16.h"
#include "frames.h"

namespace zebtest {
namespace {

uint16_t library_crc(const Bytes& b) {
    return zeb::crc16(b.data(), b.size());
}

TEST(Crc16, KnownValues) {
    EXPECT_EQ(library_crc(text_bytes("abc")), 0x9DD6);
    EXPECT_EQ(library_crc(text_bytes("123456789")), 0x31C3);  // the algorithm's check value
    EXPECT_EQ(library_crc({}), 0);
    EXPECT_EQ(library_crc({0x05}), 0x50A5);  // the discovery query's body
}

TEST(Crc16, AgreesWithABitwiseCrcOnEveryByteValueAndManyLengths) {
    for (int b = 0; b < 256; ++b) {
        const Bytes one{static_cast<uint8_t>(b)};
        ASSERT_EQ(library_crc(one), reference_crc(one)) << "byte " << b;
    }
    std::mt19937 random(12345);
    for (size_t len = 0; len < 1600; len += 7) {
        Bytes data(len);
        for (uint8_t& x : data) x = static_cast<uint8_t>(random());
        ASSERT_EQ(library_crc(data), reference_crc(data)) << "length " << len;
    }
}

}  // namespace
}  // namespace zebtest
