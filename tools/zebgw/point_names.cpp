#include "point_names.h"

#include <array>
#include <charconv>
#include <limits>

#include "zeb_points.h"

namespace zebgw {

namespace {

struct KindName {
    uint8_t kind;
    std::string_view name;
};
constexpr std::array<KindName, 6> kKinds{{{ZEB_BIT_IN, "bit_in"},
                                          {ZEB_BIT_OUT, "bit_out"},
                                          {ZEB_WORD_IN, "word_in"},
                                          {ZEB_WORD_OUT, "word_out"},
                                          {ZEB_DWORD_IN, "dword_in"},
                                          {ZEB_DWORD_OUT, "dword_out"}}};

template <typename T>
std::optional<T> number(std::string_view text) {
    unsigned value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value > std::numeric_limits<T>::max()) {
        return std::nullopt;
    }
    return static_cast<T>(value);
}

// Splits "a/b/c" into its three parts; false for another count.
bool three_parts(std::string_view text, std::array<std::string_view, 3>& parts) {
    for (size_t i = 0; i < 3; ++i) {
        const size_t slash = text.find('/');
        if (i < 2 && slash == std::string_view::npos) return false;
        if (i == 2 && slash != std::string_view::npos) return false;
        parts[i] = text.substr(0, slash);
        if (i < 2) text.remove_prefix(slash + 1);
    }
    return true;
}

}  // namespace

std::string_view kind_name(uint8_t kind) {
    for (const auto& k : kKinds) {
        if (k.kind == kind) return k.name;
    }
    return {};
}

std::optional<uint8_t> kind_from_name(std::string_view name) {
    for (const auto& k : kKinds) {
        if (k.name == name) return k.kind;
    }
    return std::nullopt;
}

bool is_output(uint8_t kind) {
    return kind == ZEB_BIT_OUT || kind == ZEB_WORD_OUT || kind == ZEB_DWORD_OUT;
}

bool is_bit(uint8_t kind) {
    return kind == ZEB_BIT_IN || kind == ZEB_BIT_OUT;
}

uint32_t kind_max(uint8_t kind) {
    if (is_bit(kind)) return 1;
    if (kind == ZEB_WORD_IN || kind == ZEB_WORD_OUT) return 0xFFFF;
    return 0xFFFFFFFF;
}

std::optional<uint32_t> point_value(uint8_t kind, int64_t value) {
    const int64_t max = kind_max(kind);
    const int64_t least = is_bit(kind) ? 0 : -(max / 2) - 1;
    if (value < least || value > max) return std::nullopt;
    return static_cast<uint32_t>(value < 0 ? value + max + 1 : value);
}

std::string point_name(const PointRef& p) {
    std::string out = "slot" + std::to_string(p.slot) + "/";
    out += kind_name(p.kind);
    out += "/" + std::to_string(p.index);
    return out;
}

std::optional<PointRef> parse_point_name(std::string_view text) {
    std::array<std::string_view, 3> parts;
    if (!three_parts(text, parts) || !parts[0].starts_with("slot")) return std::nullopt;
    const auto slot = number<uint8_t>(parts[0].substr(4));
    const auto kind = kind_from_name(parts[1]);
    const auto index = number<uint16_t>(parts[2]);
    if (!slot || !kind || !index) return std::nullopt;
    return PointRef{*slot, *kind, *index};
}

bool PointPattern::matches(const PointRef& p) const {
    return (!slot || *slot == p.slot) && (!kind || *kind == p.kind) && p.index >= first &&
           p.index <= last;
}

std::optional<PointPattern> parse_point_pattern(std::string_view text, std::string* error) {
    PointPattern out;
    if (text == "*") return out;
    std::array<std::string_view, 3> parts;
    if (!three_parts(text, parts)) {
        *error = "\"" + std::string(text) + "\" is not slot<N>/<kind>/<index> (or \"*\")";
        return std::nullopt;
    }
    if (parts[0] != "slot*" && parts[0] != "*") {
        const auto slot =
            parts[0].starts_with("slot") ? number<uint8_t>(parts[0].substr(4)) : std::nullopt;
        if (!slot) {
            *error = "\"" + std::string(parts[0]) + "\" is not slot0 to slot255 (or slot*)";
            return std::nullopt;
        }
        out.slot = slot;
    }
    if (parts[1] != "*") {
        out.kind = kind_from_name(parts[1]);
        if (!out.kind) {
            *error = "\"" + std::string(parts[1]) +
                     "\" is no kind: bit_in, bit_out, word_in, word_out, dword_in, dword_out "
                     "or *";
            return std::nullopt;
        }
    }
    if (parts[2] != "*") {
        const size_t dash = parts[2].find('-');
        const auto first = number<uint16_t>(parts[2].substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : number<uint16_t>(parts[2].substr(dash + 1));
        if (!first || !last || *last < *first) {
            *error = "\"" + std::string(parts[2]) + "\" is no index, range a-b (a <= b) or *";
            return std::nullopt;
        }
        out.first = *first;
        out.last = *last;
    }
    return out;
}

}  // namespace zebgw
