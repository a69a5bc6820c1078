// Reading and writing a module's shared RAM, for code inside the library that builds on it
// (the remote-master mailbox) as well as for the exported operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocab/capacities.h"
#include "zeb.h"

namespace zeb {

// Largest blocks one request carries.
inline constexpr size_t kSharedRamReadMax = vocab::kMaxMemoryRead;
inline constexpr size_t kSharedRamWriteMax = vocab::kMaxSharedRamWrite;

// Reads `count` bytes at `address` of the shared RAM that base and slot select; bit 15 of the
// address travels as a flag beside it. The bytes are delivered whole or not at all: a count
// above kSharedRamReadMax, or a null buffer, is ZEBERR_BAD_PARAMETER before anything is sent,
// and so is a reply that carries fewer bytes. A module status whose low 12 bits are 0, or
// 0x0086, still delivers; any nonzero status is the result, sign-extended.
uint32_t read_shared_ram(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t address,
                         size_t count, uint8_t* buffer) noexcept;

// Writes `count` bytes (at most kSharedRamWriteMax, else ZEBERR_PACKET_TOO_LARGE before
// anything is sent). The result is the module's status, sign-extended.
uint32_t write_shared_ram(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t address,
                          size_t count, const uint8_t* source) noexcept;

}  // namespace zeb
