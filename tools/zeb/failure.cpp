#include "failure.h"

#include <cstdio>
#include <vector>

#include "zeb.h"

namespace zeb::cli {

std::string result_text(uint32_t result) {
    std::vector<char> text(ZEBResultText(result, nullptr, 0) + 1);
    ZEBResultText(result, text.data(), static_cast<uint32_t>(text.size()));
    return text.data();
}

int exit_code_for(uint32_t result) {
    switch (result) {
        case ZEBERR_TIMEOUT:
        case 10051:  // network unreachable
        case 10054:  // reset: a datagram met a closed port
        case 10060:  // timed out
        case 10061:  // refused: nothing listens at the address
        case 10064:  // host down
        case 10065:  // no route to the host
            return kExitNoReply;
        default:
            return kExitFailed;
    }
}

void fail_usage(const std::string& message) {
    throw Failure(kExitUsage, message);
}

void fail_not_found(const std::string& message) {
    throw Failure(kExitNoReply, message);
}

void fail_result(const std::string& what, uint32_t result) {
    throw Failure(exit_code_for(result), what, result);
}

void check(const std::string& what, uint32_t result) {
    if (!ZEB_SUCCEEDED(result)) fail_result(what, result);
}

std::string failure_line(const Failure& failure) {
    std::string line = "zeb: " + std::string(failure.what());
    if (failure.result()) {
        char code[32];
        std::snprintf(code, sizeof code, ": result 0x%08X ", *failure.result());
        line += code + result_text(*failure.result());
    }
    return line;
}

}  // namespace zeb::cli
