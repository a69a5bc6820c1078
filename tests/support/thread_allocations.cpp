#include "thread_allocations.h"

#include <cstddef>

namespace {
thread_local uint64_t t_allocations = 0;
}

namespace zebtest {

#if ZEB_COUNT_ALLOCATIONS

bool allocations_counted() {
    return true;
}

#else

bool allocations_counted() {
    return false;
}

#endif

uint64_t thread_allocations() {
    return t_allocations;
}

}  // namespace zebtest

#if ZEB_COUNT_ALLOCATIONS

// glibc keeps its own allocator reachable under these names, so a program may put its own
// malloc in front of it. operator new allocates through malloc, so it is counted too.
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);

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

#endif
