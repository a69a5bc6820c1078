#include "io_view.h"

namespace zeb::cli {

namespace {

constexpr const char* kReverse = "\x1b[7m";
constexpr const char* kNormal = "\x1b[0m";

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::string format_values(const IoRow& row, const IoRow* previous, Mark mark, ValueStyle style) {
    std::string out;
    const bool bits = row.kind == PointKind::kBit;
    for (std::size_t i = 0; i < row.values.size(); ++i) {
        if (i > 0 && (!bits || i % 8 == 0)) out += ' ';
        const std::string value = value_text(row.kind, row.values[i], style);
        const bool changed =
            previous && (i >= previous->values.size() || previous->values[i] != row.values[i]);
        if (changed && mark == Mark::kTerminal) {
            out += kReverse + value + kNormal;
        } else {
            out += value;
            if (changed && mark == Mark::kStar) out += '*';
        }
    }
    return out;
}

const IoRow* find_row(const std::vector<IoRow>& rows, const IoRow& like) {
    for (const IoRow& r : rows) {
        if (r.slot == like.slot && r.kind == like.kind) return &r;
    }
    return nullptr;
}

std::vector<std::string> table_lines(const std::vector<IoRow>& rows,
                                     const std::vector<IoRow>* previous, Mark mark,
                                     ValueStyle style) {
    Table table({"SLOT", "KIND", "COUNT", "VALUES"});
    for (const IoRow& r : rows) {
        const IoRow* before = previous ? find_row(*previous, r) : nullptr;
        table.add({std::to_string(r.slot), kind_word(r.kind), std::to_string(r.values.size()),
                   format_values(r, before, previous ? mark : Mark::kNone, style)});
    }
    return split_lines(table.render());
}

std::string render_rows(const std::vector<IoRow>& rows, ValueStyle style) {
    std::string out;
    for (const std::string& line : table_lines(rows, nullptr, Mark::kNone, style)) {
        out += line + "\n";
    }
    return out;
}

std::vector<std::string> fit_frame(const std::vector<std::string>& header,
                                   const std::vector<std::string>& table, std::size_t height) {
    std::vector<std::string> lines = header;
    // The cursor stays on the line after the last one drawn: a frame of `height` lines would
    // scroll the terminal by one.
    const std::size_t room = height > lines.size() + 1 ? height - lines.size() - 1 : 0;
    if (height == 0 || table.size() <= room) {
        lines.insert(lines.end(), table.begin(), table.end());
        return lines;
    }
    const std::size_t shown = room > 0 ? room - 1 : 0;
    lines.insert(lines.end(), table.begin(), table.begin() + static_cast<std::ptrdiff_t>(shown));
    const std::size_t hidden = table.size() - shown;
    lines.push_back("... " + std::to_string(hidden) + " more row" + (hidden == 1 ? "" : "s") +
                    " hidden: the terminal is too short (--plain or --json show them all)");
    return lines;
}

}  // namespace zeb::cli
