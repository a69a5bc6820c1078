#include "crc16.h"

#include <array>

namespace zeb {
namespace {

constexpr std::array<uint16_t, 256> make_table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr auto kTable = make_table();
static_assert(kTable[1] == 0x1021);

}  // namespace

uint16_t crc16(const uint8_t* data, size_t len) noexcept {
    uint16_t crc = 0;
    for (size_t i = 0; i < len; ++i) {
        crc = static_cast<uint16_t>(kTable[((crc >> 8) ^ data[i]) & 0xFF] ^ (crc << 8));
    }
    return crc;
}

}  // namespace zeb
