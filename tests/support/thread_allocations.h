// Heap allocations made by the calling thread, for tests that hold a path to allocating
// nothing. Counted by replacing malloc, calloc and realloc in the test program; not counted
// under the sanitizers, which bring their own allocator.
#pragma once

#include <cstdint>

namespace zebtest {

// Whether allocations are counted in this build.
bool allocations_counted();

// The calling thread's allocations so far.
uint64_t thread_allocations();

}  // namespace zebtest
