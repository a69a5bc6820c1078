// Every function that ZEB_PAS forwards, with the library's own parameter list, recording its
// arguments and returning the result the test chose.
#include "standin.h"

#include <cstring>
#include <type_traits>

#include "signature.h"

namespace {

StandinCall g_last{};
uint32_t g_result = 0;

template <class T>
uint64_t bits_of(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<uintptr_t>(value);
    } else {
        return static_cast<std::make_unsigned_t<T>>(value);
    }
}

template <class... T>
uint32_t record(const char* function, T... args) {
    g_last = {};
    std::strncpy(g_last.function, function, sizeof g_last.function - 1);
    ((g_last.values[g_last.count] = bits_of(args), g_last.sizes[g_last.count++] = sizeof(T)), ...);
    return g_result;
}

}  // namespace

extern "C" ZEB_API void standin_take_last(StandinCall* out) {
    *out = g_last;
    g_last = {};
}

extern "C" ZEB_API void standin_set_result(uint32_t result) {
    g_result = result;
}

#define ZEB_STANDIN_ARGS_0
#define ZEB_STANDIN_ARGS_1 , ZEB_PAS_NAMES_1
#define ZEB_STANDIN_ARGS_2 , ZEB_PAS_NAMES_2
#define ZEB_STANDIN_ARGS_3 , ZEB_PAS_NAMES_3
#define ZEB_STANDIN_ARGS_4 , ZEB_PAS_NAMES_4
#define ZEB_STANDIN_ARGS_5 , ZEB_PAS_NAMES_5
#define ZEB_STANDIN_ARGS_6 , ZEB_PAS_NAMES_6
#define ZEB_STANDIN_ARGS_7 , ZEB_PAS_NAMES_7

#define ZEB_PAS_ENTRY(fn, count, name)               \
    extern "C" ZEB_API ZEB_PAS_RESULT(fn)            \
    ZEB_CALL fn(ZEB_PAS_PARAMS_##count(fn)) {        \
        return record(#fn ZEB_STANDIN_ARGS_##count); \
    }
#include "zeb_pas_list.inc"
