// The base definition and the I/O stream, read with the library's item reader and module-record
// decoder (io/item_stream.h), into RackTap's I/O map.
#include "item_walks.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

#include "io/item_stream.h"

namespace racktap {

namespace {

using namespace zeb::items;

Counts counts_of(const ModuleRecord& r) {
    return {r.counts[kGroupBitIn],   r.counts[kGroupBitOut],  r.counts[kGroupWordIn],
            r.counts[kGroupWordOut], r.counts[kGroupDwordIn], r.counts[kGroupDwordOut]};
}

void copy_bytes(const uint8_t* data, std::size_t size, std::array<uint8_t, kMaxBits / 8>& image) {
    std::copy_n(data, std::min(size, image.size()), image.begin());
}

// Little-endian values of `Width` bytes; a value cut short by the end of the data is dropped.
template <std::size_t Width, typename T, std::size_t N>
void copy_values(const uint8_t* data, std::size_t size, std::array<T, N>& image) {
    const std::size_t count = std::min(size / Width, N);
    for (std::size_t i = 0; i < count; ++i) {
        T value = 0;
        for (std::size_t b = 0; b < Width; ++b) {
            value |= static_cast<T>(static_cast<T>(data[i * Width + b]) << (8 * b));
        }
        image[i] = value;
    }
}

void store(SlotDescriptor& slot, uint8_t type, const uint8_t* data, std::size_t size) {
    switch (type) {
        case kBitIn:
            copy_bytes(data, size, slot.bit_inputs);
            break;
        case kBitOut:
            copy_bytes(data, size, slot.bit_outputs);
            break;
        case kWordIn:
            copy_values<2>(data, size, slot.word_inputs);
            break;
        case kWordOut:
            copy_values<2>(data, size, slot.word_outputs);
            break;
        case kDwordIn:
            copy_values<4>(data, size, slot.dword_inputs);
            break;
        case kDwordOut:
            copy_values<4>(data, size, slot.dword_outputs);
            break;
        default:
            break;
    }
}

}  // namespace

// The library's reader passes over other items with the data their I/O-stream type would
// carry, and stops at 0xFF or an end item; RackTap's walk of a base definition passes over any
// item but a slot select, a module record and the switch by its header alone, and stops only
// at 0xF0 (extended) or the end of the data. So the walk is its own here; the headers' shape,
// the types and the records are the library's.
IoMap build_io_map(std::span<const uint8_t> data) {
    IoMap map;
    bool extended = false;
    std::optional<int> slot;
    std::size_t pos = 0;
    while (pos < data.size()) {
        if (extended && data[pos] == kBaseDefEnd) break;
        const std::size_t header = extended ? 2 : 1;
        if (data.size() - pos < header) break;
        const uint8_t type = extended ? data[pos] : data[pos] >> 4;
        const uint8_t length = extended ? data[pos + 1] : data[pos] & 0x0F;
        pos += header;
        const std::size_t left = data.size() - pos;
        if (type == kSelectSlot) {
            slot = length;
        } else if (type == kModuleRecord) {
            const std::size_t size = data_size(type, length, extended);
            if (size > left) break;  // the record runs past the delivered data
            ModuleRecord record;
            if (read_module_record(data.data() + pos, size, record) && slot && *slot < kSlotCount) {
                map[*slot].emplace().counts = counts_of(record);
            }
            pos += size;
        } else if (type == kSwitchExtended && !extended) {
            if (length > left) break;
            pos += length;
            extended = true;
        }
    }
    return map;
}

void store_inputs(std::span<const uint8_t> stream, IoMap& map) {
    ItemReader in(stream.data(), stream.size());
    SlotDescriptor* selected = nullptr;
    for (Item item; in.next(item);) {
        if (item.type == kSelectSlot) {
            selected = nullptr;
            if (item.length < kSlotCount && map[item.length]) selected = &*map[item.length];
        } else if (selected && carries_points(item.type)) {
            store(*selected, item.type, item.data, item.size);
        }
    }
}

}  // namespace racktap
