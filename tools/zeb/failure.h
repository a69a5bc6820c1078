// How a command fails: a message, the library result when there is one, and the exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace zeb::cli {

// Exit codes of every command.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,   // the module answered with a failure (or the library refused)
    kExitUsage = 2,    // bad command line
    kExitNoReply = 3,  // no module found, or no reply
};

class Failure : public std::runtime_error {
  public:
    Failure(int exit_code, const std::string& message, std::optional<uint32_t> result = {})
        : std::runtime_error(message), exit_code_(exit_code), result_(result) {}
    int exit_code() const { return exit_code_; }
    const std::optional<uint32_t>& result() const { return result_; }

  private:
    int exit_code_;
    std::optional<uint32_t> result_;
};

// The library's text for a result (ZEBResultText).
std::string result_text(uint32_t result);

// 3 for results that mean nothing answered (time-out, refused or unreachable), else 1.
int exit_code_for(uint32_t result);

[[noreturn]] void fail_usage(const std::string& message);
[[noreturn]] void fail_not_found(const std::string& message);
// `what` failed with `result`.
[[noreturn]] void fail_result(const std::string& what, uint32_t result);

// Returns when the result is a success (0, or success after re-sends); fails otherwise.
void check(const std::string& what, uint32_t result);

// The line printed on standard error for a failure: "zeb: what: result 0x00008006
// ZEBERR_TIMEOUT: ...".
std::string failure_line(const Failure& failure);

}  // namespace zeb::cli
