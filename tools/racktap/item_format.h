#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace racktap {

// Item types shared by the base definition and the I/O item stream.
inline constexpr uint8_t kSelectSlot = 0;
inline constexpr uint8_t kModuleRecord = 1;
inline constexpr uint8_t kBitInputs = 3;
inline constexpr uint8_t kBitOutputs = 4;
inline constexpr uint8_t kWordInputs = 5;
inline constexpr uint8_t kWordOutputs = 6;
inline constexpr uint8_t kMarker = 7;
inline constexpr uint8_t kDwordInputs = 8;
inline constexpr uint8_t kDwordOutputs = 9;
inline constexpr uint8_t kSwitchExtended = 11;
inline constexpr uint8_t kEndOfStream = 15;
inline constexpr uint8_t kEndBaseDef = 0xF0;  // extended item format only
inline constexpr uint8_t kEndByte = 0xFF;     // what a writer ends every stream with

struct ItemHeader {
    uint8_t type = 0;
    uint8_t length = 0;
    std::size_t size = 0;  // header bytes: 1 compact, 2 extended
};

// Reads the item header at `pos`: one byte (type in the high nibble, length in the low nibble)
// in the compact item format, a type byte and a length byte in the extended one. False when
// the header does not fit in the data.
inline bool read_header(std::span<const uint8_t> data, std::size_t pos, bool extended,
                        ItemHeader& header) {
    if (pos >= data.size()) return false;
    if (!extended) {
        header = {static_cast<uint8_t>(data[pos] >> 4), static_cast<uint8_t>(data[pos] & 0x0F), 1};
        return true;
    }
    if (data.size() - pos < 2) return false;
    header = {data[pos], data[pos + 1], 2};
    return true;
}

}  // namespace racktap
