#include "output_stream.h"

#include "vocab/items.h"

namespace racktap {

namespace {

using namespace zeb::vocab::items;

void put_le(std::vector<uint8_t>& out, uint32_t value, int width) {
    for (int b = 0; b < width; ++b) out.push_back(static_cast<uint8_t>(value >> (8 * b)));
}

void put_slot(std::vector<uint8_t>& out, int slot, const SlotDescriptor& d) {
    const int bits = held(d.counts.bit_outputs, kMaxBits);
    const int words = held(d.counts.word_outputs, kMaxWords);
    const int dwords = held(d.counts.dword_outputs, kMaxDwords);
    if (bits == 0 && words == 0 && dwords == 0) return;

    out.push_back(kSelectSlot);
    out.push_back(static_cast<uint8_t>(slot));
    if (bits > 0) {
        const int bytes = (bits + 7) / 8;
        out.push_back(kBitOut);
        out.push_back(static_cast<uint8_t>(bytes));
        out.insert(out.end(), d.bit_outputs.begin(), d.bit_outputs.begin() + bytes);
    }
    if (words > 0) {
        out.push_back(kWordOut);
        out.push_back(static_cast<uint8_t>(words * 2));
        for (int i = 0; i < words; ++i) put_le(out, d.word_outputs[i], 2);
    }
    if (dwords > 0) {
        out.push_back(kDwordOut);
        out.push_back(static_cast<uint8_t>(dwords * 4));
        for (int i = 0; i < dwords; ++i) put_le(out, d.dword_outputs[i], 4);
    }
}

}  // namespace

std::vector<uint8_t> build_output_stream(const IoMap& map) {
    std::vector<uint8_t> out{kExtendedMarker, 0x00};
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (map[slot]) put_slot(out, slot, *map[slot]);
    }
    out.push_back(kEndByte);
    return out;
}

}  // namespace racktap
