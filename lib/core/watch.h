// What a host may learn about its devices' traffic besides the results: the transport error
// behind a device's last failure, and a trace of every frame sent and received.
#pragma once

#include <cstdint>

#include "zeb.h"

namespace zeb::watch {

// A frame left for the device: `result` is what the send gave.
void sent(const ZEBDevice& device, const uint8_t* frame, uint16_t length, uint32_t result) noexcept;
// A receive on the device ended with `result`; a frame arrived when it is 0 and length > 0.
void received(const ZEBDevice& device, const uint8_t* frame, int32_t length,
              uint32_t result) noexcept;
// The record is closed or opened anew: what this thread kept for it was the old device's, and
// a device opened later at the same address (the same variable, or reused memory) must not
// inherit it.
void forget(const ZEBDevice& device) noexcept;

}  // namespace zeb::watch
