// A stand-in for zeb32_3 that records the last call it took, so that a test can watch what
// ZEB_PAS hands on. Built under the library's own file name.
#pragma once

#include <cstdint>

struct StandinCall {
    char function[40];
    uint32_t count;
    uint64_t values[8];  // each argument's bits, pointers as their address
    uint32_t sizes[8];   // each argument's size in bytes
};

// Looked up by name in the stand-in: fills *out with the last call and forgets it.
using StandinTakeLast = void (*)(StandinCall* out);
// Looked up by name in the stand-in: the result that every function returns from now on.
using StandinSetResult = void (*)(uint32_t result);
