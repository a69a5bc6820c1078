// The typed item stream shared by the I/O exchange and the base definition: one-byte compact
// headers (type in the high nibble, element count in the low one) or, after the switch item
// 0xB1 0x00, two-byte extended headers (type byte, byte count). RackSim writes its streams
// here and reads what hosts write with the library's item reader (io/item_stream.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "bytes.h"
#include "io/item_stream.h"

namespace racksim {

// The item types, and the reader of streams.
namespace items = zeb::items;

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
        const size_t per_item =
            extended_ ? items::kExtendedLengthMax / sizeof(T) : items::kCompactLengthMax;
        while (count > 0) {
            const size_t n = std::min(count, per_item);
            header(type, extended_ ? n * sizeof(T) : n);
            for (size_t i = 0; i < n; ++i) put_le(*out_, values[i]);
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

// Whether a stream starts with the switch item.
inline bool starts_extended(const uint8_t* data, size_t len) {
    return len >= 1 && data[0] == items::kExtendedMarker;
}

// One item of values (bits, words or 32-bit values, inputs or outputs) in a stream a host
// wrote, placed after the earlier items of its type that followed the same slot selection.
struct ValueItem {
    int slot = -1;  // -1: no slot selected yet
    uint8_t type = 0;
    size_t offset = 0;  // bytes delivered by earlier items of this type and slot
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Reads an I/O stream a host wrote, calling on_values(const ValueItem&) for each item of
// values and passing over the rest. False, with the reason in *why, for a stream the module
// refuses: an item that runs past the end, or an extended word or 32-bit item whose byte count
// is not whole values. The items before such a fault have been handed out by then, so a caller
// that must not act on a refused stream reads it once to check it.
template <class OnValues>
bool read_io_stream(const uint8_t* data, size_t len, OnValues on_values, const char** why) {
    items::ItemReader in(data, len);
    ValueItem v;
    size_t offsets[items::kGroups] = {};
    for (items::Item item; in.next(item);) {
        if (item.type == items::kSelectSlot) {
            v.slot = item.length;
            std::fill(std::begin(offsets), std::end(offsets), 0);
            continue;
        }
        const items::Group group = items::group_of(item.type);
        if (group != items::kGroups && in.extended() &&
            item.length % items::value_size(item.type) != 0) {
            *why = "item length is not whole elements";
            return false;
        }
        if (!item.whole) {
            *why = "item runs past the end";
            return false;
        }
        if (group == items::kGroups) continue;
        v.type = item.type;
        v.offset = offsets[group];
        v.data = item.data;
        v.size = item.size;
        on_values(v);
        offsets[group] += item.size;
    }
    return true;
}

}  // namespace racksim
