// The points as rows, values signed or in hex, changed values marked for the watch, and a
// frame cut to the terminal's height.
#include "io_view.h"

#include <gtest/gtest.h>

namespace zeb::cli {
namespace {

TEST(IoView, RowsOfTheImageInSlotAndKindOrder) {
    // Slot 0: 2 bit inputs and 1 32-bit input (kind 5); slot 4: 2 word inputs, 1 bit output.
    const uint8_t def[] = {0xB1, 0x00, 0x00, 0x00, 0x01, 0x06, 0x05, 0x00, 2, 0, 0, 0,
                           1,    0,    0x00, 0x04, 0x01, 0x04, 0x01, 0x00, 0, 1, 2, 0};
    ZEBImage image{};
    ASSERT_EQ(ZEBImageFromBaseDef(&image, def, sizeof def), 0u);
    ZEBSetPoint(&image, 0, ZEB_BIT_IN, 0, 1);
    ZEBSetPoint(&image, 0, ZEB_DWORD_IN, 0, 0xFFFFFFF9u);
    ZEBSetPoint(&image, 4, ZEB_WORD_IN, 1, 0x8000);
    const std::vector<IoRow> rows = point_rows(image, false);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(render_rows(rows),
              "SLOT  KIND   COUNT  VALUES\n"
              "0     bit    2      10\n"
              "0     dword  1      4294967289\n"
              "4     word   2      0 32768\n");
    EXPECT_EQ(render_rows(rows, {.is_signed = true}).substr(27 + 23),
              "0     dword  1      -7\n"
              "4     word   2      0 -32768\n");
    EXPECT_EQ(render_rows(rows, {.hex = true}).substr(27 + 23),
              "0     dword  1      0xFFFFFFF9\n"
              "4     word   2      0x0000 0x8000\n");
    EXPECT_EQ(points_json(image, false, {.is_signed = true}).dump(),
              R"([{"slot":0,"bits":[1,0],"words":[],"dwords":[-7]},)"
              R"({"slot":4,"bits":[],"words":[0,-32768],"dwords":[]}])");
    EXPECT_EQ(points_json(image, true, {}).dump(),
              R"([{"slot":4,"bits":[0],"words":[],"dwords":[]}])");
}

TEST(IoView, ChangedValuesAreMarked) {
    const IoRow before{0, PointKind::kBit, {1, 0, 0, 0, 0, 0, 0, 0, 1}};
    const IoRow after{0, PointKind::kBit, {1, 1, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(format_values(after, nullptr, Mark::kStar), "11000000 0");
    EXPECT_EQ(format_values(after, &before, Mark::kNone), "11000000 0");
    EXPECT_EQ(format_values(after, &before, Mark::kStar), "11*000000 0*");
    EXPECT_EQ(format_values(after, &before, Mark::kTerminal),
              "1\x1b[7m1\x1b[0m000000 \x1b[7m0\x1b[0m");

    const IoRow words_before{4, PointKind::kWord, {5, 1200}};
    const IoRow words_after{4, PointKind::kWord, {6, 1200, 9}};
    EXPECT_EQ(format_values(words_after, &words_before, Mark::kStar), "6* 1200 9*")
        << "a value with no value before it is new";

    const std::vector<IoRow> rows{words_before, before};
    EXPECT_EQ(find_row(rows, after), &rows[1]);
    EXPECT_EQ(find_row(rows, IoRow{4, PointKind::kBit, {}}), nullptr);
}

TEST(IoView, FrameFitsTheTerminal) {
    const std::vector<std::string> header{"head", "  no reply", ""};
    std::vector<std::string> table;
    for (int i = 0; i < 10; ++i) table.push_back("row " + std::to_string(i));
    // Room for all (one line is kept free for the cursor), or for none at an unknown height.
    EXPECT_EQ(fit_frame(header, table, 14).size(), 13u);
    EXPECT_EQ(fit_frame(header, table, 0).size(), 13u);
    // Too short: as many rows as fit less one, then the line that counts the hidden ones.
    const std::vector<std::string> cut = fit_frame(header, table, 10);
    ASSERT_EQ(cut.size(), 9u);
    EXPECT_EQ(cut[7], "row 4");
    EXPECT_EQ(cut[8].rfind("... 5 more rows hidden", 0), 0u) << cut[8];
}

}  // namespace
}  // namespace zeb::cli
