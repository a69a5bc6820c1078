// I/O as points: an image laid out from a base definition, filled from streams, changed point by
// point, and written back whole, so that writing one point never changes another.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frames.h"
#include "sim_device.h"
#include "sim_network.h"
#include "sim_rack.h"
#include "zeb_points.h"

namespace zebtest {
namespace {

struct Counts {
    uint8_t bit_in, bit_out, word_in, word_out, dword_in, dword_out;
};

// A heap image whose bytes all start as 0xCC, so that whatever the call leaves is its own.
std::unique_ptr<ZEBImage> dirty_image() {
    auto image = std::make_unique<ZEBImage>();
    std::memset(image.get(), 0xCC, sizeof *image);
    return image;
}

std::vector<std::pair<int, Counts>> slots_of(const ZEBImage& image) {
    std::vector<std::pair<int, Counts>> out;
    for (size_t i = 0; i < image.SlotCount; ++i) {
        const uint8_t* c = image.Slots[i].Count;
        out.push_back({image.Slots[i].Slot, {c[0], c[1], c[2], c[3], c[4], c[5]}});
    }
    return out;
}

bool operator==(const Counts& a, const Counts& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(Points, LayoutFromABaseDefinition) {
    struct Row {
        const char* what;
        Bytes definition;
        uint32_t result;
        std::vector<std::pair<int, Counts>> slots;
    } rows[] = {
        {"compact, kind 1", {0x00, 0x14, 0x01, 0x23, 16, 16, 0, 0}, 0, {{0, {16, 16, 0, 0, 0, 0}}}},
        {"kind 7 pairs: later pairs win, a marker pair sets nothing",
         {0x02, 0x19, 0x07, 0x50, 4, 5, 4, 6, 2, 5, 9, 7, 1},
         0,
         {{2, {0, 0, 9, 2, 0, 0}}}},
        {"kinds 3 and 5, in ascending slots whatever their order",
         {0x04, 0x14, 0x03, 0x40, 1, 2, 3, 4, 0x01, 0x16, 0x05, 0x25, 1, 2, 3, 4, 5, 6},
         0,
         {{1, {1, 2, 3, 4, 5, 6}}, {4, {1, 2, 0, 0, 3, 4}}}},
        {"extended: slot 20, and the end 0xF0 ends the walk",
         {0xB1, 0x00, 0x00, 20, 0x01, 4, 0x01, 0x22, 8, 0, 0, 0, 0xF0, 0x00, 3},
         0,
         {{20, {8, 0, 0, 0, 0, 0}}}},
        {"other items are headers alone, and 0xFF ends nothing",
         {0x32, 0x01, 0x14, 0x01, 0,    8,    0, 0, 0, 0xFF, 0xB1, 0x00, 0x05, 0x09,
          0x00, 0x04, 0x01, 0x06, 0x05, 0x00, 0, 0, 1, 0,    0,    0,    0xFF, 0x00},
         0,
         {{1, {8, 0, 0, 0, 0, 0}}, {4, {0, 0, 1, 0, 0, 0}}}},
        {"a slot described twice keeps the last record",
         {0x00, 0x14, 0x01, 0x23, 16, 0, 0, 0, 0x14, 0x01, 0x23, 0, 8, 0, 0},
         0,
         {{0, {0, 8, 0, 0, 0, 0}}}},
        {"unknown kinds, slots without points, cut records and records before a selection",
         {0x14, 0x01, 0x01, 8,    0,    0,    0,    0x01, 0x14, 0x09, 0x01, 8,
          0,    0,    0,    0x02, 0x10, 0xFF, 0x01, 0x03, 0x14, 0x01, 0x01, 8},
         0,
         {}},
        {"more points than one image holds",
         {0xB1, 0x00, 0x00, 0,    0x01, 6,    0x05, 0, 0, 0, 255, 255, 255,
          255,  0x00, 1,    0x01, 6,    0x05, 0,    8, 0, 0, 0,   0,   0},
         ZEBERR_BUFFER_TOO_SMALL,
         {{1, {8, 0, 0, 0, 0, 0}}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto image = dirty_image();
        EXPECT_EQ(ZEBImageFromBaseDef(image.get(), r.definition.data(),
                                      static_cast<uint16_t>(r.definition.size())),
                  r.result);
        EXPECT_EQ(slots_of(*image), r.slots);
        // Every value starts at 0; the values of one slot follow each other.
        for (size_t i = 0; i < image->ValueBytes; ++i) ASSERT_EQ(image->Values[i], 0) << i;
    }
}

// Slot 0: 12 bit inputs, 2 word inputs, 1 32-bit input; slot 3: 8 bit outputs and 2 word
// outputs; slot 20: 16 bit inputs.
const Bytes kDefinition = {0xB1, 0x00, 0x00, 0, 0x01, 6,    0x05, 0x25, 12, 0, 2, 0,
                           1,    0,    0x00, 3, 0x01, 4,    0x01, 0x24, 0,  8, 0, 2,
                           0x00, 20,   0x01, 4, 0x01, 0x22, 16,   0,    0,  0};

std::unique_ptr<ZEBImage> laid_out() {
    auto image = dirty_image();
    EXPECT_EQ(ZEBImageFromBaseDef(image.get(), kDefinition.data(),
                                  static_cast<uint16_t>(kDefinition.size())),
              0u);
    return image;
}

uint32_t get(const ZEBImage& image, uint8_t slot, uint8_t kind, uint16_t index) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(ZEBGetPoint(&image, slot, kind, index, &v), 0u);
    return v;
}

TEST(Points, StreamsInEitherFormatFillTheImage) {
    struct Row {
        const char* what;
        Bytes stream;
    } rows[] = {
        {"compact, items continuing each other, then extended from the switch on",
         {0x00, 0x32, 0xA5, 0x0B, 0x51, 0x34, 0x12, 0x51, 0xEF, 0xBE, 0x81, 0x0D,
          0xF0, 0xFE, 0xCA, 0xB1, 0x00, 0x00, 20,   0x03, 2,    0x0F, 0xF0, 0xFF}},
        {"extended, with values past a count, a slot not in the image and padding after the end",
         {0xB1, 0x00, 0x00, 0, 0x03, 3,    0xA5, 0x0B, 0x77, 0x05, 4,    0x34, 0x12,
          0xEF, 0xBE, 0x08, 4, 0x0D, 0xF0, 0xFE, 0xCA, 0x00, 9,    0x03, 1,    0xFF,
          0x00, 20,   0x03, 2, 0x0F, 0xF0, 0xFF, 0x00, 0x03, 0x02, 0xFF, 0xFF}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        auto image = laid_out();
        EXPECT_EQ(
            ZEBDecodeStream(image.get(), r.stream.data(), static_cast<uint16_t>(r.stream.size())),
            0u);
        std::string bits;
        for (uint16_t i = 0; i < 12; ++i) bits += char('0' + get(*image, 0, ZEB_BIT_IN, i));
        EXPECT_EQ(bits, "101001011101");
        EXPECT_EQ(get(*image, 0, ZEB_WORD_IN, 0), 0x1234u);
        EXPECT_EQ(get(*image, 0, ZEB_WORD_IN, 1), 0xBEEFu);
        EXPECT_EQ(get(*image, 0, ZEB_DWORD_IN, 0), 0xCAFEF00Du);
        EXPECT_EQ(get(*image, 20, ZEB_BIT_IN, 3), 1u);
        EXPECT_EQ(get(*image, 20, ZEB_BIT_IN, 15), 1u);
        EXPECT_EQ(get(*image, 20, ZEB_BIT_IN, 8), 0u);
        EXPECT_EQ(get(*image, 3, ZEB_BIT_OUT, 0), 0u);
    }
}

TEST(Points, AStreamCutShortKeepsTheWholeValuesThatCame) {
    auto image = laid_out();
    const Bytes cut = {0x00, 0x52, 0x34, 0x12, 0xEF};
    EXPECT_EQ(ZEBDecodeStream(image.get(), cut.data(), static_cast<uint16_t>(cut.size())), 0u);
    EXPECT_EQ(get(*image, 0, ZEB_WORD_IN, 0), 0x1234u);
    EXPECT_EQ(get(*image, 0, ZEB_WORD_IN, 1), 0u);
}

TEST(Points, PointsAreReadAndChangedWithinTheirSlotKindAndRange) {
    auto image = laid_out();
    struct Row {
        const char* what;
        uint8_t slot, kind;
        uint16_t index;
        uint32_t value;
        uint32_t result;
        int32_t as_signed;
        bool exists = true;
    } rows[] = {
        {"a bit output", 3, ZEB_BIT_OUT, 6, 1, 0, 1},
        {"a word output, negative", 3, ZEB_WORD_OUT, 1, 0xFFFE, 0, -2},
        {"a 32-bit input, negative", 0, ZEB_DWORD_IN, 0, 0x80000000u, 0, INT32_MIN},
        {"a bit takes only 0 or 1", 3, ZEB_BIT_OUT, 0, 2, ZEBERR_BAD_PARAMETER, 0},
        {"a word takes 16 bits", 3, ZEB_WORD_OUT, 0, 0x10000, ZEBERR_BAD_PARAMETER, 0},
        {"past the count", 3, ZEB_BIT_OUT, 8, 1, ZEBERR_BAD_PARAMETER, 0, false},
        {"a kind the slot does not have", 3, ZEB_BIT_IN, 0, 1, ZEBERR_BAD_PARAMETER, 0, false},
        {"a slot the image does not hold", 4, ZEB_BIT_OUT, 0, 1, ZEBERR_BAD_PARAMETER, 0, false},
        {"no such kind", 3, 7, 0, 1, ZEBERR_BAD_PARAMETER, 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const ZEBImage before = *image;
        EXPECT_EQ(ZEBSetPoint(image.get(), r.slot, r.kind, r.index, r.value), r.result);
        int32_t s = 12345;
        EXPECT_EQ(ZEBGetPointSigned(image.get(), r.slot, r.kind, r.index, &s),
                  r.exists ? 0u : ZEBERR_BAD_PARAMETER);
        if (r.result != 0) {
            EXPECT_EQ(std::memcmp(&before, image.get(), sizeof before), 0) << "changed the image";
            if (!r.exists) {
                EXPECT_EQ(s, 12345);
            }
            continue;
        }
        EXPECT_EQ(get(*image, r.slot, r.kind, r.index), r.value);
        EXPECT_EQ(s, r.as_signed);
    }
    // Neighbours keep their values.
    EXPECT_EQ(get(*image, 3, ZEB_BIT_OUT, 5), 0u);
    EXPECT_EQ(get(*image, 3, ZEB_BIT_OUT, 7), 0u);
    EXPECT_EQ(get(*image, 3, ZEB_WORD_OUT, 0), 0u);
}

TEST(Points, OutputsAreEncodedWholeInTheExtendedFormat) {
    // One module in slot 2 with 16 bit outputs and 2 word outputs.
    const Bytes def = {0x02, 0x14, 0x01, 0x30, 0, 16, 0, 2};
    auto image = dirty_image();
    ASSERT_EQ(ZEBImageFromBaseDef(image.get(), def.data(), static_cast<uint16_t>(def.size())), 0u);
    ZEBSetPoint(image.get(), 2, ZEB_BIT_OUT, 0, 1);
    ZEBSetPoint(image.get(), 2, ZEB_BIT_OUT, 15, 1);
    ZEBSetPoint(image.get(), 2, ZEB_WORD_OUT, 0, 0x0102);
    ZEBSetPoint(image.get(), 2, ZEB_WORD_OUT, 1, 0xA0B0);
    uint8_t stream[16];
    uint16_t size = sizeof stream;
    ASSERT_EQ(ZEBEncodeOutputs(image.get(), stream, &size), 0u);
    EXPECT_EQ(Bytes(stream, stream + size), (Bytes{0xB1, 0x00, 0x00, 0x02, 0x04, 0x02, 0x01, 0x80,
                                                   0x06, 0x04, 0x02, 0x01, 0xB0, 0xA0, 0xFF}));
    // One byte short of the room refuses, and says so with a size of 0.
    size = 14;
    EXPECT_EQ(ZEBEncodeOutputs(image.get(), stream, &size), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 0);

    // What is encoded decodes to the same values.
    auto copy = dirty_image();
    ASSERT_EQ(ZEBImageFromBaseDef(copy.get(), def.data(), static_cast<uint16_t>(def.size())), 0u);
    size = sizeof stream;
    ZEBEncodeOutputs(image.get(), stream, &size);
    ZEBDecodeStream(copy.get(), stream, size);
    EXPECT_EQ(std::memcmp(copy->Values, image->Values, image->ValueBytes), 0);
}

// A module whose slot 1 bit inputs show what was written to slot 3's bit outputs, and whose
// slot 4 has word outputs. One output point changes; every other output keeps its value.
TEST(Points, WritingOnePointKeepsEveryOtherOutput) {
    racksim::Rack rack;
    racksim::Module m("press", 1);
    m.add_slot(1, racksim::SlotRecord::basic(0x22, 8, 0, 0, 0)).behaviour.wired_from = 3;
    m.add_slot(3, racksim::SlotRecord::basic(0x24, 0, 8, 0, 0));
    m.add_slot(4, racksim::SlotRecord::basic(0x30, 0, 0, 0, 2));
    rack.add_module(std::move(m));
    ScopedSimNetwork net;
    SimRack sim(*net, std::move(rack));
    IpDevice dev(sim.endpoint(0), {100, 0, 0});

    auto image = dirty_image();
    ASSERT_EQ(ZEBReadImageLayout(&dev.device, image.get()), 0u);
    ASSERT_EQ(image->SlotCount, 3);
    ASSERT_EQ(ZEBSetPoint(image.get(), 3, ZEB_BIT_OUT, 0, 1), 0u);
    ASSERT_EQ(ZEBSetPoint(image.get(), 4, ZEB_WORD_OUT, 1, 4711), 0u);
    ASSERT_EQ(ZEBWriteOutputs(&dev.device, image.get()), 0u);

    ASSERT_EQ(ZEBSetPoint(image.get(), 3, ZEB_BIT_OUT, 6, 1), 0u);
    ASSERT_EQ(ZEBWriteOutputs(&dev.device, image.get()), 0u);
    const racksim::Module& module = sim.module(0);
    EXPECT_EQ(module.slot(3).io.bit_out, Bytes{0x41});
    EXPECT_EQ(module.slot(4).io.word_out, (std::vector<uint16_t>{0, 4711}));
    // The inputs the module answered with are in the image.
    EXPECT_EQ(get(*image, 1, ZEB_BIT_IN, 0), 1u);
    EXPECT_EQ(get(*image, 1, ZEB_BIT_IN, 6), 1u);
    ASSERT_EQ(ZEBReadInputs(&dev.device, image.get()), 0u);
    EXPECT_EQ(get(*image, 1, ZEB_BIT_IN, 1), 0u);

    // A failed exchange leaves the image alone.
    sim.module(0).faults.drop_first = 1;
    const ZEBImage before = *image;
    EXPECT_EQ(ZEBReadInputs(&dev.device, image.get()), ZEBERR_TIMEOUT);
    EXPECT_EQ(std::memcmp(&before, image.get(), sizeof before), 0);
}

}  // namespace
}  // namespace zebtest
