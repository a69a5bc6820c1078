// Calls every ZEB_PAS export with distinct arguments while ZEB_PAS is bound to a stand-in
// library, and checks that each call arrives at the library function of the same name with
// the same arguments in the same order, and that the result comes back unchanged. On 32-bit
// Windows the calls are made as a callee-clears host makes them, one 32-bit slot an argument,
// and the stack pointer must be the same after each call as before it.
//
// Usage: pas_call_test <ZEB_PAS library> <stand-in library>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#include "../support/plain_check.h"
#include "signature.h"
#include "standin.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using plain_check::check;

#if defined(_WIN32)
void* open_library(const char* path) {
    return reinterpret_cast<void*>(LoadLibraryA(path));
}
void* find(void* lib, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
#else
void* open_library(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
void* find(void* lib, const char* name) {
    return dlsym(lib, name);
}
#endif

// An export by the name the list gives. ELF carries a name "_X@N" as _X in version STDCALL_N.
void* find_export(void* lib, const char* name) {
#if defined(_WIN32)
    return find(lib, name);
#else
    const char* at = std::strchr(name, '@');
    if (!at) return find(lib, name);
    const std::string base(name, at);
    const std::string version = std::string("STDCALL_") + (at + 1);
    return dlvsym(lib, base.c_str(), version.c_str());
#endif
}

template <class T>
T from_bits(uint64_t bits) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<uintptr_t>(bits));
    } else {
        return static_cast<T>(bits);
    }
}

// Calls the forwarder at `proc` with the typed arguments made from `values`.
template <class Sig, size_t... I>
uint32_t call_typed(void* proc, const uint64_t* values, std::index_sequence<I...>) {
    using Fn = typename Sig::Result(ZEB_PAS_CALL*)(std::tuple_element_t<I, typename Sig::Args>...);
    return reinterpret_cast<Fn>(proc)(
        from_bits<std::tuple_element_t<I, typename Sig::Args>>(values[I])...);
}

#if defined(_WIN32) && defined(__i386__)
// Pushes `count` 32-bit slots (the last one first), calls `fn` and reports how far the stack
// pointer is from where it was before the pushes: 0 when the callee removed its arguments.
extern "C" uint32_t pas_probe(void* fn, const uint32_t* slots, uint32_t count, int32_t* imbalance);
__asm__(
    ".text\n"
    ".globl _pas_probe\n"
    "_pas_probe:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 12(%ebp), %esi\n"
    "  movl 16(%ebp), %ecx\n"
    "  movl %esp, %edi\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  movl %esp, %ecx\n"
    "  subl %edi, %ecx\n"
    "  movl %edi, %esp\n"
    "  movl 20(%ebp), %edx\n"
    "  movl %ecx, (%edx)\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebp\n"
    "  ret\n");
constexpr bool kCalleeClears = true;
#else
constexpr bool kCalleeClears = false;
#endif

struct Library {
    void* pas;
    StandinTakeLast take_last;
    StandinSetResult set_result;
};

// Results the stand-in hands back: success, success after re-sends, a Winsock error number,
// a library code and a value with every bit set.
constexpr uint32_t kResults[] = {0, ZEBWARN_RETRIED, 10054, ZEBERR_TIMEOUT, 0xFFFFFFFFu};

template <class Sig>
void check_forwarder(const Library& lib, int ordinal, const char* function, const char* name) {
    constexpr size_t n = Sig::kCount;
    const std::string what = std::string(name) + " (ordinal " + std::to_string(ordinal) + ")";
    void* proc = find_export(lib.pas, name);
    check(proc != nullptr, what + ": exported");
    if (!proc) return;
#if defined(_WIN32)
    check(find(lib.pas, reinterpret_cast<const char*>(static_cast<uintptr_t>(ordinal))) == proc,
          what + ": found by its ordinal");
#endif
    // Distinct in every byte, per function and per argument; pointers use their full width.
    uint64_t values[8] = {};
    for (size_t i = 0; i < n; ++i) {
        const uint32_t low = 0xA5000000u | (uint32_t(ordinal) << 16) | uint32_t((i + 1) << 8) |
                             uint32_t((i + 1) * 0x11);
        values[i] = (sizeof(void*) == 8 ? 0x5A5B5C5D00000000ull : 0) | low;
    }
    for (uint32_t result : kResults) {
        const std::string call = what + " with result " + std::to_string(result);
        for (int way = 0; way < (kCalleeClears ? 2 : 1); ++way) {
            lib.set_result(result);
            uint32_t got = 0;
            if (way == 0) {
                got = call_typed<Sig>(proc, values, std::make_index_sequence<n>{});
            } else {
#if defined(_WIN32) && defined(__i386__)
                uint32_t slots[8];
                for (size_t i = 0; i < n; ++i) slots[i] = static_cast<uint32_t>(values[i]);
                int32_t imbalance = -1;
                got = pas_probe(proc, slots, n, &imbalance);
                check(imbalance == 0, call + ": stack pointer off by " + std::to_string(imbalance) +
                                          " after the call");
#endif
            }
            check(got == result, call + ": result " + std::to_string(got));
            StandinCall seen{};
            lib.take_last(&seen);
            if (std::strcmp(seen.function, function) != 0) {
                check(false, call + ": reached \"" + seen.function + "\" instead of " + function);
                continue;
            }
            check(seen.count == n, call + ": argument count " + std::to_string(seen.count));
            for (size_t i = 0; i < n && i < seen.count; ++i) {
                const uint64_t mask =
                    seen.sizes[i] >= 8 ? ~0ull : (1ull << (8 * seen.sizes[i])) - 1;
                check(seen.values[i] == (values[i] & mask),
                      call + ": argument " + std::to_string(i + 1) + " arrived changed");
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: pas_call_test <ZEB_PAS library> <stand-in library>\n");
        return 2;
    }
    // The stand-in is loaded first, under the library's name, so that ZEB_PAS binds to it.
    void* standin = open_library(argv[2]);
    void* pas = standin ? open_library(argv[1]) : nullptr;
    if (!standin || !pas) {
        std::printf("FAILED: cannot load %s\n", standin ? argv[1] : argv[2]);
        std::printf("0 passed, 1 failed\n");
        return 1;
    }
    Library lib{pas, reinterpret_cast<StandinTakeLast>(find(standin, "standin_take_last")),
                reinterpret_cast<StandinSetResult>(find(standin, "standin_set_result"))};
    if (!lib.take_last || !lib.set_result) {
        std::printf("FAILED: the stand-in lacks its recording functions\n0 passed, 1 failed\n");
        return 1;
    }

    int ordinal = 0;
#define ZEB_PAS_ENTRY(fn, count, name) \
    check_forwarder<::zeb::pas::Signature<decltype(fn)>>(lib, ++ordinal, #fn, name);
#include "zeb_pas_list.inc"
#undef ZEB_PAS_ENTRY
    check(ordinal == 55, "55 forwarders listed, not " + std::to_string(ordinal));

    // The decorated name is the only one for the base-definition initialisation.
    check(find(pas, "PASCAL_ZEBInitBaseDef") == nullptr,
          "PASCAL_ZEBInitBaseDef must not be exported undecorated");

    return plain_check::report();
}
