#include "io_points.h"

#include <cstdio>

namespace zeb::cli {

namespace {

constexpr PointKind kKinds[] = {PointKind::kBit, PointKind::kWord, PointKind::kDword};

int32_t as_signed(PointKind kind, uint32_t value) {
    if (kind == PointKind::kWord) return static_cast<int16_t>(static_cast<uint16_t>(value));
    return static_cast<int32_t>(value);
}

}  // namespace

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

uint8_t image_kind(PointKind kind, bool output) {
    switch (kind) {
        case PointKind::kBit:
            return output ? ZEB_BIT_OUT : ZEB_BIT_IN;
        case PointKind::kWord:
            return output ? ZEB_WORD_OUT : ZEB_WORD_IN;
        default:
            return output ? ZEB_DWORD_OUT : ZEB_DWORD_IN;
    }
}

std::string value_text(PointKind kind, uint32_t value, ValueStyle style) {
    if (kind == PointKind::kBit) return value ? "1" : "0";
    if (style.hex) {
        char buf[16];
        std::snprintf(buf, sizeof buf, kind == PointKind::kWord ? "0x%04X" : "0x%08X", value);
        return buf;
    }
    return style.is_signed ? std::to_string(as_signed(kind, value)) : std::to_string(value);
}

Json value_json(PointKind kind, uint32_t value, ValueStyle style) {
    if (kind != PointKind::kBit && style.is_signed) return as_signed(kind, value);
    return value;
}

std::unique_ptr<ZEBImage> new_image() {
    return std::make_unique<ZEBImage>();
}

const ZEBSlotPoints* image_slot(const ZEBImage& image, int slot) {
    for (uint16_t i = 0; i < image.SlotCount && i < ZEB_IMAGE_SLOTS; ++i) {
        if (image.Slots[i].Slot == slot) return &image.Slots[i];
    }
    return nullptr;
}

int point_count(const ZEBImage& image, int slot, PointKind kind, bool output) {
    // Count[] runs bit inputs, bit outputs, word inputs, word outputs, 32-bit in, 32-bit out.
    const ZEBSlotPoints* s = image_slot(image, slot);
    return s ? s->Count[2 * static_cast<int>(kind) + (output ? 1 : 0)] : 0;
}

std::vector<uint32_t> point_values(const ZEBImage& image, int slot, PointKind kind, bool output) {
    std::vector<uint32_t> values;
    uint32_t v = 0;
    while (values.size() < 256 &&
           ZEBGetPoint(&image, static_cast<uint8_t>(slot), image_kind(kind, output),
                       static_cast<uint16_t>(values.size()), &v) == 0) {
        values.push_back(v);
    }
    return values;
}

std::vector<IoRow> point_rows(const ZEBImage& image, bool outputs) {
    std::vector<IoRow> rows;
    for (uint16_t i = 0; i < image.SlotCount && i < ZEB_IMAGE_SLOTS; ++i) {
        const int slot = image.Slots[i].Slot;
        for (const PointKind kind : kKinds) {
            std::vector<uint32_t> values = point_values(image, slot, kind, outputs);
            if (!values.empty()) rows.push_back({slot, kind, std::move(values)});
        }
    }
    return rows;
}

Json points_json(const ZEBImage& image, bool outputs, ValueStyle style) {
    Json list = Json::array();
    for (uint16_t i = 0; i < image.SlotCount && i < ZEB_IMAGE_SLOTS; ++i) {
        const int slot = image.Slots[i].Slot;
        Json entry{{"slot", slot}};
        bool any = false;
        for (const PointKind kind : kKinds) {
            Json values = Json::array();
            for (const uint32_t v : point_values(image, slot, kind, outputs)) {
                values.push_back(value_json(kind, v, style));
            }
            any = any || !values.empty();
            entry[std::string(kind_word(kind)) + "s"] = std::move(values);
        }
        if (any) list.push_back(std::move(entry));
    }
    return list;
}

std::unique_ptr<ZEBImage> image_of_slots(const ZEBImage& image, const std::set<int>& slots) {
    auto only = std::make_unique<ZEBImage>(image);
    uint16_t kept = 0;
    for (uint16_t i = 0; i < image.SlotCount && i < ZEB_IMAGE_SLOTS; ++i) {
        // The values stay where they are: each slot keeps its places in Values.
        if (slots.count(image.Slots[i].Slot)) only->Slots[kept++] = image.Slots[i];
    }
    only->SlotCount = kept;
    return only;
}

}  // namespace zeb::cli
