// Numbers and byte strings as written on a command line, and bytes as shown to people.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeb::cli {

using Bytes = std::vector<uint8_t>;

// A decimal number, or hex after "0x"; nothing when malformed or above `max`.
std::optional<uint64_t> parse_unsigned(std::string_view text, uint64_t max);
// The same with an optional '-', between `min` and `max`.
std::optional<int64_t> parse_signed(std::string_view text, int64_t min, int64_t max);

// Pairs of hex digits; blanks, ':' and '-' between bytes are allowed ("00 0A ff", "000aff").
std::optional<Bytes> parse_hex_bytes(std::string_view text);
// Text with the escapes \n \r \t \0 \\ and \xHH; nothing when an escape is malformed.
std::optional<Bytes> parse_escaped_text(std::string_view text);

// Whether every byte is printable ASCII, allowing a run of zero bytes at the end.
bool is_printable_text(std::span<const uint8_t> bytes);
// The bytes up to the first zero, as text.
std::string text_up_to_zero(std::span<const uint8_t> bytes);
// "00 0A FF"
std::string hex_text(std::span<const uint8_t> bytes);
// Printable ASCII as it is, everything else escaped as in parse_escaped_text.
std::string escaped_text(std::span<const uint8_t> bytes);
// Lines of 16 bytes: address, hex, and the printable characters.
std::string hex_dump(std::span<const uint8_t> bytes, uint64_t first_address);

// Little-endian fields of a byte string; 0 where the bytes run out.
uint16_t le16(std::span<const uint8_t> bytes, std::size_t at);
uint32_t le32(std::span<const uint8_t> bytes, std::size_t at);

}  // namespace zeb::cli
