// What commands print: aligned tables and "field: value" lists for people, JSON for scripts.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace zeb::cli {

using Json = nlohmann::ordered_json;

class Table {
  public:
    explicit Table(std::vector<std::string> headers) : headers_(std::move(headers)) {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    bool empty() const { return rows_.empty(); }
    // The header and the rows, columns two blanks apart; the last column is not padded.
    std::string render() const;

  private:
    std::vector<std::string> headers_;
    std::vector<std::vector<std::string>> rows_;
};

using Fields = std::vector<std::pair<std::string, std::string>>;
// "name   value" lines, the values aligned.
std::string render_fields(const Fields& fields);

// Writes to standard output.
void print(const std::string& text);
void print_json(const Json& value);

}  // namespace zeb::cli
