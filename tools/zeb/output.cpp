#include "output.h"

#include <algorithm>
#include <cstdio>

namespace zeb::cli {

std::string Table::render() const {
    std::vector<std::size_t> widths(headers_.size(), 0);
    auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    };
    measure(headers_);
    for (const auto& row : rows_) measure(row);

    std::string out;
    auto line = [&](const std::vector<std::string>& row) {
        std::string text;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < row.size() ? row[i] : "";
            text += cell;
            if (i + 1 < widths.size()) text += std::string(widths[i] - cell.size() + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + "\n";
    };
    line(headers_);
    for (const auto& row : rows_) line(row);
    return out;
}

std::string render_fields(const Fields& fields) {
    std::size_t width = 0;
    for (const auto& [name, value] : fields) width = std::max(width, name.size());
    std::string out;
    for (const auto& [name, value] : fields) {
        out += name + std::string(width - name.size() + 2, ' ') + value + "\n";
    }
    return out;
}

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void print_json(const Json& value) {
    print(value.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

}  // namespace zeb::cli
