#include "io_assign.h"

#include <algorithm>
#include <map>

namespace zeb::cli {

namespace {

std::optional<PointKind> parse_kind(std::string_view text) {
    if (text == "bit" || text == "b") return PointKind::kBit;
    if (text == "word" || text == "w") return PointKind::kWord;
    if (text == "dword" || text == "d") return PointKind::kDword;
    return std::nullopt;
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

// A bit mask of any length: hex after "0x", else a decimal number of up to 64 bits. Its bytes
// little-endian, without the high zero bytes.
std::optional<Bytes> parse_mask(std::string_view text) {
    Bytes bytes;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        for (std::size_t end = text.size(); end > 0;) {
            const std::size_t start = end >= 2 ? end - 2 : 0;
            const auto byte =
                parse_unsigned("0x" + std::string(text.substr(start, end - start)), 0xFF);
            if (!byte) return std::nullopt;
            bytes.push_back(static_cast<uint8_t>(*byte));
            end = start;
        }
    } else {
        const auto v = parse_unsigned(text, UINT64_MAX);
        if (!v) return std::nullopt;
        for (uint64_t rest = *v; rest != 0; rest >>= 8) bytes.push_back(static_cast<uint8_t>(rest));
    }
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    return bytes;
}

std::string plural(int n, const std::string& word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
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
    if (slot && parts.size() == 2 && parts[1] == "bits") {
        a.slot = static_cast<int>(*slot);
        a.mask = parse_mask(values);
        if (!a.mask) {
            *why = "'" + std::string(text) + "': '" + std::string(values) +
                   "' is no bit mask (e.g. 0x41: bit n of the mask is point n)";
            return std::nullopt;
        }
        return a;
    }
    const auto kind = parts.size() >= 2 ? parse_kind(parts[1]) : std::nullopt;
    const auto index =
        parts.size() == 3 ? parse_unsigned(parts[2], 254) : std::optional<uint64_t>(0);
    if (parts.size() < 2 || parts.size() > 3 || !slot || !kind || !index) {
        *why = "'" + std::string(target) +
               "': expected SLOT.KIND.INDEX, SLOT.KIND or SLOT.bits (KIND: bit, word or dword)";
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
                   kind_word(a.kind) + " value";
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

bool plan_write(ZEBImage& image, std::vector<Assignment> assignments, const std::set<int>& known,
                bool all, WritePlan* plan, std::string* why) {
    WritePlan out;
    // Points named, by slot: (kind, index).
    std::map<int, std::set<std::pair<int, int>>> named;
    for (Assignment& a : assignments) {
        if (!image_slot(image, a.slot)) {
            *why = "slot " + std::to_string(a.slot) + " holds no module with I/O";
            return false;
        }
        const int count = point_count(image, a.slot, a.kind, true);
        if (a.mask) {
            const Bytes& m = *a.mask;
            // The mask holds no high zero bytes: its last byte has its highest bit set.
            int highest = -1;
            if (!m.empty()) {
                highest = static_cast<int>(m.size() - 1) * 8;
                for (uint8_t top = m.back(); top > 1; top >>= 1) ++highest;
            }
            if (highest >= count) {
                *why = "slot " + std::to_string(a.slot) + " has " + plural(count, "bit output") +
                       ": the mask sets bits beyond them";
                return false;
            }
            a.values.assign(static_cast<std::size_t>(count), 0);
            for (int i = 0; i < count; ++i) {
                const std::size_t byte = static_cast<std::size_t>(i / 8);
                a.values[static_cast<std::size_t>(i)] =
                    byte < m.size() ? (m[byte] >> (i % 8)) & 1 : 0;
            }
        }
        const std::size_t end = static_cast<std::size_t>(a.first) + a.values.size();
        if (end > static_cast<std::size_t>(count)) {
            *why = "slot " + std::to_string(a.slot) + " has " +
                   plural(count, std::string(kind_word(a.kind)) + " output") + ", numbered from 0";
            return false;
        }
        for (std::size_t i = 0; i < a.values.size(); ++i) {
            const int index = a.first + static_cast<int>(i);
            ZEBSetPoint(&image, static_cast<uint8_t>(a.slot), image_kind(a.kind, true),
                        static_cast<uint16_t>(index), a.values[i]);
            out.points.push_back({a.slot, a.kind, index, a.values[i]});
            named[a.slot].insert({static_cast<int>(a.kind), index});
        }
        out.slots.insert(a.slot);
    }
    for (const int slot : out.slots) {
        if (known.count(slot) || all) continue;
        int outputs = 0;
        for (const PointKind k : {PointKind::kBit, PointKind::kWord, PointKind::kDword}) {
            outputs += point_count(image, slot, k, true);
        }
        const int given = static_cast<int>(named[slot].size());
        if (given == outputs) continue;
        const std::string s = std::to_string(slot);
        *why = "zeb does not know what this host last wrote to slot " + s +
               ", and a module does not report its outputs: writing " + plural(given, "point") +
               " of its " + std::to_string(outputs) +
               " outputs would set the others to 0. Name every output of the slot (e.g. " + s +
               ".bits=0x41 for its bit outputs, " + s +
               ".word=V0,V1,... for its words), or give --all to write the outputs not named "
               "as 0.";
        return false;
    }
    *plan = std::move(out);
    return true;
}

std::vector<std::string> written_texts(const WritePlan& plan, ValueStyle style) {
    std::vector<std::string> texts;
    const auto& p = plan.points;
    for (std::size_t i = 0; i < p.size();) {
        // A run: the same slot and kind, indexes one after another.
        std::size_t j = i + 1;
        while (j < p.size() && p[j].slot == p[i].slot && p[j].kind == p[i].kind &&
               p[j].index == p[j - 1].index + 1) {
            ++j;
        }
        std::string text = std::to_string(p[i].slot) + "." + kind_word(p[i].kind) + "." +
                           std::to_string(p[i].index);
        if (j - i > 1) text += ".." + std::to_string(p[j - 1].index);
        text += " = ";
        for (std::size_t k = i; k < j; ++k) {
            text += (k > i ? "," : "") + value_text(p[k].kind, p[k].value, style);
        }
        texts.push_back(text);
        i = j;
    }
    return texts;
}

}  // namespace zeb::cli
