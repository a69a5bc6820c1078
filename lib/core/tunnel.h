// Requests for a device whose Tunnel field is 1 travel through a remote-master module.
#pragma once

#include <cstdint>

#include "zeb.h"

namespace zeb {

// Carries the request body (from DataOffset on) to the tunnelled node and places its answer at
// byte 9 of `reply`, setting *reply_length to the answer's length plus 9.
uint32_t tunnel_exchange(ZEBDevice* device, uint8_t* request, uint16_t request_length,
                         uint8_t* reply, int32_t* reply_length) noexcept;

}  // namespace zeb
