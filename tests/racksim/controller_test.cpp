// The controller behind a module: CCM reads and writes of its data areas and K-sequence
// messages, acknowledged before they are answered, and refused at once when they cannot be
// passed on.
#include <gtest/gtest.h>

#include "functions.h"
#include "statuses.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::concat;
using test::kModuleA;

constexpr uint8_t kCcm = 0x19;
constexpr uint8_t kKseq = 0x1A;

Bytes ccm_read(uint8_t type, uint16_t address, uint8_t count_byte) {
    Bytes b{kCcm, 0x00, 0x01, kCcmRead, count_byte};
    put_u16(b, address);
    b.push_back(type);
    return b;
}

Bytes ccm_write(uint8_t type, uint16_t address, const Bytes& data) {
    Bytes b{kCcm, 0x00, 0x01, kCcmWrite, static_cast<uint8_t>(data.size())};
    put_u16(b, address);
    b.push_back(type);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes kseq(const Bytes& message) {
    return concat({{kKseq, 0x00, static_cast<uint8_t>(message.size()), 0x00}, message});
}

// The final reply's head: answered, function code, status word.
Bytes answered(uint8_t code, uint16_t status) {
    Bytes b{0x22, code};
    put_u16(b, status);
    return b;
}

// The two replies of an accepted request; the test fails unless there are exactly two and the
// first is the acknowledgement.
std::vector<test::Reply> acknowledged(Rack& rack, const Bytes& request) {
    std::vector<test::Reply> r = ask(rack, kModuleA, request);
    EXPECT_EQ(r.size(), 2u);
    if (r.size() != 2) return {test::Reply{}, test::Reply{}};
    EXPECT_EQ(r[0].payload, (Bytes{0x20, request[0]}));
    EXPECT_EQ(r[0].sequence, r[1].sequence);
    EXPECT_NE(r[0].payload, r[1].payload);
    return r;
}

ControllerArea& registers(Rack& rack) {
    return rack.module(0).controller.areas.at(1);
}

TEST(Ccm, ReadIsAcknowledgedThenAnsweredWithTheBlockAfterTheFinalDelay) {
    Rack rack = test::three_modules();
    for (size_t i = 0; i < 8; ++i) registers(rack).data[0x10 + i] = static_cast<uint8_t>(0xA0 + i);
    rack.module(0).faults.final_delay_ms = 40;
    const auto r = acknowledged(rack, ccm_read(1, 0x10, 4));
    EXPECT_EQ(r[0].delay_ms, 0u);
    EXPECT_EQ(r[1].delay_ms, 40u);
    EXPECT_EQ(r[1].payload, concat({answered(kCcm, 0), {0xA0, 0xA1, 0xA2, 0xA3}}));
}

TEST(Ccm, WriteLandsAndIsAnsweredWithTheBlockAsTheControllerHoldsIt) {
    Rack rack = test::three_modules();
    const auto r = acknowledged(rack, ccm_write(3, 62, {7, 8}));
    EXPECT_EQ(r[1].payload, concat({answered(kCcm, 0), {7, 8}}));
    const Bytes& outputs = rack.module(0).controller.areas.at(3).data;
    EXPECT_EQ(outputs[62], 7);
    EXPECT_EQ(outputs[63], 8);
}

TEST(Ccm, CountByteZeroMovesTwoHundredFiftySixBytes) {
    Rack rack = test::three_modules();
    Bytes block(256);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i ^ 0x5A);
    const auto w = acknowledged(rack, ccm_write(1, 256, block));  // the count byte goes out as 0
    EXPECT_EQ(w[1].payload, concat({answered(kCcm, 0), block}));
    const auto r = acknowledged(rack, ccm_read(1, 256, 0));
    EXPECT_EQ(r[1].payload, concat({answered(kCcm, 0), block}));
    // The last byte of the area can be read; one more is outside.
    EXPECT_EQ(acknowledged(rack, ccm_read(1, 511, 1))[1].payload.size(), 5u);
    EXPECT_EQ(acknowledged(rack, ccm_read(1, 511, 2))[1].payload,
              answered(kCcm, kStatusOutsideArea));
}

