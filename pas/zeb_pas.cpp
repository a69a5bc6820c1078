// ZEB_PAS: every forwarder takes exactly the library function's arguments, calls it in the
// library's caller-clears convention and returns its result unchanged; on 32-bit Windows it
// removes its own arguments from the stack (callee-clears). The forwarders are made from the
// one list in forwarders.txt; their export names and ordinals are given at link time.
#include "signature.h"

#if defined(_WIN32)
#include <windows.h>

// Nothing to set up or tear down, for any notification.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#define ZEB_PAS_EXPORT
#else
#define ZEB_PAS_EXPORT __attribute__((visibility("default")))
#endif

#define ZEB_PAS_ENTRY(fn, count, name)                                            \
    static_assert(::zeb::pas::Signature<decltype(fn)>::kCount == (count),         \
                  #fn ": the list gives another number of arguments than zeb.h"); \
    extern "C" ZEB_PAS_EXPORT ZEB_PAS_RESULT(fn)                                  \
    ZEB_PAS_CALL PASCAL_##fn(ZEB_PAS_PARAMS_##count(fn)) noexcept {               \
        return fn(ZEB_PAS_NAMES_##count);                                         \
    }
#include "zeb_pas_list.inc"

#if defined(ZEB_PAS_ELF_NAMES)
#include "zeb_pas_elf_names.inc"
#endif
