// The frame around every request and reply: the 9-byte header ("ZQK", sequence number, CRC-16
// of the payload, payload length, the numbers little-endian), or the 16-byte one whose last
// seven bytes name the module by its hardware address (vocab/markers.h). The payload follows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb::vocab::frame {

inline constexpr uint8_t kMagic[3] = {'Z', 'Q', 'K'};
inline constexpr size_t kSequenceAt = 3;
inline constexpr size_t kCrcAt = 5;
inline constexpr size_t kLengthAt = 7;
// A transport's XOR key covers the frame from the CRC field on.
inline constexpr size_t kKeyedFrom = kCrcAt;

inline constexpr size_t kHeaderSize = 9;
inline constexpr size_t kExtendedHeaderSize = 16;

}  // namespace zeb::vocab::frame
