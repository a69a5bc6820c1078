// The pieces every operation is built from: the payload writer, the reply reader, the status
// conversions and the copy-with-cut.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "core/request.h"

namespace zeb {
namespace {

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
    Request<16> r(&d);
    r.u8(0x0F).u16(0x1234).u32(0xA1B2C3D4);
    ASSERT_EQ(r.refusal(), 0u);
    EXPECT_EQ(r.length(), 16);
    EXPECT_EQ(r.data()[9], 0x0F);
    EXPECT_EQ(r.data()[10], 0x34);
    EXPECT_EQ(r.data()[12], 0xD4);
    EXPECT_EQ(r.data()[15], 0xA1);
    r.u8(0);
    EXPECT_EQ(r.refusal(), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(r.length(), 16);

    // A count is never cut to 16 bits: 65539 bytes do not fit as 3.
    const uint8_t three[3] = {1, 2, 3};
    Request<600> big(&d);
    big.u8(0x30).bytes(three, 65539);
    EXPECT_EQ(big.refusal(), ZEBERR_PACKET_TOO_LARGE);
}

TEST(RequestWriter, OnlyHeaderSizesOf9Or16AreTakenAndTheHeaderStartsZeroed) {
    ZEBDevice d{};
    for (uint16_t offset : {0, 8, 10, 15, 17, 400}) {
        d.DataOffset = offset;
        Request<600> r(&d);
        r.u8(1);
        EXPECT_EQ(r.refusal(), ZEBERR_BAD_DEVICE) << offset;
    }
    Request<600> none(nullptr);
    EXPECT_EQ(none.refusal(), ZEBERR_BAD_DEVICE);

    d.DataOffset = 16;
    Request<600> r(&d);
    std::memset(r.data(), 0xEE, 16);
    Request<600> fresh(&d);
    fresh.u8(7);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(fresh.data()[i], 0) << i;
    EXPECT_EQ(fresh.data()[16], 7);
}

TEST(ReplyBuffer, NeverReadsPastTheBytesThatArrived) {
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

TEST(ReplyReader, ReadsFieldsInOrderAndSaysWhenOneDidNotArrive) {
    const uint8_t body[] = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB, 0xCC};
    ReplyReader in(body, sizeof body);
    EXPECT_EQ(in.u16(), 0x1234);
    EXPECT_EQ(in.u32(), 0x12345678u);
    EXPECT_EQ(in.u8(), 0xAA);
    EXPECT_TRUE(in.complete());
    EXPECT_EQ(in.rest_size(), 2u);
    EXPECT_EQ(in.rest()[0], 0xBB);
    EXPECT_EQ(in.u32(), 0u);  // only two bytes left
    EXPECT_FALSE(in.complete());
    EXPECT_EQ(in.rest_size(), 0u);
    EXPECT_EQ(in.u8(), 0);
    EXPECT_EQ(in.block(0), in.rest());

    Reply<32> r;
    *r.length_slot() = 9 + 3;
    r.data()[9] = 5;
    r.data()[10] = 0;
    r.data()[11] = 9;
    ReplyReader from(r, 2);
    EXPECT_EQ(from.u8(), 9);
    EXPECT_TRUE(from.complete());
    ReplyReader past(r, 7);
    EXPECT_EQ(past.rest_size(), 0u);
}

TEST(Delivery, StatusWordThenDataByEachRule) {
    Reply<32> r;
    const uint8_t body[] = {0x12, 0x80, 1, 2, 3};
    std::memcpy(r.data() + 9, body, sizeof body);
    *r.length_slot() = 9 + sizeof body;
    uint8_t out[4] = {};
    uint16_t size = 2;
    // A refusal still delivers its data, and overrides the cut.
    EXPECT_EQ(deliver_status_and_data(r, 0, StatusRule::io_word, out, &size), 0xFFFF8012u);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 0);
    r.data()[10] = 0x00;
    size = 4;
    EXPECT_EQ(deliver_status_and_data(r, 0, StatusRule::signed_word, out, &size), 0x12u);
    EXPECT_EQ(status_only(r, 0, StatusRule::io_word), 0x8012u);
    r.data()[9] = 0;
    size = 4;
    EXPECT_EQ(deliver_status_and_data(r, ZEBWARN_RETRIED, StatusRule::io_word, out, &size),
              ZEBWARN_RETRIED);
    EXPECT_EQ(size, 3);
    // Half a status word is no answer, and nothing stale is handed over.
    *r.length_slot() = 10;
    size = 4;
    EXPECT_EQ(deliver_status_and_data(r, 0, StatusRule::io_word, out, &size), ZEBERR_NO_DATA);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(status_only(r, 0, StatusRule::signed_word), ZEBERR_NO_DATA);

    uint16_t value = 7;
    put<uint16_t>(nullptr, 3);
    put(&value, uint16_t{3});
    EXPECT_EQ(value, 3);
}

TEST(Chunks, StopAtTheFirstFailureAndCarryTheWarningToTheEnd) {
    std::vector<std::pair<size_t, size_t>> steps;
    auto record = [&](uint32_t result_at_2) {
        return [&steps, result_at_2](size_t at, size_t n) -> uint32_t {
            steps.emplace_back(at, n);
            return steps.size() == 2 ? result_at_2 : 0;
        };
    };
    EXPECT_EQ(for_each_chunk(10, 4, record(ZEBWARN_RETRIED)), ZEBWARN_RETRIED);
    EXPECT_EQ(steps, (std::vector<std::pair<size_t, size_t>>{{0, 4}, {4, 4}, {8, 2}}));
    steps.clear();
    EXPECT_EQ(for_each_chunk(10, 4, record(ZEBERR_TIMEOUT)), ZEBERR_TIMEOUT);
    EXPECT_EQ(steps.size(), 2u);
    // A socket error carries the 0x2000 bit, but it is no success: the transfer stops.
    steps.clear();
    EXPECT_EQ(for_each_chunk(10, 4, record(10054)), 10054u);
    EXPECT_EQ(steps.size(), 2u);
    steps.clear();
    EXPECT_EQ(for_each_chunk(0, 4, record(0)), 0u);
    EXPECT_TRUE(steps.empty());
}

}  // namespace
}  // namespace zeb
