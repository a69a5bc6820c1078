// Checks for the small test programs that run without GoogleTest (the Windows programs under
// Wine, the forwarder call test): count what passed, name what failed, and end with the plain
// closing line "N passed, N failed".
#pragma once

#include <cstdio>
#include <string>

namespace plain_check {

inline int passed = 0;
inline int failed = 0;

inline void check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

// Prints the closing line; the program's exit status.
inline int report() {
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace plain_check
