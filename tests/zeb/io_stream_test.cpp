// Base definitions and I/O item streams as zeb reads and writes them, and output values from
// the command line.
#include "io_stream.h"

#include <gtest/gtest.h>

#include "io_assign.h"

namespace zeb::cli {
namespace {

using B = Bytes;

TEST(BaseDefinition, CompactAndExtendedRecordsOfEveryKind) {
    // Compact: slot 0 kind 1 (16 in, 16 out); then extended: slot 2 kind 3, slot 17 kind 7,
    // slot 3 kind 255, then the end item and what follows it.
    const B def = {0x00, 0x14, 0x01, 0x23, 16,   16,   0,    0,           //
                   0xB1, 0x00,                                            //
                   0x00, 0x02, 0x01, 0x04, 0x03, 0x40, 1,    2, 3, 4,     //
                   0x00, 17,   0x01, 0x05, 0x07, 0x50, 2,    5, 4, 6, 2,  //
                   0x00, 0x03, 0x01, 0x00, 0xFF, 0x01,                    //
                   0xF0, 0x00, 0x05, 0x01, 0x04, 0x01, 0x00, 9, 9, 9, 9};
    const BaseLayout layout = parse_base_definition(def);
    ASSERT_EQ(layout.size(), 4u);
    EXPECT_EQ(layout[0], (SlotLayout{0, 1, 0x23, {16, 16, 0, 0, 0, 0}}));
    EXPECT_EQ(layout[1], (SlotLayout{2, 3, 0x40, {1, 2, 0, 0, 3, 4}}));
    EXPECT_EQ(layout[2], (SlotLayout{3, 255, 0x01, {}}));
    EXPECT_EQ(layout[3], (SlotLayout{17, 7, 0x50, {0, 0, 4, 2, 0, 0}}));
}

TEST(BaseDefinition, WhatDescribesNothing) {
    // A record before any selection, a record of kind 9, a record cut short.
    EXPECT_TRUE(parse_base_definition(B{0x14, 0x01, 0x23, 16, 16, 0, 0}).empty());
    EXPECT_TRUE(parse_base_definition(B{0x00, 0x14, 0x09, 0x23, 16, 16, 0, 0}).empty());
    EXPECT_TRUE(parse_base_definition(B{0x00, 0x14, 0x01, 0x23, 16}).empty());
    // A slot described twice keeps its last record; unknown items pass with their header only.
    const BaseLayout twice =
        parse_base_definition(B{0x01, 0x14, 1, 1, 8, 0, 0, 0, 0x70, 0x14, 1, 2, 0, 8, 0, 0});
    ASSERT_EQ(twice.size(), 1u);
    EXPECT_EQ(twice[0].counts.bit_out, 8);
}

TEST(InputStream, InputsBySlotInBothFormats) {
    // Compact: slot 1, 2 bit bytes, 2 words; then extended: slot 2, 32-bit inputs, outputs
    // (ignored), a type above 15 (header only), an end item.
    const B stream = {0x01, 0x32, 0x05, 0x80, 0x52, 0x34, 0x12, 0xCD, 0xAB,        //
                      0xB1, 0x00, 0x00, 0x02, 0x08, 0x04, 0x01, 0x00, 0x00, 0x80,  //
                      0x04, 0x01, 0xFF, 0x30, 0x07, 0x0F, 0x00, 0x03, 0x01, 0xFF};
    const Image image = parse_inputs(stream);
    ASSERT_EQ(image.size(), 2u);
    EXPECT_EQ(image.at(1).bits,
              (std::vector<uint8_t>{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(image.at(1).words, (std::vector<uint16_t>{0x1234, 0xABCD}));
    EXPECT_EQ(image.at(2).dwords, (std::vector<uint32_t>{0x80000001u}));
    EXPECT_TRUE(image.at(2).bits.empty()) << "outputs are not inputs";
}

TEST(InputStream, ItemsContinueAndCutShortKeepsWholeValues) {
    // Two word items for one slot continue each other; a 32-bit item cut short keeps none.
    const B stream = {0xB1, 0x00, 0x00, 0x04, 0x05, 0x02, 0x01, 0x00,
                      0x05, 0x02, 0x02, 0x00, 0x08, 0x04, 0x01, 0x02};
    const Image image = parse_inputs(stream);
    EXPECT_EQ(image.at(4).words, (std::vector<uint16_t>{1, 2}));
    EXPECT_TRUE(image.at(4).dwords.empty());
    // The end byte ends it; a slot selected without inputs is not listed.
    EXPECT_TRUE(parse_inputs(B{0x03, 0xFF, 0x31, 0x01}).empty());

    Image fitted = parse_inputs(B{0x00, 0x31, 0xFF, 0x51, 0x07, 0x00});
    fit_inputs(fitted, {SlotLayout{0, 1, 0, {4, 0, 0, 0, 0, 0}}});
    EXPECT_EQ(fitted.at(0).bits, (std::vector<uint8_t>{1, 1, 1, 1}));
    EXPECT_TRUE(fitted.at(0).words.empty()) << "the layout says no words";
}

TEST(OutputStream, ExtendedFormatWithLongRunsSplit) {
    Image outputs;
    outputs[2].bits = {1, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    outputs[2].words = {0x1234};
    outputs[5].dwords = {0xAABBCCDDu};
    EXPECT_EQ(build_output_stream(outputs),
              (B{0xB1, 0x00, 0x00, 0x02, 0x04, 0x02, 0x01, 0x02, 0x06, 0x02, 0x34,
                 0x12, 0x00, 0x05, 0x09, 0x04, 0xDD, 0xCC, 0xBB, 0xAA, 0xFF}));

    Image many;
    many[0].words.assign(200, 0x0101);  // 400 bytes: items of 254 and 146
    const B stream = build_output_stream(many);
    ASSERT_EQ(stream.size(), 2u + 2u + 2u + 254u + 2u + 146u + 1u);
    EXPECT_EQ(stream[4], 0x06);
    EXPECT_EQ(stream[5], 254);
    EXPECT_EQ(stream[6 + 254], 0x06);
    EXPECT_EQ(stream[6 + 254 + 1], 146);
    // What the stream writes reads back as the same values.
    EXPECT_EQ(build_output_stream({}), (B{0xB1, 0x00, 0xFF}));
}

TEST(Assignments, ParsedAndCheckedAgainstTheBase) {
    std::string why;
    const auto one = parse_assignment("3.bit.1=1", &why);
    ASSERT_TRUE(one) << why;
    EXPECT_EQ(one->slot, 3);
    EXPECT_EQ(one->kind, PointKind::kBit);
    EXPECT_EQ(one->first, 1);
    EXPECT_EQ(one->values, std::vector<uint32_t>{1});
    const auto list = parse_assignment("4.w=1,-1,0x10", &why);
    ASSERT_TRUE(list) << why;
    EXPECT_EQ(list->values, (std::vector<uint32_t>{1, 0xFFFF, 0x10}));
    EXPECT_EQ(parse_assignment("5.dword.0=-2147483648", &why)->values[0], 0x80000000u);
    for (const char* bad : {"3.bit.1", "3.bit.1=", "3=1", "3.bit.1.2=1", "256.bit.0=1",
                            "3.bits.0=1", "3.bit.x=1", "3.dword.0=4294967296", "3.bit.0=1,1"}) {
        EXPECT_FALSE(parse_assignment(bad, &why)) << bad;
    }

    const BaseLayout layout = {SlotLayout{3, 1, 0, {0, 8, 0, 2, 0, 0}}};
    Image out;
    ASSERT_TRUE(
        build_outputs({*parse_assignment("3.bit.2=1", &why), *parse_assignment("3.word=5,6", &why),
                       *parse_assignment("3.bit.0=1", &why), *parse_assignment("3.bit.2=0", &why)},
                      layout, &out, &why))
        << why;
    EXPECT_EQ(out.at(3).bits, (std::vector<uint8_t>{1, 0, 0})) << "up to the highest, later wins";
    EXPECT_EQ(out.at(3).words, (std::vector<uint16_t>{5, 6}));
    EXPECT_FALSE(build_outputs({*parse_assignment("3.bit.8=1", &why)}, layout, &out, &why));
    EXPECT_EQ(why, "slot 3 has 8 bit outputs, numbered from 0");
    EXPECT_FALSE(build_outputs({*parse_assignment("3.word=1,2,3", &why)}, layout, &out, &why));
    EXPECT_FALSE(build_outputs({*parse_assignment("4.bit.0=1", &why)}, layout, &out, &why));
    EXPECT_EQ(why, "slot 4 holds no module");
}

}  // namespace
}  // namespace zeb::cli
