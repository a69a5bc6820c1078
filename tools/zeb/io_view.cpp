#include "io_view.h"

namespace zeb::cli {

namespace {

constexpr const char* kReverse = "\x1b[7m";
constexpr const char* kNormal = "\x1b[0m";

void add_rows(std::vector<IoRow>& rows, int slot, PointKind kind, const auto& values) {
    if (values.empty()) return;
    rows.push_back({slot, kind, std::vector<uint32_t>(values.begin(), values.end())});
}

}  // namespace

std::vector<IoRow> input_rows(const Image& inputs) {
    std::vector<IoRow> rows;
    for (const auto& [slot, image] : inputs) {
        add_rows(rows, slot, PointKind::kBit, image.bits);
        add_rows(rows, slot, PointKind::kWord, image.words);
        add_rows(rows, slot, PointKind::kDword, image.dwords);
    }
    return rows;
}

std::string format_values(const IoRow& row, const IoRow* previous, Mark mark) {
    std::string out;
    const bool bits = row.kind == PointKind::kBit;
    for (std::size_t i = 0; i < row.values.size(); ++i) {
        if (i > 0 && (!bits || i % 8 == 0)) out += ' ';
        const std::string value =
            bits ? std::string(1, row.values[i] ? '1' : '0') : std::to_string(row.values[i]);
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

const char* kind_word(PointKind kind) {
    switch (kind) {
        case PointKind::kBit:
            return "bit";
        case PointKind::kWord:
            return "word";
        default:
            return "dword";
    }
}

std::string render_inputs(const std::vector<IoRow>& rows) {
    Table table({"SLOT", "KIND", "COUNT", "VALUES"});
    for (const IoRow& r : rows) {
        table.add({std::to_string(r.slot), kind_word(r.kind), std::to_string(r.values.size()),
                   format_values(r, nullptr, Mark::kNone)});
    }
    return table.render();
}

Json inputs_json(const Image& inputs) {
    Json list = Json::array();
    for (const auto& [slot, image] : inputs) {
        list.push_back({{"slot", slot},
                        {"bits", image.bits},
                        {"words", image.words},
                        {"dwords", image.dwords}});
    }
    return list;
}

}  // namespace zeb::cli
