#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace racktap {

// An IPv4 socket address in the library's layout: family 2 (little-endian), port 0, the address
// in network order, and 8 zero bytes.
using SocketAddress = std::array<uint8_t, 16>;

// Reads a dotted quad such as "127.0.0.1": four decimal parts of 0 to 255, nothing else.
std::optional<SocketAddress> parse_local_address(std::string_view text);

}  // namespace racktap
