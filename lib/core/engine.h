// The request/response engine shared by every operation.
#pragma once

#include <cstdint>

#include "zeb.h"

namespace zeb {

// A result counts as failure when it is nonzero and lacks the 0x2000 bit.
inline bool failed(uint32_t result) noexcept {
    return result != 0 && !(result & ZEBWARN_RETRIED);
}

}  // namespace zeb
