// The remote-master mailbox: a control block and a data window in the shared RAM of the module
// that a device record addresses, through which a remote master moves data and runs commands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zeb.h"

namespace zeb {

// The area through which requests are forwarded to nodes behind a remote master.
inline constexpr uint8_t kForwardArea = 4;
// Largest parameter block of a command: with the 6-byte head it fills one shared-RAM write.
inline constexpr size_t kCommandParamsMax = 250;

// Writes `count` bytes into the remote master's `area` from `offset` on, 256 bytes a chunk.
uint32_t write_vireo(ZEBDevice* device, uint16_t base, uint16_t slot, uint8_t area,
                     const uint8_t* source, uint16_t count, uint16_t offset) noexcept;

// Reads `count` bytes of `area` from `offset` on into `buffer`. Chunks already read stay
// delivered when a later one fails.
uint32_t read_vireo(ZEBDevice* device, uint16_t base, uint16_t slot, uint8_t area, uint8_t* buffer,
                    uint16_t count, uint16_t offset) noexcept;

// Runs `command`. The plain form gives the remote master's error byte on failure; the extended
// one carries parameters and gives its 16-bit error code.
uint32_t vireo_command(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t command) noexcept;
uint32_t vireo_command_ex(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t command,
                          const uint8_t* params, size_t param_length) noexcept;

}  // namespace zeb
