#pragma once

#include <cstdio>

namespace racktap {

// The whole program: reads the options, finds the module, checks that it is a Qx-RIO and runs
// one I/O transaction on it. Everything is printed on `out`. Returns the exit status, always 0.
int run_racktap(int argc, char** argv, std::FILE* out);

}  // namespace racktap
