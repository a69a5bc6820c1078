// IPv4 endpoints and the library's 16-byte socket-address layout, for tests.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace zebtest {

using Bytes = std::vector<uint8_t>;

// An IPv4 address and port, both in host byte order.
struct Endpoint {
    uint32_t ip = 0;
    uint16_t port = 0;
    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

constexpr uint32_t ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | d;
}

inline constexpr uint32_t kHostIp = ipv4(127, 0, 0, 1);
inline constexpr uint32_t kBroadcastIp = 0xFFFFFFFF;
inline constexpr uint16_t kModulePort = 0x7070;

using SocketAddress = std::array<uint8_t, 16>;

// Family 2 (little-endian), port and address in network order, 8 zero bytes.
SocketAddress socket_address(Endpoint e);
// Reads the first 8 bytes of such an address.
Endpoint endpoint_of(const uint8_t* address);

}  // namespace zebtest
