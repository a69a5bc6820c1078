#include "endpoint.h"

namespace zebtest {

SocketAddress socket_address(Endpoint e) {
    return {2,
            0,
            static_cast<uint8_t>(e.port >> 8),
            static_cast<uint8_t>(e.port),
            static_cast<uint8_t>(e.ip >> 24),
            static_cast<uint8_t>(e.ip >> 16),
            static_cast<uint8_t>(e.ip >> 8),
            static_cast<uint8_t>(e.ip),
            0,
            0,
            0,
            0,
            0,
            0,
            0,
            0};
}

Endpoint endpoint_of(const uint8_t* a) {
    return {uint32_t{a[4]} << 24 | uint32_t{a[5]} << 16 | uint32_t{a[6]} << 8 | a[7],
            static_cast<uint16_t>(a[2] << 8 | a[3])};
}

}  // namespace zebtest
