// CRC-16/XMODEM: polynomial 0x1021, initial value 0, not reflected, no final XOR.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb {

uint16_t crc16(const uint8_t* data, size_t len) noexcept;

}  // namespace zeb