TEST(Ccm, TheControllerRefusesUnknownTypesBlocksOutsideAndReadOnlyAreasInItsAnswer) {
    Rack rack = test::three_modules();
    const Bytes before = rack.module(0).controller.areas.at(2).data;
    struct Case {
        Bytes request;
        uint16_t status;
    };
    const Case cases[] = {
        {ccm_read(9, 0, 4), kStatusNoSuchArea},
        {ccm_write(9, 0, {1}), kStatusNoSuchArea},
        {ccm_read(2, 64, 1), kStatusOutsideArea},
        {ccm_read(2, 0xFFFF, 4), kStatusOutsideArea},
        {ccm_write(3, 63, {1, 2}), kStatusOutsideArea},  // runs past the end: nothing written
        {ccm_write(2, 0, {1, 2}), kStatusAreaReadOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.request));
        EXPECT_EQ(acknowledged(rack, c.request)[1].payload, answered(kCcm, c.status));
    }
    EXPECT_EQ(rack.module(0).controller.areas.at(2).data, before);
    EXPECT_EQ(rack.module(0).controller.areas.at(3).data[63], 0);
}

TEST(Ccm, RequestsTheModuleCannotPassOnAreRefusedInPlaceOfTheAcknowledgement) {
    Rack rack = test::three_modules();
    Bytes wrong_count = ccm_write(1, 0, {1, 2, 3});
    wrong_count[4] = 2;
    Bytes wrong_op = ccm_read(1, 0, 4);
    wrong_op[3] = 0x1F;
    const Bytes read_with_data = concat({ccm_read(1, 0, 1), {9}});
    const Bytes too_long = concat({ccm_write(1, 0, Bytes(256, 1)), {1}});
    for (const Bytes& request :
         {wrong_count, wrong_op, read_with_data, too_long, Bytes{kCcm, 0, 1, kCcmRead, 4, 0, 0}}) {
        SCOPED_TRACE(::testing::PrintToString(request));
        const auto r = ask(rack, kModuleA, request);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].payload, (Bytes{0x21, kCcm, 0x02, 0x00}));
    }
    EXPECT_EQ(registers(rack).data[0], 0);

    rack.module(0).controller.present = false;
    for (const Bytes& request : {ccm_read(1, 0, 1), kseq({1, 2})}) {
        const auto r = ask(rack, kModuleA, request);
        ASSERT_EQ(r.size(), 1u);
        Bytes refused{0x21, request[0]};
        put_u16(refused, kStatusNoController);
        EXPECT_EQ(r[0].payload, refused);
    }
}

TEST(Kseq, MessagesAreEchoedUnlessScripted) {
    Rack rack = test::three_modules();
    rack.module(0).controller.scripts.push_back({{0x4E, 0x21}, {0x06, 0x01, 0x02}});
    EXPECT_EQ(acknowledged(rack, kseq({0x4E, 0x21}))[1].payload,
              concat({answered(kKseq, 0), {0x06, 0x01, 0x02}}));
    EXPECT_EQ(acknowledged(rack, kseq({0x4E, 0x22}))[1].payload,
              concat({answered(kKseq, 0), {0x4E, 0x22}}));
    EXPECT_EQ(acknowledged(rack, kseq({}))[1].payload, answered(kKseq, 0));
    const Bytes longest(256, 0x33);  // its count byte goes out as 0
    EXPECT_EQ(acknowledged(rack, kseq(longest))[1].payload, concat({answered(kKseq, 0), longest}));
}

TEST(Kseq, AnAnswerLongerThanAHostTakesIsRefusedNotSent) {
    Rack rack = test::three_modules();
    rack.module(0).controller.scripts.push_back({{1}, Bytes(kKseqAnswerMax, 2)});
    rack.module(0).controller.scripts.push_back({{2}, Bytes(kKseqAnswerMax + 1, 2)});
    EXPECT_EQ(acknowledged(rack, kseq({1}))[1].payload.size(), 4 + kKseqAnswerMax);
    EXPECT_EQ(acknowledged(rack, kseq({2}))[1].payload, answered(kKseq, kStatusAnswerTooLarge));
}

TEST(Kseq, AMessageThatDisagreesWithItsCountIsRefused) {
    Rack rack = test::three_modules();
    Bytes request = kseq({1, 2, 3});
    request[2] = 4;
    for (const Bytes& r : {request, Bytes{kKseq, 0, 0}, concat({kseq(Bytes(256, 1)), {1}})}) {
        const auto replies = ask(rack, kModuleA, r);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].payload, (Bytes{0x21, kKseq, 0x02, 0x00}));
    }
}

}  // namespace
}  // namespace racksim
