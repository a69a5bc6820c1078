#include "usage.h"

namespace racktap {

void print_intro(std::FILE* out) {
    std::fputs("Executes IO transaction on specified Qx-RIO device\n\n", out);
}

void print_usage(std::FILE* out) {
    static constexpr const char* kLines[] = {
        "Usage - RackTap [Options]\n",
        "Options:\n",
        "  /Pn  Set protocol\n",
        "       n = I for IP\n",
        "           X for IPX\n",
        "  /Nv  Connect to device named v\n",
        "  /Iv  Connect to device number v\n",
        "  /?   This screen\n",
    };
    for (const char* line : kLines) std::fputs(line, out);
}

}  // namespace racktap
