// The parameter list of a library function, taken from its declaration in zeb.h, so that a
// function with exactly that list can be written from the function's name and argument count.
#pragma once

#include <cstddef>
#include <tuple>

#include "zeb.h"

namespace zeb::pas {

template <class F>
struct Signature;

template <class R, class... A>
struct Signature<R(A...)> {
    using Result = R;
    using Args = std::tuple<A...>;
    static constexpr std::size_t kCount = sizeof...(A);
};

}  // namespace zeb::pas

// The result type and the type of argument i of the library function f.
#define ZEB_PAS_RESULT(f) ::zeb::pas::Signature<decltype(f)>::Result
#define ZEB_PAS_ARG(f, i) std::tuple_element_t<i, ::zeb::pas::Signature<decltype(f)>::Args>

// The parameter list "type a0, type a1, ..." of f with `n` arguments, and the names a0, a1, ...
#define ZEB_PAS_PARAMS_0(f)
#define ZEB_PAS_PARAMS_1(f) ZEB_PAS_ARG(f, 0) a0
#define ZEB_PAS_PARAMS_2(f) ZEB_PAS_PARAMS_1(f), ZEB_PAS_ARG(f, 1) a1
#define ZEB_PAS_PARAMS_3(f) ZEB_PAS_PARAMS_2(f), ZEB_PAS_ARG(f, 2) a2
#define ZEB_PAS_PARAMS_4(f) ZEB_PAS_PARAMS_3(f), ZEB_PAS_ARG(f, 3) a3
#define ZEB_PAS_PARAMS_5(f) ZEB_PAS_PARAMS_4(f), ZEB_PAS_ARG(f, 4) a4
#define ZEB_PAS_PARAMS_6(f) ZEB_PAS_PARAMS_5(f), ZEB_PAS_ARG(f, 5) a5
#define ZEB_PAS_PARAMS_7(f) ZEB_PAS_PARAMS_6(f), ZEB_PAS_ARG(f, 6) a6
#define ZEB_PAS_NAMES_0
#define ZEB_PAS_NAMES_1 a0
#define ZEB_PAS_NAMES_2 ZEB_PAS_NAMES_1, a1
#define ZEB_PAS_NAMES_3 ZEB_PAS_NAMES_2, a2
#define ZEB_PAS_NAMES_4 ZEB_PAS_NAMES_3, a3
#define ZEB_PAS_NAMES_5 ZEB_PAS_NAMES_4, a4
#define ZEB_PAS_NAMES_6 ZEB_PAS_NAMES_5, a5
#define ZEB_PAS_NAMES_7 ZEB_PAS_NAMES_6, a6

// The forwarders' calling convention: callee-clears where the platform tells them apart.
#if defined(_WIN32)
#define ZEB_PAS_CALL __stdcall
#else
#define ZEB_PAS_CALL
#endif
