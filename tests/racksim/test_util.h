// Helpers for driving a rack in-process: request frames built the way a host builds them,
// and replies taken apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"
#include "rack.h"

namespace racksim::test {

inline constexpr uint32_t kModuleA = 0x7F000002;  // 127.0.0.2
inline constexpr uint32_t kModuleB = 0x7F000003;  // 127.0.0.3
inline constexpr uint32_t kModuleC = 0x7F000004;  // 127.0.0.4

struct Reply {
    uint32_t from_ip = 0;
    uint32_t delay_ms = 0;
    std::string magic;
    uint16_t sequence = 0;
    uint16_t crc_field = 0;
    bool crc_right = false;  // the field matches the payload's CRC
    bool length_right = false;
    Bytes payload;
    uint16_t status() const;  // u16 at payload 0
    Bytes after_status() const;
};

Reply decode(const Outgoing& out);

// Sends one request payload (function code first) and decodes every reply.
std::vector<Reply> ask(Rack& rack, uint32_t to_ip, const Bytes& payload, uint16_t seq = 7);
// Same, with exactly one reply expected (test fails otherwise, returns an empty reply).
Reply ask_one(Rack& rack, uint32_t to_ip, const Bytes& payload, uint16_t seq = 7);

// A rack of three modules: "alpha" (number 1, slots 0: 16 bit in, 1: 8 bit in, 3: 8 bit out,
// 4: 4 word in/out, 5: 2 32-bit in/out), "beta" (number 2, one kind-5 slot) and "gamma"
// (number 3, a node without slots).
Rack three_modules();

Bytes concat(std::initializer_list<Bytes> parts);

// A clock that moves only when told.
class ManualClock final : public Clock {
  public:
    uint64_t now_ms() const override { return now; }
    uint64_t now = 1000;
};

// The little-endian u16 or u32 at `at`.
uint16_t u16_at(const Bytes& b, size_t at);
uint32_t u32_at(const Bytes& b, size_t at);

}  // namespace racksim::test
