// The frame: "ZQK", sequence number, CRC-16 of the body, body length, then the body, with an
// optional 7-byte extension that names the module by its hardware address.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocab/markers.h"
#include "zeb.h"

namespace zeb::frame {

inline constexpr uint16_t kHeaderSize = 9;
inline constexpr uint16_t kExtendedHeaderSize = 16;
inline constexpr uint8_t kExtendedMarker = vocab::kExtendedHeader;
inline constexpr size_t kKeyFieldSize = sizeof(ZEBTransport::Key);

inline constexpr size_t kSequenceAt = 3;
inline constexpr size_t kCrcAt = 5;
inline constexpr size_t kLengthAt = 7;

inline uint16_t get_u16(const uint8_t* p) noexcept {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void put_u16(uint8_t* p, uint16_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The smallest request the device's header allows.
uint16_t header_size(const ZEBDevice& device) noexcept;

// Fills in the header of a request whose body the caller has written at the device's
// DataOffset: extension, magic, CRC, length, then the transport's XOR key over bytes 5 on.
// `length` must be at least header_size(device).
void prepare(const ZEBDevice& device, uint8_t* frame, uint16_t length) noexcept;

// Takes a fresh sequence number into the frame and the device's LastSequence.
void stamp_sequence(ZEBDevice& device, uint8_t* frame) noexcept;

// Whether a received reply's CRC is acceptable under the current CRC mode.
bool reply_crc_ok(const uint8_t* frame, int32_t length) noexcept;

// The same for a reply to `device`, which also remembers whether the device's module computes
// CRCs. A CRC field of 0 means "not computed", but it is also the CRC of every all-zero payload
// (a bare success status): once the module has sent a CRC, a zero field over a payload whose
// CRC is not 0 is damage. A broadcast device hears many modules and learns nothing.
bool reply_crc_ok(ZEBDevice& device, const uint8_t* frame, int32_t length) noexcept;

// XORs `bytes` with the key text, cycling its characters; an empty key changes nothing.
// The key ends at its first zero or after the whole field.
void apply_key(const char (&key)[kKeyFieldSize], uint8_t* bytes, size_t count) noexcept;

}  // namespace zeb::frame
