#include "http/input_changes.h"

#include <algorithm>
#include <string>

#include "http/api_reply.h"

namespace racksim {

namespace {

using json = nlohmann::json;

// Points one request may change: far more than a base holds, far fewer than would take long.
constexpr size_t kMaxChanges = 4096;

const char* kind_name(PointKind k) {
    switch (k) {
        case PointKind::bit:
            return "bit";
        case PointKind::word:
            return "word";
        case PointKind::dword:
            return "32-bit";
    }
    return "";
}

[[noreturn]] void refuse(const std::string& place, const std::string& why, int status = 400) {
    throw Refusal(status, place + ": " + why);
}

int64_t whole_number(const json& j, const std::string& place, int64_t lo, int64_t hi,
                     const std::string& range) {
    if (!j.is_number_integer()) refuse(place, j.dump() + " is no whole number for " + range);
    if (j.is_number_unsigned() ? j.get<uint64_t>() > static_cast<uint64_t>(hi)
                               : j.get<int64_t>() < lo || j.get<int64_t>() > hi) {
        refuse(place, j.dump() + " does not fit " + range);
    }
    return j.get<int64_t>();
}

uint32_t point_value(const json& j, PointKind kind, const std::string& place) {
    switch (kind) {
        case PointKind::bit:
            if (j.is_boolean()) return j.get<bool>() ? 1 : 0;
            if (j.is_number_integer() && (j == 0 || j == 1)) return j.get<uint32_t>();
            refuse(place, j.dump() + " does not fit a bit (0, 1, false or true)");
        case PointKind::word:
            return static_cast<uint16_t>(
                whole_number(j, place, -32768, 65535, "a word input (-32768 to 65535)"));
        case PointKind::dword:
            return static_cast<uint32_t>(whole_number(
                j, place, INT32_MIN, UINT32_MAX, "a 32-bit input (-2147483648 to 4294967295)"));
    }
    return 0;
}

PointKind point_kind(const json& j, const std::string& place) {
    if (j == "bit") return PointKind::bit;
    if (j == "word") return PointKind::word;
    if (j == "dword") return PointKind::dword;
    refuse(place, "expected \"bit\", \"word\" or \"dword\"");
}

size_t count_of(const Slot& s, PointKind kind) {
    const IoCounts& c = s.counts();
    return kind == PointKind::bit ? c.bit_in : kind == PointKind::word ? c.word_in : c.dword_in;
}

// How many of a slot's inputs of a kind mirror the outputs of the slot it is wired from.
size_t mirrored(const Module& m, const Slot& s, PointKind kind) {
    if (s.behaviour.wired_from < 0) return 0;
    const auto from = m.base.slots.find(s.behaviour.wired_from);
    if (from == m.base.slots.end()) return 0;
    const IoCounts& c = from->second.counts();
    const size_t outputs = kind == PointKind::bit    ? c.bit_out
                           : kind == PointKind::word ? c.word_out
                                                     : c.dword_out;
    return std::min(outputs, count_of(s, kind));
}

}  // namespace

std::vector<InputChange> read_input_changes(const json& body) {
    if (!body.is_object()) refuse("body", "expected an object {\"points\": [...]}");
    for (const auto& [key, value] : body.items()) {
        if (key != "points") refuse("body", "unknown key \"" + key + "\"");
    }
    if (!body.contains("points") || !body["points"].is_array()) {
        refuse("body", "expected \"points\": a list of {\"slot\", \"kind\", \"index\", \"value\"}");
    }
    const json& points = body["points"];
    if (points.empty()) refuse("points", "no points");
    if (points.size() > kMaxChanges) {
        refuse("points", "at most " + std::to_string(kMaxChanges) + " in one request");
    }
    std::vector<InputChange> out;
    for (size_t i = 0; i < points.size(); ++i) {
        const std::string place = "points[" + std::to_string(i) + "]";
        const json& p = points[i];
        if (!p.is_object()) refuse(place, "expected {\"slot\", \"kind\", \"index\", \"value\"}");
        for (const char* key : {"slot", "kind", "index", "value"}) {
            if (!p.contains(key)) refuse(place, std::string("missing \"") + key + "\"");
        }
        for (const auto& [key, value] : p.items()) {
            if (key != "slot" && key != "kind" && key != "index" && key != "value") {
                refuse(place, "unknown key \"" + key + "\"");
            }
        }
        InputChange c;
        c.place = i;
        c.slot =
            static_cast<int>(whole_number(p["slot"], place + ".slot", 0, 255, "a slot (0 to 255)"));
        c.kind = point_kind(p["kind"], place + ".kind");
        c.index = static_cast<size_t>(
            whole_number(p["index"], place + ".index", 0, 65535, "an index (0 to 65535)"));
        c.value = point_value(p["value"], c.kind, place + ".value");
        out.push_back(c);
    }
    return out;
}

void check_input_changes(const Module& m, const std::vector<InputChange>& changes) {
    for (const InputChange& c : changes) {
        const std::string place = "points[" + std::to_string(c.place) + "]";
        const std::string slot = "slot " + std::to_string(c.slot);
        const auto it = m.base.slots.find(c.slot);
        if (it == m.base.slots.end()) refuse(place, "the module has no " + slot);
        const size_t count = count_of(it->second, c.kind);
        if (c.index >= count) {
            refuse(place, slot + " has " +
                              (count == 0 ? std::string("no ") + kind_name(c.kind) + " inputs"
                                          : std::to_string(count) + " " + kind_name(c.kind) +
                                                " input" + (count == 1 ? "" : "s") + " (0 to " +
                                                std::to_string(count - 1) + ")"));
        }
        if (c.index < mirrored(m, it->second, c.kind)) {
            refuse(place,
                   slot + "'s " + kind_name(c.kind) + " input " + std::to_string(c.index) +
                       " mirrors slot " + std::to_string(it->second.behaviour.wired_from) +
                       "'s outputs: a host's next read would undo the change",
                   409);
        }
    }
}

void apply_input_changes(Module& m, const std::vector<InputChange>& changes) {
    for (const InputChange& c : changes) {
        SlotImage& io = m.base.slots.at(c.slot).io;
        switch (c.kind) {
            case PointKind::bit:
                SlotImage::set_bit(io.bit_in, c.index, c.value != 0);
                break;
            case PointKind::word:
                io.word_in.at(c.index) = static_cast<uint16_t>(c.value);
                break;
            case PointKind::dword:
                io.dword_in.at(c.index) = c.value;
                break;
        }
    }
}

}  // namespace racksim
