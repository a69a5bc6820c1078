// The item streams: the I/O stream (a module's inputs, a host's outputs) and the base
// definition share their item headers and types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocab/markers.h"

namespace zeb::vocab::items {

enum Type : uint8_t {
    kSelectSlot = 0,    // later items belong to the slot numbered by the length field
    kModuleRecord = 1,  // base definition: a slot's module record
    kBitIn = 3,
    kBitOut = 4,
    kWordIn = 5,
    kWordOut = 6,
    kMarker = 7,
    kDwordIn = 8,
    kDwordOut = 9,
    kSwitchExtended = 11,  // the rest of the stream is in the extended item format
    kEnd = 15,
};

// Written as the two bytes 0xB1 0x00, the switch item is also the marker with which a caller
// asks for the extended format.
inline constexpr uint8_t kExtendedMarker = kExtendedFormat;
// The byte every writer ends a stream with.
inline constexpr uint8_t kEndByte = 0xFF;
// The end of a base definition in the extended item format.
inline constexpr uint8_t kBaseDefEnd = 0xF0;

// The largest length field: compact headers hold a nibble, extended ones a byte.
inline constexpr size_t kCompactLengthMax = 15;
inline constexpr size_t kExtendedLengthMax = 255;

}  // namespace zeb::vocab::items
