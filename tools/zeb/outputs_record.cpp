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
        if (!v.is_number_unsigned() || v.get<uint64_t>() > kind_max(kind)) return std::nullopt;
        out.push_back(v.get<uint32_t>());
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
        if (!entry.is_object() || !entry.contains("slot") || !entry["slot"].is_number_unsigned()) {
            continue;
        }
        const uint64_t slot = entry["slot"].get<uint64_t>();
        if (slot >= ZEB_IMAGE_SLOTS || !image_slot(image, static_cast<int>(slot))) continue;
        const int s = static_cast<int>(slot);
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
            const bool valid = entry.is_object() && entry.contains("slot") &&
                               entry["slot"].is_number_unsigned() &&
                               entry["slot"].get<uint64_t>() < ZEB_IMAGE_SLOTS;
            if (valid && !slots.count(entry["slot"].get<int>())) kept.push_back(entry);
        }
    }
    for (const int slot : slots) {
        Json entry{{"slot", slot}};
        for (const PointKind kind : kKinds) {
            entry[plural_key(kind)] = point_values(image, slot, kind, true);
        }
        kept.push_back(std::move(entry));
    }
    std::sort(kept.begin(), kept.end(), [](const Json& a, const Json& b) {
        return a.value("slot", 0) < b.value("slot", 0);
    });
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
