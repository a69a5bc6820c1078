// The typed item stream shared by the I/O exchange and the base definition: one-byte compact
// headers (type in the high nibble, element count in the low one) or, after the switch item
// 0xB1 0x00, two-byte extended headers (type byte, byte count).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

namespace racksim {

inline constexpr uint8_t kSwitchByte = 0xB1;  // the switch item as written: 0xB1 0x00
inline constexpr uint8_t kEndIo = 0xFF;
inline constexpr uint8_t kEndBaseDef = 0xF0;  // extended format only

class StreamWriter {
  public:
    // An extended stream starts with the switch item.
    explicit StreamWriter(bool extended);
    // The same, written to the end of `out`.
    StreamWriter(bool extended, Bytes& out);
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

    bool extended() const { return extended_; }
    void switch_to_extended();
    // Selects a slot; in the compact format a slot above 15 has no header, so the stream
    // switches to the extended format first.
    void select_slot(int slot);
    // Writes `count` elements of `elem_size` bytes as one or more items of `type`, each no
    // longer than its header can say. Consecutive items of one type continue each other.
    void data_items(uint8_t type, const uint8_t* data, size_t count, size_t elem_size);
    // The same for 16- or 32-bit values, written little-endian.
    template <class T>
    void value_items(uint8_t type, const T* values, size_t count) {
        const size_t per_item = extended_ ? 255 / sizeof(T) : 15;
        while (count > 0) {
            const size_t n = std::min(count, per_item);
            header(type, extended_ ? n * sizeof(T) : n);
            for (size_t i = 0; i < n; ++i) {
                for (size_t b = 0; b < sizeof(T); ++b) {
                    out_->push_back(static_cast<uint8_t>(values[i] >> (8 * b)));
                }
            }
            values += n;
            count -= n;
        }
    }
    // A module record (type 1): its header length is the record size minus 2.
    void record_item(const Bytes& record);
    void put(uint8_t b) { out_->push_back(b); }
    Bytes take() { return std::move(*out_); }

  private:
    void header(uint8_t type, size_t len);
    bool extended_;
    Bytes own_;
    Bytes* out_;
};

// One data item of an output stream, placed after the earlier items of the same type that
// followed the same slot selection.
struct StreamItem {
    int slot = -1;  // -1: no slot selected yet
    uint8_t type = 0;
    size_t offset = 0;  // bytes already delivered by earlier items of this type and slot
    Bytes data;
};

// Reads an I/O stream. Keeps the data items of the bit, word and 32-bit types (inputs and
// outputs); passes over the rest. Returns false for a malformed stream (an item running past
// the end, or an extended word or 32-bit item whose byte count is not whole elements).
bool parse_io_stream(const uint8_t* data, size_t len, std::vector<StreamItem>* items,
                     std::string* why);

// Whether a stream starts with the switch item.
inline bool starts_extended(const uint8_t* data, size_t len) {
    return len >= 1 && data[0] == kSwitchByte;
}

// Size in bytes of one element of an I/O data item type (0 for other types).
size_t element_size(uint8_t type);

// One item header: a type byte and a length byte in the extended item format, or the type in
// the high and the length in the low nibble of one byte in the compact one.
struct ItemHeader {
    uint8_t type = 0;
    size_t length = 0;
};

// Reads the next item header. False when the data ends before a whole header.
inline bool read_item_header(Reader& in, bool extended, ItemHeader* h) {
    uint8_t first = 0;
    if (!in.u8(&first)) return false;
    if (!extended) {
        *h = {static_cast<uint8_t>(first >> 4), static_cast<size_t>(first & 0x0F)};
        return true;
    }
    uint8_t length = 0;
    *h = {first, 0};
    if (!in.u8(&length)) return false;
    h->length = length;
    return true;
}

}  // namespace racksim
