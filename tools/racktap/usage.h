#pragma once

#include <cstdio>

namespace racktap {

// The line printed before anything else.
void print_intro(std::FILE* out);

// The usage text shown for /? and /H.
void print_usage(std::FILE* out);

}  // namespace racktap
