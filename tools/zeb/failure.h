// How a command fails: a message, the library result when there is one, and the exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "zeb.h"

namespace zeb::cli {

// The Winsock number of a network that cannot be reached: discovery says what to try.
inline constexpr uint32_t kNetworkUnreachable = 10051;

// Exit codes of every command.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,         // the module answered with a failure (or the library refused)
    kExitUsage = 2,          // bad command line
    kExitNoReply = 3,        // no module found, or no reply
    kExitInterrupted = 130,  // Ctrl-C, after what was open on the module was closed
};

class Failure : public std::runtime_error {
  public:
    Failure(int exit_code, const std::string& message, std::optional<uint32_t> result = {},
            std::string hint = {})
        : std::runtime_error(message),
          exit_code_(exit_code),
          result_(result),
          hint_(std::move(hint)) {}
    int exit_code() const { return exit_code_; }
    const std::optional<uint32_t>& result() const { return result_; }
    // What to try, on a line of its own; may be empty.
    const std::string& hint() const { return hint_; }

  private:
    int exit_code_;
    std::optional<uint32_t> result_;
    std::string hint_;
};

// The library's text for a result (ZEBResultText).
std::string result_text(uint32_t result);
// The text of a result of an operation over UDP, where a number from 1 to 0x7FFF (the re-send
// warning and Winsock numbers aside) can only be the module's status word: the status alone.
std::string operation_result_text(uint32_t result);
// The text of a Windows error number that a controller module reports as its last error.
std::string windows_error_text(uint32_t error);

// 3 for results that mean nothing answered (time-out, refused or unreachable), else 1.
int exit_code_for(uint32_t result);

// The devices a command has open, so that a failure can say what the transport met behind it
// (ZEBGetTransportError): a refused port reads as "no data" in the result.
void note_open_device(const ZEBDevice* device, const std::string& address);
void forget_open_device(const ZEBDevice* device);
// "nothing answers at 127.0.0.2 (connection refused)" when an open device's last failure met
// a refused or reset port, an unreachable network or host; else nothing. Sets `*exit_code`.
std::optional<std::string> transport_failure(int* exit_code);

// One failed exchange on a line of its own: what the transport met when it met something, else
// "result 0x00008006 ZEBERR_TIMEOUT: ...".
std::string failed_exchange_text(uint32_t result);

// What to try when nothing answers a broadcast: RackSim's modules live on loopback.
std::string discovery_hint(const std::string& local);

[[noreturn]] void fail_usage(const std::string& message);
// `what` failed with `result`; when the transport met an error behind it, that is said
// instead.
[[noreturn]] void fail_result(const std::string& what, uint32_t result);

// Returns when the result is a success (0, or success after re-sends); fails otherwise.
void check(const std::string& what, uint32_t result);

// The line printed on standard error for a failure: "zeb: what: result 0x00008006
// ZEBERR_TIMEOUT: ...", and the hint on a line of its own.
std::string failure_line(const Failure& failure);

}  // namespace zeb::cli
