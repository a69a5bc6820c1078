// The one generator behind a module's random faults and manners: splitmix64, small, fast and the
// same on every platform, so that a seed replays exactly.
#pragma once

#include <cstdint>

namespace racksim {

inline uint64_t next_random(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A number from 0 up to, not including, 1.
inline double uniform(uint64_t& state) {
    return static_cast<double>(next_random(state) >> 11) * 0x1.0p-53;
}

}  // namespace racksim
