#include "outputs_record.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace zeb::cli {

namespace {

namespace fs = std::filesystem;

constexpr PointKind kKinds[] = {PointKind::kBit, PointKind::kWord, PointKind::kDword};

std::string plural_key(PointKind kind) {
    return std::string(kind_word(kind)) + "s";
}

// A whole number of at least 0, however the JSON holds it.
std::optional<uint64_t> whole_number(const Json& v) {
    if (v.is_number_unsigned()) return v.get<uint64_t>();
    if (v.is_number_integer() && v.get<int64_t>() >= 0)
        return static_cast<uint64_t>(v.get<int64_t>());
    return std::nullopt;
}

// The slot number of a record's entry, or nothing when the entry is none.
std::optional<int> slot_of(const Json& entry) {
    if (!entry.is_object() || !entry.contains("slot")) return std::nullopt;
    const auto slot = whole_number(entry["slot"]);
    if (!slot || *slot >= ZEB_IMAGE_SLOTS) return std::nullopt;
    return static_cast<int>(*slot);
}

uint32_t kind_max(PointKind kind) {
    switch (kind) {
        case PointKind::kBit:
            return 1;
        case PointKind::kWord:
            return 0xFFFF;
        default:
            return 0xFFFFFFFFu;
    }
}

// The slot's outputs of one kind from the record, when they are as many as the image's and
// every one fits its kind.
std::optional<std::vector<uint32_t>> recorded(const Json& entry, const ZEBImage& image, int slot,
                                              PointKind kind) {
    const std::size_t count = static_cast<std::size_t>(point_count(image, slot, kind, true));
    const auto values = entry.find(plural_key(kind));
    if (values == entry.end()) {
        return count == 0 ? std::optional(std::vector<uint32_t>{}) : std::nullopt;
    }
    if (!values->is_array() || values->size() != count) return std::nullopt;
    std::vector<uint32_t> out;
    for (const Json& v : *values) {
        const auto value = whole_number(v);
        if (!value || *value > kind_max(kind)) return std::nullopt;
        out.push_back(static_cast<uint32_t>(*value));
    }
    return out;
}

}  // namespace

std::optional<fs::path> outputs_record_path(const HwAddress& hw) {
    fs::path base;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (state && *state && fs::path(state).is_absolute()) {
        base = state;
    } else if (home && *home) {
        base = fs::path(home) / ".local" / "state";
    } else {
        return std::nullopt;
    }
    std::string name = hw_text(hw);
    for (char& c : name) {
        if (c == ':') c = '-';  // a name every file system takes
    }
    return base / "zeb" / "outputs" / (name + ".json");
}

Json read_outputs_record(const fs::path& path, std::string* why) {
    std::error_code error;
    if (!fs::exists(path, error)) return nullptr;
    std::ifstream in(path);
    if (!in) {
        *why = "cannot read " + path.string();
        return nullptr;
    }
    Json record = Json::parse(in, nullptr, false);
    if (record.is_discarded() || !record.is_object() || !record.contains("slots") ||
        !record["slots"].is_array()) {
        *why = path.string() + " is no record of outputs";
        return nullptr;
    }
    return record;
}

std::set<int> restore_outputs(ZEBImage& image, const Json& record) {
    std::set<int> restored;
    if (!record.is_object() || !record.contains("slots") || !record["slots"].is_array()) {
        return restored;
    }
    for (const Json& entry : record["slots"]) {
        const auto slot = slot_of(entry);
        if (!slot || !image_slot(image, *slot)) continue;
        const int s = *slot;
        std::optional<std::vector<uint32_t>> values[3];
        bool fits = true;
        for (int k = 0; k < 3; ++k) {
            values[k] = recorded(entry, image, s, kKinds[k]);
            fits = fits && values[k];
        }
        if (!fits) continue;  // the slot's module is not the one the record knew
        for (int k = 0; k < 3; ++k) {
            for (std::size_t i = 0; i < values[k]->size(); ++i) {
                ZEBSetPoint(&image, static_cast<uint8_t>(s), image_kind(kKinds[k], true),
                            static_cast<uint16_t>(i), (*values[k])[i]);
            }
        }
        restored.insert(s);
    }
    return restored;
}

Json updated_outputs_record(const Json& record, const ZEBImage& image, const std::set<int>& slots,
                            const HwAddress& hw, const std::string& address) {
    Json kept = Json::array();
    if (record.is_object() && record.contains("slots") && record["slots"].is_array()) {
        for (const Json& entry : record["slots"]) {
            // Entries that are no slot's are dropped with those of the slots written.
            const auto slot = slot_of(entry);
            if (slot && !slots.count(*slot)) kept.push_back(entry);
        }
    }
    for (const int slot : slots) {
        Json entry{{"slot", slot}};
        for (const PointKind kind : kKinds) {
            entry[plural_key(kind)] = point_values(image, slot, kind, true);
        }
        kept.push_back(std::move(entry));
    }
    std::sort(kept.begin(), kept.end(),
              [](const Json& a, const Json& b) { return *slot_of(a) < *slot_of(b); });
    return Json{{"hardware_address", hw_text(hw)}, {"address", address}, {"slots", kept}};
}

bool write_outputs_record(const fs::path& path, const Json& record, std::string* why) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
        *why = "cannot create " + path.parent_path().string() + ": " + error.message();
        return false;
    }
    const fs::path fresh = path.string() + ".new";
    {
        std::ofstream out(fresh, std::ios::trunc);
        out << record.dump(2) << "\n";
        if (!out) {
            *why = "cannot write " + fresh.string();
            return false;
        }
    }
    fs::rename(fresh, path, error);
    if (error) {
        *why = "cannot write " + path.string() + ": " + error.message();
        return false;
    }
    return true;
}

}  // namespace zeb::cli
