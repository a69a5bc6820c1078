#include "io_image.h"

#include <algorithm>
#include <cstdio>

namespace racksim {

namespace {

template <class T>
void copy_prefix(const std::vector<T>& from, std::vector<T>& to) {
    std::copy_n(from.begin(), std::min(from.size(), to.size()), to.begin());
}

// Copies bit outputs to bit inputs as far as both exist; spare bits of the last byte stay 0.
void copy_bits(const Bytes& from, size_t from_count, Bytes& to, size_t to_count) {
    const size_t n = std::min(from_count, to_count);
    for (size_t i = 0; i < n; ++i) SlotImage::set_bit(to, i, SlotImage::bit(from, i));
}

std::string hex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        s += buf;
    }
    return s;
}

template <class T>
std::string list(const std::vector<T>& v, size_t from, size_t n) {
    std::string s;
    for (size_t i = from; i < from + n; ++i) {
        if (!s.empty()) s += ',';
        s += std::to_string(v[i]);
    }
    return s;
}

// Stores little-endian values into an output image from element `first` on, never past its
// end; returns how many were stored.
template <typename T>
size_t store_values(std::vector<T>& out, size_t first, const uint8_t* data, size_t size) {
    const size_t n = first < out.size() ? std::min(size / sizeof(T), out.size() - first) : 0;
    for (size_t i = 0; i < n; ++i) out[first + i] = get_le<T>(data + i * sizeof(T));
    return n;
}

}  // namespace

void refresh_inputs(Module& m) {
    Slots& slots = m.base.slots;
    for (auto& [n, slot] : slots) {
        const SlotBehaviour& b = slot.behaviour;
        if (b.wired_from >= 0) {
            auto src = slots.find(b.wired_from);
            if (src != slots.end()) {
                const Slot& s = src->second;
                copy_bits(s.io.bit_out, s.counts().bit_out, slot.io.bit_in, slot.counts().bit_in);
                copy_prefix(s.io.word_out, slot.io.word_in);
                copy_prefix(s.io.dword_out, slot.io.dword_in);
            }
        }
        if (b.counter) {
            if (!slot.io.word_in.empty()) {
                ++slot.io.word_in[0];
            } else if (!slot.io.dword_in.empty()) {
                ++slot.io.dword_in[0];
            }
        }
    }
}

namespace {

// One direction of a slot's image: its bit, word and 32-bit values with their item types.
struct ImageSide {
    uint8_t bit_type, word_type, dword_type;
    const Bytes& bits;
    const std::vector<uint16_t>& words;
    const std::vector<uint32_t>& dwords;
};

// Writes the stream of one side of every slot's image to the end of `out`.
void append_stream(const Slots& slots, bool extended, ImageSide (*side)(const Slot&), Bytes& out) {
    StreamWriter w(extended, out);
    for (const auto& [n, slot] : slots) {
        const ImageSide s = side(slot);
        if (s.bits.empty() && s.words.empty() && s.dwords.empty()) continue;
        w.select_slot(n);
        if (!s.bits.empty()) w.data_items(s.bit_type, s.bits.data(), s.bits.size(), 1);
        if (!s.words.empty()) w.value_items(s.word_type, s.words.data(), s.words.size());
        if (!s.dwords.empty()) w.value_items(s.dword_type, s.dwords.data(), s.dwords.size());
    }
    w.put(items::kEndByte);
}

ImageSide input_side(const Slot& s) {
    return ImageSide{items::kBitIn, items::kWordIn, items::kDwordIn,
                     s.io.bit_in,   s.io.word_in,   s.io.dword_in};
}

ImageSide output_side(const Slot& s) {
    return ImageSide{items::kBitOut, items::kWordOut, items::kDwordOut,
                     s.io.bit_out,   s.io.word_out,   s.io.dword_out};
}

}  // namespace

void append_inputs(const Slots& slots, bool extended, Bytes& out) {
    append_stream(slots, extended, input_side, out);
}

Bytes encode_inputs(const Slots& slots, bool extended) {
    Bytes out;
    append_stream(slots, extended, input_side, out);
    return out;
}

Bytes encode_outputs(const Slots& slots, bool extended) {
    Bytes out;
    append_stream(slots, extended, output_side, out);
    return out;
}

std::string store_outputs(Module& m, const uint8_t* stream, size_t len) {
    std::string log;
    auto note = [&](int slot, const char* what, const std::string& value) {
        if (!log.empty()) log += "; ";
        log += "slot " + std::to_string(slot) + " " + what + " " + value;
    };
    auto store = [&](const ValueItem& item) {
        auto it = m.base.slots.find(item.slot);
        if (it == m.base.slots.end()) return;
        Slot& slot = it->second;
        const size_t first = item.offset / items::value_size(item.type);
        const uint8_t* p = item.data;
        switch (item.type) {
            case items::kBitOut: {
                const size_t count = slot.counts().bit_out;
                size_t stored = 0;
                for (size_t i = 0; i < item.size; ++i) {
                    for (size_t bit = 0; bit < 8; ++bit) {
                        const size_t n = (first + i) * 8 + bit;
                        if (n >= count) break;
                        SlotImage::set_bit(slot.io.bit_out, n, (p[i] >> bit) & 1);
                    }
                    if ((first + i) * 8 < count) ++stored;
                }
                if (stored) note(item.slot, "bit outputs", hex(&slot.io.bit_out[first], stored));
                break;
            }
            case items::kWordOut:
                if (size_t n = store_values(slot.io.word_out, first, p, item.size)) {
                    note(item.slot, "word outputs", list(slot.io.word_out, first, n));
                }
                break;
            case items::kDwordOut:
                if (size_t n = store_values(slot.io.dword_out, first, p, item.size)) {
                    note(item.slot, "32-bit outputs", list(slot.io.dword_out, first, n));
                }
                break;
            default:
                break;  // a host does not write inputs
        }
    };
    const char* why = "";
    read_io_stream(stream, len, store, &why);
    return log.empty() ? "nothing stored" : log;
}

std::string describe_inputs(const Module& m) {
    std::string log;
    for (const auto& [n, slot] : m.base.slots) {
        const SlotImage& io = slot.io;
        std::string parts;
        auto add = [&](const char* what, const std::string& v) {
            parts += std::string(parts.empty() ? "" : " ") + what + " " + v;
        };
        if (!io.bit_in.empty()) add("bits", hex(io.bit_in.data(), io.bit_in.size()));
        if (!io.word_in.empty()) add("words", list(io.word_in, 0, io.word_in.size()));
        if (!io.dword_in.empty()) add("32-bit", list(io.dword_in, 0, io.dword_in.size()));
        if (parts.empty()) continue;
        if (!log.empty()) log += "; ";
        log += "slot " + std::to_string(n) + " " + parts;
    }
    return log.empty() ? "no inputs" : log;
}

}  // namespace racksim
