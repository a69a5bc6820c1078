// Counts the calling thread's heap allocations: every operator new of the program goes through
// here, and so does every malloc (glibc lets a program define its own malloc in front of the
// one it ships, reachable as __libc_malloc).
#include <cstdlib>
#include <new>

#include "measure.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);

namespace {
thread_local uint64_t t_allocations = 0;
}

namespace bench {
uint64_t allocations() {
    return t_allocations;
}
}  // namespace bench

extern "C" void* malloc(size_t size) {
    ++t_allocations;
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    ++t_allocations;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* p, size_t size) {
    ++t_allocations;
    return __libc_realloc(p, size);
}
