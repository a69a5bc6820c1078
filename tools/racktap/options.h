#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "local_address.h"
#include "zeb.h"

namespace racktap {

enum class Selection { kByNumber, kByName };

inline constexpr std::size_t kNameBufferSize = 256;

struct Options {
    uint16_t protocol = ZEB_PROTOCOL_IPX;
    Selection selection = Selection::kByNumber;
    int32_t number = 0;
    std::array<char, kNameBufferSize> name{};  // the name followed by zeros
    std::optional<SocketAddress> local_address;
    bool verbose = false;
    bool usage = false;  // /? or /H: print the usage text and stop
};

// Reads the arguments after the program name left to right; a later option overrides an
// earlier one. Unknown options and bad local addresses are reported on `out`. Reading stops at
// /? or /H.
Options parse_options(int argc, const char* const* argv, std::FILE* out);

// Reads a decimal integer: leading blanks and a sign allowed, stops at the first non-digit, no
// digits give 0. Values beyond the 32-bit range are held at its ends.
int32_t parse_decimal(const char* text);

}  // namespace racktap
