// A module's inputs as rows of a table, plain or for a live terminal view with the values that
// changed since the previous read marked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io_assign.h"
#include "io_stream.h"
#include "output.h"

namespace zeb::cli {

struct IoRow {
    int slot = 0;
    PointKind kind = PointKind::kBit;
    std::vector<uint32_t> values;
};

// One row per slot and kind with inputs, in slot order, bits before words before dwords.
std::vector<IoRow> input_rows(const Image& inputs);

enum class Mark {
    kNone,      // values only
    kStar,      // a changed value is followed by '*'
    kTerminal,  // a changed value is shown in reverse video
};

// "10110000 1000" for bits (eight to a group, point 0 first), "5 1200 2400" otherwise. A value
// counts as changed when `previous` had no value at its place or another one.
std::string format_values(const IoRow& row, const IoRow* previous, Mark mark);

// The row of `rows` for the same slot and kind, or null.
const IoRow* find_row(const std::vector<IoRow>& rows, const IoRow& like);

const char* kind_word(PointKind kind);  // "bit", "word", "dword"

// The table of zeb io read, and its JSON.
std::string render_inputs(const std::vector<IoRow>& rows);
Json inputs_json(const Image& inputs);

}  // namespace zeb::cli
