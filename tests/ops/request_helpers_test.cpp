// The pieces every operation is built from: the payload writer, the reply reader, the status
// conversions and the copy-with-cut.
#include <gtest/gtest.h>

#include "core/request.h"

namespace zeb {
namespace {

TEST(StatusWords, IoStatusIsSignExtendedWithBit15Set) {
    EXPECT_EQ(status_io(0x0005), 0x8005u);
    EXPECT_EQ(status_io(0x0012), 0x8012u);
    EXPECT_EQ(status_io(0x1000), 0x9000u);
    EXPECT_EQ(status_io(0x8012), 0xFFFF8012u);
    EXPECT_EQ(status_signed(0x8003), 0xFFFF8003u);
    EXPECT_EQ(status_signed(0x0007), 7u);
}

TEST(CopyCut, DeliversWhatFitsAndSaysWhenItCut) {
    const uint8_t data[20] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                              11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    uint8_t out[20] = {};
    uint16_t size = 16;
    EXPECT_EQ(copy_cut(data, 20, out, &size, 0), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(out[15], 16);
    EXPECT_EQ(out[16], 0);  // nothing past the capacity
    size = 20;
    EXPECT_EQ(copy_cut(data, 20, out, &size, ZEBWARN_RETRIED), ZEBWARN_RETRIED);
    EXPECT_EQ(size, 20);
    // A null buffer or size takes nothing, and data for it is reported as cut.
    size = 20;
    EXPECT_EQ(copy_cut(data, 20, nullptr, &size, 0), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(copy_cut(data, 3, out, nullptr, 0), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(copy_cut(data, 0, nullptr, nullptr, 0), 0u);
}

TEST(RequestWriter, RefusesWhatDoesNotFitAndWritesLittleEndian) {
    ZEBDevice d{};
    d.DataOffset = 9;
    Request<16> r(d);
    r.u8(0x0F).u16(0x1234).u32(0xA1B2C3D4);
    ASSERT_TRUE(r.fits());
    EXPECT_EQ(r.length(), 16);
    EXPECT_EQ(r.data()[9], 0x0F);
    EXPECT_EQ(r.data()[10], 0x34);
    EXPECT_EQ(r.data()[12], 0xD4);
    EXPECT_EQ(r.data()[15], 0xA1);
    r.u8(0);
    EXPECT_FALSE(r.fits());
    EXPECT_EQ(r.length(), 16);

    // A record whose DataOffset lies past the buffer writes nothing at all.
    d.DataOffset = 400;
    Request<16> far(d);
    far.u8(1);
    EXPECT_FALSE(far.fits());
}

TEST(ReplyReader, NeverReadsPastTheBytesThatArrived) {
    Reply<32> r;
    *r.length_slot() = 10;  // header and one body byte
    r.data()[9] = 0x42;
    EXPECT_EQ(r.body_size(), 1u);
    EXPECT_TRUE(r.has(0, 1));
    EXPECT_FALSE(r.has(0, 2));
    EXPECT_EQ(r.u16(0), 0);  // a status word that did not arrive reads as nothing
    EXPECT_EQ(r.body_size_from(2), 0u);
    *r.length_slot() = 0;
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(r.body_size(), 0u);
}

}  // namespace
}  // namespace zeb
