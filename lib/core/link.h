// Moving one frame to or from a device over its transport, and the clock the engine times with.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "zeb.h"

namespace zeb {

// Sends one frame: on the connected socket, to the broadcast address, or to the serial port.
uint32_t SendFrame(ZEBDevice* device, const uint8_t* frame, uint16_t length) noexcept;

// Takes one frame without waiting on a socket. *length holds the capacity on entry and the
// bytes received on return. ZEBERR_NO_PACKET when nothing is waiting (length unchanged).
uint32_t ReceiveFrame(ZEBDevice* device, uint8_t* buffer, int32_t* length) noexcept;

// Milliseconds from an arbitrary origin; elapsed time is the unsigned 32-bit difference.
uint32_t ClockMs() noexcept;

// The handle that becomes readable when a reply arrives, or kNoHandle where a receive waits by
// itself (the serial port waits within its own time-outs).
plat::Handle wait_handle(const ZEBDevice& device) noexcept;

// Sleeps until a frame may be waiting for the device or `timeout_ms` has passed.
void wait_for_frame(const ZEBDevice& device, uint32_t timeout_ms) noexcept;

}  // namespace zeb
