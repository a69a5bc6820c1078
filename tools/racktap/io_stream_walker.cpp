#include "io_stream_walker.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "item_format.h"

namespace racktap {

namespace {

// Bytes of data after an item's header.
std::size_t data_size(const ItemHeader& item, bool extended) {
    const std::size_t length = item.length;
    switch (item.type) {
        case kSelectSlot:
        case kMarker:
        case kEndOfStream:
            return 0;
        case 1:
        case 14:
            return length + 2;
        case kWordInputs:
        case kWordOutputs:
            return extended ? length : length * 2;
        case kDwordInputs:
        case kDwordOutputs:
            return extended ? length : length * 4;
        default:
            return length;  // bits, the switch item and the types passed over
    }
}

void copy_bytes(std::span<const uint8_t> data, std::array<uint8_t, kMaxBits / 8>& image) {
    std::copy_n(data.begin(), std::min(data.size(), image.size()), image.begin());
}

// Little-endian values of `Width` bytes; a value cut short by the end of the data is dropped.
template <std::size_t Width, typename T, std::size_t N>
void copy_values(std::span<const uint8_t> data, std::array<T, N>& image) {
    const std::size_t count = std::min(data.size() / Width, N);
    for (std::size_t i = 0; i < count; ++i) {
        T value = 0;
        for (std::size_t b = 0; b < Width; ++b) {
            value |= static_cast<T>(static_cast<T>(data[i * Width + b]) << (8 * b));
        }
        image[i] = value;
    }
}

void store(SlotDescriptor& slot, uint8_t type, std::span<const uint8_t> data) {
    switch (type) {
        case kBitInputs:
            copy_bytes(data, slot.bit_inputs);
            break;
        case kBitOutputs:
            copy_bytes(data, slot.bit_outputs);
            break;
        case kWordInputs:
            copy_values<2>(data, slot.word_inputs);
            break;
        case kWordOutputs:
            copy_values<2>(data, slot.word_outputs);
            break;
        case kDwordInputs:
            copy_values<4>(data, slot.dword_inputs);
            break;
        case kDwordOutputs:
            copy_values<4>(data, slot.dword_outputs);
            break;
        default:
            break;
    }
}

}  // namespace

void store_inputs(std::span<const uint8_t> stream, IoMap& map) {
    bool extended = false;
    SlotDescriptor* selected = nullptr;
    std::size_t pos = 0;
    ItemHeader item;
    while (pos < stream.size()) {
        if (stream[pos] == kEndByte) return;
        if (!read_header(stream, pos, extended, item)) return;
        pos += item.size;
        if (item.type == kEndOfStream) return;
        if (item.type > kEndOfStream) continue;  // extended only: the header alone is passed over

        const std::size_t size = data_size(item, extended);
        const auto data = stream.subspan(pos, std::min(size, stream.size() - pos));
        if (item.type == kSelectSlot) {
            selected = nullptr;
            if (item.length < kSlotCount && map[item.length]) selected = &*map[item.length];
        } else if (item.type == kSwitchExtended && !extended) {
            extended = true;
        } else if (selected) {
            store(*selected, item.type, data);
        }
        if (data.size() < size) return;  // cut short by the end of the delivered bytes
        pos += size;
    }
}

}  // namespace racktap
