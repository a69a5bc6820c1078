// A number of the protocol with the name it is shown by, and lookups in tables of them. The
// vocabulary's headers declare each number once, as a constant the code uses, and name it once,
// in a table that tools, the dissector and the bindings are checked against.
#pragma once

#include <cstddef>
#include <string_view>

namespace zeb::vocab {

template <class Number>
struct Named {
    Number number;
    std::string_view name;
};

// The entry for `number`, or null.
template <class Number, size_t N>
constexpr const Named<Number>* find(const Named<Number> (&table)[N], Number number) {
    for (const Named<Number>& entry : table) {
        if (entry.number == number) return &entry;
    }
    return nullptr;
}

// Whether every number comes after the one before it, so that none is listed twice.
template <class Number, size_t N>
constexpr bool ascending(const Named<Number> (&table)[N]) {
    for (size_t i = 1; i < N; ++i) {
        if (!(table[i - 1].number < table[i].number)) return false;
    }
    return true;
}

// The name of `number`, or an empty name.
// (No pointer is compared: gcc's UndefinedBehaviorSanitizer makes such a comparison no
// constant expression, and the tables are checked when compiling.)
template <class Number, size_t N>
constexpr std::string_view name_of(const Named<Number> (&table)[N], Number number) {
    for (const Named<Number>& entry : table) {
        if (entry.number == number) return entry.name;
    }
    return {};
}

}  // namespace zeb::vocab
