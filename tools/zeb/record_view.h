// Records of bytes (setup records, the configuration block) as people and scripts see them,
// and as they are given on the command line.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "output.h"
#include "values.h"

namespace zeb::cli {

enum class Show { kAuto, kHex, kRaw };

// Text when every byte is printable (a zero byte at the end allowed), else hex; kRaw writes the
// bytes as they are.
std::string record_text(std::span<const uint8_t> bytes, Show show);
// A short form for a table cell: at most about 40 characters.
std::string record_preview(std::span<const uint8_t> bytes);
// {"length": n, "text": "..." or null, "hex": "00 01"}
Json record_json(std::span<const uint8_t> bytes);

// A value given on the command line: text as it is, hex bytes with `hex`, or the bytes of a
// file with `file`. Fails with exit code 2 when malformed or unreadable.
Bytes value_argument(const std::optional<std::string>& value, bool hex,
                     const std::optional<std::string>& file);

}  // namespace zeb::cli
