#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace racktap {

int32_t parse_decimal(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10 + (*text++ - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(value < kLimit ? value : kLimit - 1);
}

namespace {

void set_name(Options& options, const char* value) {
    options.name.fill('\0');
    const std::size_t length = std::min(std::strlen(value), kNameBufferSize - 1);
    std::memcpy(options.name.data(), value, length);
    options.selection = Selection::kByName;
}

// Applies one option; false when it is not one of ours.
bool apply(Options& options, const char* arg, std::FILE* out) {
    if (arg[1] == '\0') return false;
    const char* value = arg + 2;
    switch (std::toupper(static_cast<unsigned char>(arg[1]))) {
        case '?':
        case 'H':
            options.usage = true;
            return true;
        case 'I':
            options.number = parse_decimal(value);
            options.selection = Selection::kByNumber;
            return true;
        case 'N':
            set_name(options, value);
            return true;
        case 'P':
            switch (std::toupper(static_cast<unsigned char>(value[0]))) {
                case 'I':
                    options.protocol = ZEB_PROTOCOL_IP;
                    return true;
                case 'X':
                    options.protocol = ZEB_PROTOCOL_IPX;
                    return true;
                default:
                    return false;
            }
        case 'L':
            if (auto address = parse_local_address(value)) {
                options.local_address = address;
            } else {
                std::fprintf(out, "%s - Bad local address\n", arg);
            }
            return true;
        case 'V':
            options.verbose = true;
            return true;
        default:
            return false;
    }
}

}  // namespace

Options parse_options(int argc, const char* const* argv, std::FILE* out) {
    Options options;
    for (int i = 1; i < argc && !options.usage; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr || (arg[0] != '/' && arg[0] != '-')) continue;
        if (!apply(options, arg, out)) std::fprintf(out, "%s - Unknown parameter\n", arg);
    }
    return options;
}

}  // namespace racktap
