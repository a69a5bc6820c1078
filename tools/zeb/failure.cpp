#include "failure.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace zeb::cli {

namespace {

// Winsock numbers the library passes through.
constexpr uint32_t kWinsockFirst = 10000;
constexpr uint32_t kWinsockLast = 11999;
constexpr uint32_t kConnectionReset = 10054;
constexpr uint32_t kConnectionRefused = 10061;
constexpr uint32_t kHostDown = 10064;
constexpr uint32_t kHostUnreachable = 10065;

std::vector<std::pair<const ZEBDevice*, std::string>>& open_devices() {
    static std::vector<std::pair<const ZEBDevice*, std::string>> devices;
    return devices;
}

bool is_small_status(uint32_t result) {
    return result >= 1 && result < 0x8000u && result != ZEBWARN_RETRIED &&
           (result < kWinsockFirst || result > kWinsockLast);
}

}  // namespace

std::string result_text(uint32_t result) {
    std::vector<char> text(ZEBResultText(result, nullptr, 0) + 1);
    ZEBResultText(result, text.data(), static_cast<uint32_t>(text.size()));
    return text.data();
}

// The library names a small number both ways, as "NAME (Windows error N): text; or module
// status 0x...: ..." or as "module status 0x...: ... (or Windows error N)"; each side is cut
// out of that text, so that the words stay the library's.
std::string operation_result_text(uint32_t result) {
    const std::string text = result_text(result);
    if (!is_small_status(result)) return text;
    const std::size_t status = text.find("module status");
    std::string out = status == std::string::npos ? text : text.substr(status);
    const std::size_t windows = out.find(" (or Windows error");
    if (windows != std::string::npos) out.erase(windows);
    return out;
}

std::string windows_error_text(uint32_t error) {
    const std::string text = result_text(error);
    if (!is_small_status(error)) return text;
    const std::size_t named = text.find("; or module status");
    if (named != std::string::npos) return text.substr(0, named);
    return "Windows error " + std::to_string(error);
}

int exit_code_for(uint32_t result) {
    switch (result) {
        case ZEBERR_TIMEOUT:
        case kNetworkUnreachable:
        case kConnectionReset:
        case 10060:  // timed out
        case kConnectionRefused:
        case kHostDown:
        case kHostUnreachable:
            return kExitNoReply;
        default:
            return kExitFailed;
    }
}

void note_open_device(const ZEBDevice* device, const std::string& address) {
    open_devices().emplace_back(device, address);
}

void forget_open_device(const ZEBDevice* device) {
    auto& devices = open_devices();
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [&](const auto& d) { return d.first == device; }),
                  devices.end());
}

std::optional<std::string> transport_failure(int* exit_code) {
    for (const auto& [device, address] : open_devices()) {
        const uint32_t error = ZEBGetTransportError(device);
        *exit_code = kExitNoReply;
        switch (error) {
            case kConnectionRefused:
                return "nothing answers at " + address + " (connection refused)";
            case kConnectionReset:
                return "nothing answers at " + address + " (connection reset)";
            case kNetworkUnreachable:
            case kHostUnreachable:
            case kHostDown:
                return address + " cannot be reached from here: " + result_text(error);
            default:
                break;
        }
    }
    return std::nullopt;
}

std::string failed_exchange_text(uint32_t result) {
    int exit_code = 0;
    if (const auto transport = transport_failure(&exit_code)) return *transport;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", result);
    return std::string("result ") + code + " " + operation_result_text(result);
}

std::string discovery_hint(const std::string& local) {
    if (!local.empty())
        return "is RackSim (or the module) running on the network of " + local + "?";
    return "is RackSim running? Against RackSim give --local 127.0.0.1 or set ZEB_LOCAL=127.0.0.1";
}

void fail_usage(const std::string& message) {
    throw Failure(kExitUsage, message);
}

void fail_result(const std::string& what, uint32_t result) {
    int exit_code = kExitFailed;
    if (const auto transport = transport_failure(&exit_code)) {
        throw Failure(exit_code, what + ": " + *transport);
    }
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
        line += code + operation_result_text(*failure.result());
    }
    if (!failure.hint().empty()) line += "\nzeb: " + failure.hint();
    return line;
}

}  // namespace zeb::cli
