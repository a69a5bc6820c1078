#include "io_assign.h"

#include <algorithm>

namespace zeb::cli {

namespace {

std::optional<PointKind> parse_kind(std::string_view text) {
    if (text == "bit" || text == "b") return PointKind::kBit;
    if (text == "word" || text == "w") return PointKind::kWord;
    if (text == "dword" || text == "d") return PointKind::kDword;
    return std::nullopt;
}

const char* kind_text(PointKind kind) {
    switch (kind) {
        case PointKind::kBit:
            return "bit";
        case PointKind::kWord:
            return "word";
        default:
            return "dword";
    }
}

std::optional<uint32_t> parse_value(std::string_view text, PointKind kind) {
    switch (kind) {
        case PointKind::kBit: {
            const auto v = parse_unsigned(text, 1);
            return v ? std::optional<uint32_t>(static_cast<uint32_t>(*v)) : std::nullopt;
        }
        case PointKind::kWord: {
            const auto v = parse_signed(text, -32768, 65535);
            return v ? std::optional<uint32_t>(static_cast<uint16_t>(*v)) : std::nullopt;
        }
        default: {
            const auto v = parse_signed(text, -2147483648LL, 4294967295LL);
            return v ? std::optional<uint32_t>(static_cast<uint32_t>(*v)) : std::nullopt;
        }
    }
}

int count_of(const PointCounts& c, PointKind kind) {
    switch (kind) {
        case PointKind::kBit:
            return c.bit_out;
        case PointKind::kWord:
            return c.word_out;
        default:
            return c.dword_out;
    }
}

template <typename T>
void place(std::vector<T>& points, const Assignment& a) {
    const std::size_t end = static_cast<std::size_t>(a.first) + a.values.size();
    if (points.size() < end) points.resize(end, 0);
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        points[static_cast<std::size_t>(a.first) + i] = static_cast<T>(a.values[i]);
    }
}

}  // namespace

std::optional<Assignment> parse_assignment(std::string_view text, std::string* why) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        *why = "'" + std::string(text) + "': expected SLOT.KIND.INDEX=VALUE";
        return std::nullopt;
    }
    const std::string_view target = text.substr(0, equals);
    std::string_view values = text.substr(equals + 1);

    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t dot = target.find('.', start);
        parts.push_back(target.substr(start, dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    Assignment a;
    const auto slot = parts.size() >= 2 ? parse_unsigned(parts[0], 255) : std::nullopt;
    const auto kind = parts.size() >= 2 ? parse_kind(parts[1]) : std::nullopt;
    const auto index =
        parts.size() == 3 ? parse_unsigned(parts[2], 254) : std::optional<uint64_t>(0);
    if (parts.size() < 2 || parts.size() > 3 || !slot || !kind || !index) {
        *why = "'" + std::string(target) +
               "': expected SLOT.KIND.INDEX or SLOT.KIND (KIND: bit, word or dword)";
        return std::nullopt;
    }
    a.slot = static_cast<int>(*slot);
    a.kind = *kind;
    a.first = static_cast<int>(*index);
    const bool list = parts.size() == 2;
    for (std::size_t start = 0;;) {
        const std::size_t comma = values.find(',', start);
        const std::string_view item = values.substr(start, comma - start);
        const auto value = parse_value(item, a.kind);
        if (!value) {
            *why = "'" + std::string(text) + "': '" + std::string(item) + "' is no " +
                   kind_text(a.kind) + " value";
            return std::nullopt;
        }
        a.values.push_back(*value);
        if (comma == std::string_view::npos) break;
        if (!list) {
            *why = "'" + std::string(text) + "': one value for one point (SLOT.KIND=V0,V1,... " +
                   "for several)";
            return std::nullopt;
        }
        start = comma + 1;
    }
    return a;
}

bool build_outputs(const std::vector<Assignment>& assignments, const BaseLayout& layout,
                   Image* outputs, std::string* why) {
    Image image;
    for (const Assignment& a : assignments) {
        const auto slot = std::find_if(layout.begin(), layout.end(),
                                       [&](const SlotLayout& s) { return s.slot == a.slot; });
        if (slot == layout.end()) {
            *why = "slot " + std::to_string(a.slot) + " holds no module";
            return false;
        }
        const int count = count_of(slot->counts, a.kind);
        const std::size_t end = static_cast<std::size_t>(a.first) + a.values.size();
        if (end > static_cast<std::size_t>(count)) {
            *why = "slot " + std::to_string(a.slot) + " has " + std::to_string(count) + " " +
                   kind_text(a.kind) + " output" + (count == 1 ? "" : "s") + ", numbered from 0";
            return false;
        }
        SlotImage& points = image[a.slot];
        switch (a.kind) {
            case PointKind::kBit:
                place(points.bits, a);
                break;
            case PointKind::kWord:
                place(points.words, a);
                break;
            case PointKind::kDword:
                place(points.dwords, a);
                break;
        }
    }
    *outputs = std::move(image);
    return true;
}

}  // namespace zeb::cli
