// The options every command takes.
#pragma once

#include <cstdint>
#include <string>

namespace zeb::cli {

struct GlobalOptions {
    std::string local;          // --local (or ZEB_LOCAL): the IPv4 address to send from ("" = any)
    bool json = false;          // --json: JSON on standard output instead of tables
    uint16_t timeout_ms = 250;  // --timeout: how long to wait for one reply
    uint16_t retries = 2;       // --retries: re-sends after a time-out
    bool verbose = false;       // -v: the library's frame trace on standard error
};

}  // namespace zeb::cli
