// A module's points as rows of a table, plain or for a live terminal view with the values that
// changed since the previous read marked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io_points.h"
#include "output.h"

namespace zeb::cli {

enum class Mark {
    kNone,      // values only
    kStar,      // a changed value is followed by '*'
    kTerminal,  // a changed value is shown in reverse video
};

// "10110000 1000" for bits (eight to a group, point 0 first), "5 1200 2400" otherwise. A value
// counts as changed when `previous` had no value at its place or another one.
std::string format_values(const IoRow& row, const IoRow* previous, Mark mark,
                          ValueStyle style = {});

// The row of `rows` for the same slot and kind, or null.
const IoRow* find_row(const std::vector<IoRow>& rows, const IoRow& like);

// The table of zeb io read: SLOT, KIND, COUNT, VALUES.
std::string render_rows(const std::vector<IoRow>& rows, ValueStyle style = {});
// The same table as lines, changed values marked against `previous` (none: nothing marked).
std::vector<std::string> table_lines(const std::vector<IoRow>& rows,
                                     const std::vector<IoRow>* previous, Mark mark,
                                     ValueStyle style);

// The lines of a live frame that fit a terminal of `height` lines: the header lines whole, then
// as many table lines as fit, and when some do not, a last line that says how many are hidden.
std::vector<std::string> fit_frame(const std::vector<std::string>& header,
                                   const std::vector<std::string>& table, std::size_t height);

}  // namespace zeb::cli
