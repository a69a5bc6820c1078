// Frames as a module builds and reads them, written independently of the library's own framing
// so that tests compare the library against a second implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "endpoint.h"

namespace zebtest {

inline constexpr size_t kHeader = 9;

// CRC-16/XMODEM, bit by bit.
uint16_t reference_crc(const uint8_t* data, size_t len);
uint16_t reference_crc(const Bytes& data);

Bytes text_bytes(std::string_view text);
uint16_t u16_at(const Bytes& b, size_t at);

// A frame with every header field given: magic, sequence, CRC field, length = payload size.
Bytes make_frame(uint16_t sequence, uint16_t crc_field, const Bytes& payload,
                 std::string_view magic = "ZQK");
// A module's reply: the CRC of the payload when `crc_on`, else 0 in the CRC field.
Bytes make_reply(uint16_t sequence, const Bytes& payload, bool crc_on = true);
// A reply whose CRC field does not match its payload (and is not 0).
Bytes make_bad_crc_reply(uint16_t sequence, const Bytes& payload);

uint16_t sequence_of(const Bytes& frame);
Bytes payload_of(const Bytes& frame);  // bytes from 9 on
// A request with the transport's XOR key undone (bytes 5 on), as a module reads it.
Bytes unkey(Bytes frame, std::string_view key);
// Whether a request's CRC field matches its body (or is 0).
bool crc_field_ok(const Bytes& frame);

}  // namespace zebtest
