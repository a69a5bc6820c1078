// Status words of the memory, shared-RAM, serial-port and controller replies. The general ones
// (unknown function, malformed request) are in functions.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace racksim {

// No memory area, shared RAM or controller area of that kind.
inline constexpr uint16_t kStatusNoSuchArea = 0x0081;
// The block does not start (or, for a write, end) inside it.
inline constexpr uint16_t kStatusOutsideArea = 0x0082;
// A write to read-only memory: nothing written.
inline constexpr uint16_t kStatusAreaReadOnly = 0x0083;
// The answer would not fit the host's reply buffer.
inline constexpr uint16_t kStatusAnswerTooLarge = 0x0084;
// A read ran past the end of its area: the bytes there, then 0.
inline constexpr uint16_t kStatusPartialRead = 0x0086;
inline constexpr uint16_t kStatusNoSuchPort = 0x0090;
// No room in the transmit queue: nothing queued.
inline constexpr uint16_t kStatusTransmitFull = 0x0091;
// Line settings the port cannot take: the old ones stay.
inline constexpr uint16_t kStatusBadLineSetup = 0x0092;
// Received bytes were lost to a full queue since the last read.
inline constexpr uint16_t kStatusReceiveOverrun = 0x0093;
// No controller behind the module.
inline constexpr uint16_t kStatusNoController = 0x00A0;

// "0x" and `digits` hex digits, for the log.
inline std::string hex_text(uint32_t v, int digits = 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

inline std::string status_text(uint16_t status) {
    return "status " + hex_text(status);
}

}  // namespace racksim
