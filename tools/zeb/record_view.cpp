#include "record_view.h"

#include <fstream>
#include <iterator>

#include "failure.h"

namespace zeb::cli {

namespace {

constexpr std::size_t kPreviewText = 40;
constexpr std::size_t kPreviewBytes = 12;

std::span<const uint8_t> without_trailing_zeros(std::span<const uint8_t> bytes) {
    std::size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0) --end;
    return bytes.first(end);
}

}  // namespace

std::string record_text(std::span<const uint8_t> bytes, Show show) {
    switch (show) {
        case Show::kRaw:
            return std::string(bytes.begin(), bytes.end());
        case Show::kHex:
            return hex_text(bytes) + "\n";
        default:
            if (is_printable_text(bytes)) {
                const auto text = without_trailing_zeros(bytes);
                return std::string(text.begin(), text.end()) + "\n";
            }
            return hex_text(bytes) + "\n";
    }
}

std::string record_preview(std::span<const uint8_t> bytes) {
    if (is_printable_text(bytes)) {
        const auto text = without_trailing_zeros(bytes);
        std::string out(text.begin(), text.end());
        if (out.size() > kPreviewText) out = out.substr(0, kPreviewText - 3) + "...";
        return "\"" + out + "\"";
    }
    if (bytes.size() <= kPreviewBytes) return hex_text(bytes);
    return hex_text(bytes.first(kPreviewBytes)) + " ...";
}

Json record_json(std::span<const uint8_t> bytes) {
    Json out;
    out["length"] = bytes.size();
    if (is_printable_text(bytes)) {
        const auto text = without_trailing_zeros(bytes);
        out["text"] = std::string(text.begin(), text.end());
    } else {
        out["text"] = nullptr;
    }
    out["hex"] = hex_text(bytes);
    return out;
}

Bytes value_argument(const std::optional<std::string>& value, bool hex,
                     const std::optional<std::string>& file) {
    if (file) {
        if (value) fail_usage("give a value or --file, not both");
        std::ifstream in(*file, std::ios::binary);
        if (!in) fail_usage("cannot read " + *file);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!value) fail_usage("a value is needed (or --file)");
    if (!hex) return Bytes(value->begin(), value->end());
    const auto bytes = parse_hex_bytes(*value);
    if (!bytes) fail_usage("'" + *value + "' is not hex bytes (e.g. \"00 0A FF\")");
    return *bytes;
}

}  // namespace zeb::cli
