// Bytes as a person reads and writes them: text where every byte is printable, else pairs of
// hex digits.
#pragma once

#include <cstddef>
#include <string>

#include "bytes.h"

namespace racksim {

// Printable ASCII, tab, carriage return and line feed only.
bool is_text(const Bytes& b);

// "01 A0 FF".
std::string hex_text(const uint8_t* data, size_t len);
inline std::string hex_text(const Bytes& b) {
    return hex_text(b.data(), b.size());
}

// Reads pairs of hex digits, with white space allowed between pairs. Appends to *out; false
// with the reason in *why when the text holds anything else or an odd digit.
bool parse_hex(const std::string& text, Bytes* out, std::string* why);

// A short description for a log line: `5 bytes "press"` or `3 bytes 01 02 03`, the bytes cut
// after a few.
std::string short_text(const Bytes& b);

}  // namespace racksim
