// A module's I/O as the library's point image holds it (zeb_points.h): the rows zeb shows, the
// values as people read them, and the outputs of chosen slots.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "output.h"
#include "zeb_points.h"

namespace zeb::cli {

enum class PointKind { kBit, kWord, kDword };

const char* kind_word(PointKind kind);  // "bit", "word", "dword"
// The image's point kind (ZEB_BIT_IN ... ZEB_DWORD_OUT) of an input or an output.
uint8_t image_kind(PointKind kind, bool output);

// How values are shown: words and 32-bit values unsigned or as two's complement, in decimal
// or hex. Bits are 0 or 1 either way.
struct ValueStyle {
    bool is_signed = false;
    bool hex = false;
};
std::string value_text(PointKind kind, uint32_t value, ValueStyle style);
// The value as JSON: a number, signed with `is_signed` (hex is for people only).
Json value_json(PointKind kind, uint32_t value, ValueStyle style);

// The image lives on the heap: it is about 8 KB.
std::unique_ptr<ZEBImage> new_image();

// A slot of the image, or null.
const ZEBSlotPoints* image_slot(const ZEBImage& image, int slot);
// How many points of a kind a slot has (0 for a slot the image does not hold).
int point_count(const ZEBImage& image, int slot, PointKind kind, bool output);
// The values of one slot's points of a kind, from point 0 on.
std::vector<uint32_t> point_values(const ZEBImage& image, int slot, PointKind kind, bool output);

// One slot's points of one kind and direction.
struct IoRow {
    int slot = 0;
    PointKind kind = PointKind::kBit;
    std::vector<uint32_t> values;
};
// One row per slot and kind that has inputs (or outputs), in slot order, bits before words
// before 32-bit values.
std::vector<IoRow> point_rows(const ZEBImage& image, bool outputs);
// [{"slot": n, "bits": [...], "words": [...], "dwords": [...]}] for the slots with inputs (or
// outputs).
Json points_json(const ZEBImage& image, bool outputs, ValueStyle style);

// A copy of the image that holds only the given slots, for a write that sends those alone.
std::unique_ptr<ZEBImage> image_of_slots(const ZEBImage& image, const std::set<int>& slots);

}  // namespace zeb::cli
