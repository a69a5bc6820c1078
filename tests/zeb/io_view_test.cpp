// The inputs as rows, with changed values marked for the watch.
#include "io_view.h"

#include <gtest/gtest.h>

namespace zeb::cli {
namespace {

TEST(IoView, RowsInSlotAndKindOrder) {
    Image inputs;
    inputs[4].words = {1, 2};
    inputs[0].dwords = {7};
    inputs[0].bits = {1, 0};
    const std::vector<IoRow> rows = input_rows(inputs);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].kind, PointKind::kBit);
    EXPECT_EQ(rows[1].kind, PointKind::kDword);
    EXPECT_EQ(rows[2].slot, 4);
    EXPECT_EQ(render_inputs(rows),
              "SLOT  KIND   COUNT  VALUES\n"
              "0     bit    2      10\n"
              "0     dword  1      7\n"
              "4     word   2      1 2\n");
    EXPECT_EQ(inputs_json(inputs)[1].dump(), R"({"slot":4,"bits":[],"words":[1,2],"dwords":[]})");
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

}  // namespace
}  // namespace zeb::cli
