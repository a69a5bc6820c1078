// A module's base definition and I/O item streams: which slots hold which points, the inputs a
// read delivers, and the output stream that writes values.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "values.h"

namespace zeb::cli {

struct PointCounts {
    int bit_in = 0, bit_out = 0, word_in = 0, word_out = 0, dword_in = 0, dword_out = 0;
    bool operator==(const PointCounts&) const = default;
};

// One slot of the base definition: its module record's kind, identification byte and counts.
struct SlotLayout {
    int slot = 0;
    uint8_t kind = 0;
    uint8_t ident = 0;
    PointCounts counts;
    bool operator==(const SlotLayout&) const = default;
};
using BaseLayout = std::vector<SlotLayout>;  // ascending slot numbers

// Walks a base definition (compact items, extended after 0xB1 0x00, ended by 0xF0 or the end
// of the data). A module record belongs to the slot selected last; records of unknown kinds,
// records cut short and records before any selection describe nothing. A slot described twice
// keeps the last record.
BaseLayout parse_base_definition(std::span<const uint8_t> data);

// Points of one slot, in one direction: bits one value each (0 or 1), words, 32-bit values.
struct SlotImage {
    std::vector<uint8_t> bits;
    std::vector<uint16_t> words;
    std::vector<uint32_t> dwords;
    bool empty() const { return bits.empty() && words.empty() && dwords.empty(); }
    bool operator==(const SlotImage&) const = default;
};
using Image = std::map<int, SlotImage>;  // by slot

// The inputs of an I/O stream (bit, word and 32-bit input items) by slot; items of one type
// for one slot continue each other. Ends at an end item, the end byte 0xFF, or the end of the
// data; an item cut short keeps the whole values it delivered.
Image parse_inputs(std::span<const uint8_t> stream);

// Cuts each slot's inputs to the counts of the layout (bits travel in whole bytes).
void fit_inputs(Image& inputs, const BaseLayout& layout);

// An output stream in the extended item format: 0xB1 0x00, then for each slot with outputs its
// selection and its bit, word and 32-bit output items (longer runs split into items of at most
// 255 bytes), then 0xFF.
Bytes build_output_stream(const Image& outputs);

}  // namespace zeb::cli
