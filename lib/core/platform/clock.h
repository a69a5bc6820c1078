// The millisecond clock every wait is timed with: the platform's high-resolution counter, from
// an arbitrary origin; elapsed time is the unsigned 32-bit difference.
#pragma once

#include <cstdint>

#include "core/platform/platform.h"

namespace zeb {

inline uint32_t ClockMs() noexcept {
    return plat::platform().clock_ms();
}

}  // namespace zeb
