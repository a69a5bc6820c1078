// A datagram as the rack's socket read it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace racksim {

// One datagram read: where it came from, the local address it reached, its bytes.
struct Received {
    const uint8_t* data = nullptr;
    size_t len = 0;
    uint32_t from_ip = 0;  // host order
    uint16_t from_port = 0;
    uint32_t to_ip = 0;      // 0 when the system did not say
    bool truncated = false;  // longer than the buffer
    bool inet = false;       // an IPv4 sender
};

}  // namespace racksim
