#include "module_record.h"

#include <cstddef>

#include "item_format.h"

namespace racktap {

namespace {

// Kind 7 names each count by its I/O stream item type; other types set nothing.
void apply_pair(Counts& counts, uint8_t type, uint8_t count) {
    switch (type) {
        case kBitInputs:
            counts.bit_inputs = count;
            break;
        case kBitOutputs:
            counts.bit_outputs = count;
            break;
        case kWordInputs:
            counts.word_inputs = count;
            break;
        case kWordOutputs:
            counts.word_outputs = count;
            break;
        case kDwordInputs:
            counts.dword_inputs = count;
            break;
        case kDwordOutputs:
            counts.dword_outputs = count;
            break;
        default:
            break;
    }
}

}  // namespace

std::optional<Counts> decode_module_record(std::span<const uint8_t> r) {
    if (r.size() < 2) return std::nullopt;  // kind and identification byte
    Counts c;
    switch (r[0]) {
        case 1:
            if (r.size() < 6) return std::nullopt;
            c.bit_inputs = r[2];
            c.bit_outputs = r[3];
            c.word_inputs = r[4];
            c.word_outputs = r[5];
            return c;
        case 3:
            if (r.size() < 6) return std::nullopt;
            c.bit_inputs = r[2];
            c.bit_outputs = r[3];
            c.dword_inputs = r[4];
            c.dword_outputs = r[5];
            return c;
        case 5:
            if (r.size() < 8) return std::nullopt;
            c.bit_inputs = r[2];
            c.bit_outputs = r[3];
            c.word_inputs = r[4];
            c.word_outputs = r[5];
            c.dword_inputs = r[6];
            c.dword_outputs = r[7];
            return c;
        case 7: {
            if (r.size() < 3) return std::nullopt;
            const std::size_t pairs = r[2];
            if (r.size() < 3 + 2 * pairs) return std::nullopt;
            for (std::size_t i = 0; i < pairs; ++i) apply_pair(c, r[3 + 2 * i], r[4 + 2 * i]);
            return c;
        }
        case 255:
            return c;  // a slot without I/O
        default:
            return std::nullopt;
    }
}

}  // namespace racktap
