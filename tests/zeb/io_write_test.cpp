// zeb io write without the network: the command line's values, the plan of what a write sends
// (named points over the outputs last written, or a refusal), and the record kept between runs.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "io_assign.h"
#include "outputs_record.h"

namespace zeb::cli {
namespace {

// Slot 3: 8 bit outputs and 2 word outputs; slot 5: 2 32-bit outputs and 1 bit input.
std::unique_ptr<ZEBImage> image() {
    const uint8_t def[] = {0xB1, 0x00, 0x00, 0x03, 0x01, 0x04, 0x01, 0x00, 0, 8, 0,   2,
                           0x00, 0x05, 0x01, 0x04, 0x03, 0x00, 1,    0,    0, 2, 0xF0};
    auto image = new_image();
    EXPECT_EQ(ZEBImageFromBaseDef(image.get(), def, sizeof def), 0u);
    return image;
}

Assignment parsed(const char* text) {
    std::string why;
    const auto a = parse_assignment(text, &why);
    EXPECT_TRUE(a) << text << ": " << why;
    return a.value_or(Assignment{});
}

TEST(Assignments, Parsed) {
    std::string why;
    const Assignment one = parsed("3.bit.1=1");
    EXPECT_EQ(one.slot, 3);
    EXPECT_EQ(one.kind, PointKind::kBit);
    EXPECT_EQ(one.first, 1);
    EXPECT_EQ(one.values, std::vector<uint32_t>{1});
    EXPECT_EQ(parsed("4.w=1,-1,0x10").values, (std::vector<uint32_t>{1, 0xFFFF, 0x10}));
    EXPECT_EQ(parsed("5.dword.0=-2147483648").values[0], 0x80000000u);
    EXPECT_EQ(parsed("3.bits=0x41").mask, (Bytes{0x41}));
    EXPECT_EQ(parsed("3.bits=0x0100").mask, (Bytes{0x00, 0x01}));
    EXPECT_EQ(parsed("3.bits=65").mask, (Bytes{0x41}));
    EXPECT_EQ(parsed("3.bits=0").mask, Bytes{});
    for (const char* bad :
         {"3.bit.1", "3.bit.1=", "3=1", "3.bit.1.2=1", "256.bit.0=1", "3.bits.0=1", "3.bit.x=1",
          "3.dword.0=4294967296", "3.bit.0=1,1", "3.bits=0x4G", "3.bits=-1"}) {
        EXPECT_FALSE(parse_assignment(bad, &why)) << bad;
    }
}

TEST(WritePlan, NamedPointsOverTheOutputsLastWritten) {
    auto img = image();
    // As restored from a record: slot 3's bits 0 and 7 on, its words 5 and 6.
    for (const uint16_t i : {0, 7}) ZEBSetPoint(img.get(), 3, ZEB_BIT_OUT, i, 1);
    ZEBSetPoint(img.get(), 3, ZEB_WORD_OUT, 0, 5);
    ZEBSetPoint(img.get(), 3, ZEB_WORD_OUT, 1, 6);
    WritePlan plan;
    std::string why;
    ASSERT_TRUE(
        plan_write(*img, {parsed("3.bit.6=1"), parsed("3.word.1=-2")}, {3}, false, &plan, &why))
        << why;
    EXPECT_EQ(plan.slots, std::set<int>{3}) << "slot 5 is not sent";
    EXPECT_EQ(point_values(*img, 3, PointKind::kBit, true),
              (std::vector<uint32_t>{1, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(point_values(*img, 3, PointKind::kWord, true), (std::vector<uint32_t>{5, 0xFFFE}));
    EXPECT_EQ(written_texts(plan, {}),
              (std::vector<std::string>{"3.bit.6 = 1", "3.word.1 = 65534"}));
    EXPECT_EQ(written_texts(plan, {.is_signed = true}),
              (std::vector<std::string>{"3.bit.6 = 1", "3.word.1 = -2"}));

    // A slot written whole needs no record; a run of points reads as one.
    auto fresh = image();
    ASSERT_TRUE(
        plan_write(*fresh, {parsed("3.bits=0x41"), parsed("3.word=1,2")}, {}, false, &plan, &why))
        << why;
    EXPECT_EQ(point_values(*fresh, 3, PointKind::kBit, true),
              (std::vector<uint32_t>{1, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(
        written_texts(plan, {.hex = true}),
        (std::vector<std::string>{"3.bit.0..7 = 1,0,0,0,0,0,1,0", "3.word.0..1 = 0x0001,0x0002"}));
}

TEST(WritePlan, RefusedWithTheReason) {
    struct Case {
        std::vector<const char*> values;
        std::set<int> known;
        bool all;
        const char* says;  // nullptr: planned
    };
    const Case cases[] = {
        // Without a record a slot is written only when named whole, or with --all.
        {{"3.bit.6=1"}, {}, false, "does not know what this host last wrote to slot 3"},
        {{"3.bits=0x41"}, {}, false, "writing 8 points of its 10 outputs"},
        {{"3.bits=0x41", "3.word=1,2"}, {}, false, nullptr},
        {{"3.bit.6=1"}, {}, true, nullptr},
        {{"3.bit.6=1"}, {5}, false, "slot 3"},
        {{"5.dword.0=1"}, {3}, false, "slot 5"},
        // What the image does not hold.
        {{"2.bit.0=1"}, {3}, false, "slot 2 holds no module with I/O"},
        {{"3.bit.8=1"}, {3}, false, "slot 3 has 8 bit outputs, numbered from 0"},
        {{"5.word.0=1"}, {5}, false, "slot 5 has 0 word outputs"},
        {{"3.word=1,2,3"}, {3}, false, "slot 3 has 2 word outputs"},
        {{"3.bits=0x100"}, {3}, false, "the mask sets bits beyond them"},
        {{"5.bits=1"}, {5}, false, "slot 5 has 0 bit outputs"},
    };
    for (const Case& c : cases) {
        auto img = image();
        std::vector<Assignment> assignments;
        for (const char* v : c.values) assignments.push_back(parsed(v));
        WritePlan plan;
        std::string why;
        const bool planned = plan_write(*img, assignments, c.known, c.all, &plan, &why);
        EXPECT_EQ(planned, c.says == nullptr) << c.values[0] << ": " << why;
        if (c.says) {
            EXPECT_NE(why.find(c.says), std::string::npos) << c.values[0] << ": " << why;
        }
    }
}

TEST(OutputsRecord, RestoresSlotsWhoseModuleIsTheSame) {
    auto img = image();
    const HwAddress hw{2, 0x52, 0x53, 0, 0, 1};
    ZEBSetPoint(img.get(), 3, ZEB_BIT_OUT, 2, 1);
    ZEBSetPoint(img.get(), 3, ZEB_WORD_OUT, 1, 700);
    ZEBSetPoint(img.get(), 5, ZEB_DWORD_OUT, 1, 0xFFFFFFFFu);
    Json record = updated_outputs_record(nullptr, *img, {3}, hw, "127.0.0.2");
    record = updated_outputs_record(record, *img, {5}, hw, "127.0.0.2");
    ASSERT_EQ(record["slots"].size(), 2u);
    EXPECT_EQ(record["slots"][0].dump(),
              R"({"slot":3,"bits":[0,0,1,0,0,0,0,0],"words":[0,700],"dwords":[]})");

    auto back = image();
    EXPECT_EQ(restore_outputs(*back, record), (std::set<int>{3, 5}));
    EXPECT_EQ(point_values(*back, 3, PointKind::kWord, true), (std::vector<uint32_t>{0, 700}));
    EXPECT_EQ(point_values(*back, 5, PointKind::kDword, true),
              (std::vector<uint32_t>{0, 0xFFFFFFFFu}));

    // A slot whose counts changed, values out of range, and what is no record restore nothing.
    Json changed = record;
    changed["slots"][0]["bits"] = Json::array({1, 0});
    changed["slots"][1]["dwords"] = Json::array({0, 4294967296ull});
    EXPECT_TRUE(restore_outputs(*image(), changed).empty());
    for (const char* text : {R"({"slots":[{"slot":3,"bits":[0,0,1,0,0,0,0,2],"words":[0,0]}]})",
                             R"({"slots":[7,{"slot":-3},{"slot":300}]})", R"([1,2])", "null"}) {
        EXPECT_TRUE(restore_outputs(*image(), Json::parse(text)).empty()) << text;
    }
}

TEST(OutputsRecord, KeptInTheStateDirectory) {
    char dir[] = "/tmp/zeb-state-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    setenv("XDG_STATE_HOME", dir, 1);
    const HwAddress hw{2, 0x52, 0x53, 0, 0, 1};
    const auto path = outputs_record_path(hw);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->string(), std::string(dir) + "/zeb/outputs/02-52-53-00-00-01.json");
    setenv("XDG_STATE_HOME", "relative/is/ignored", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(outputs_record_path(hw)->string(),
              "/home/someone/.local/state/zeb/outputs/02-52-53-00-00-01.json");

    std::string why;
    EXPECT_TRUE(read_outputs_record(*path, &why).is_null()) << "none yet";
    EXPECT_EQ(why, "");
    const Json record = updated_outputs_record(nullptr, *image(), {3}, hw, "127.0.0.2");
    ASSERT_TRUE(write_outputs_record(*path, record, &why)) << why;
    EXPECT_EQ(read_outputs_record(*path, &why), record);
    std::ofstream(*path) << "{not json";
    EXPECT_TRUE(read_outputs_record(*path, &why).is_null());
    EXPECT_NE(why.find("is no record of outputs"), std::string::npos) << why;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zeb::cli
