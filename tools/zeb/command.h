// One subcommand of zeb. Its row in the command table (command_table.cpp) names it, gives its
// summary and says what it needs; the table reads MODULE, opens the session and the module,
// and then runs the command with them, so that no command writes that preamble itself.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>

#include "global_options.h"
#include "session.h"

namespace zeb::cli {

// What a command needs made ready before it runs, made ready in this order.
enum Need : unsigned {
    kModuleArgument = 1u << 0,  // MODULE, its first argument (exit code 2 when it names nothing)
    kSession = 1u << 1,         // the library and a transport bound to --local
    kOpenDevice = 1u << 2,      // the module MODULE names, opened on that transport
    kOwnResends = 1u << 3,      // the module opened without re-sends: the command makes its own
};
// What most commands need: the module, opened.
inline constexpr unsigned kModule = kModuleArgument | kSession | kOpenDevice;

// What a command runs with: the program's options, and what its row asked for (else null).
struct Context {
    const GlobalOptions& options;
    Session* session = nullptr;
    Device* device = nullptr;
};

// What a command does once the command line is read.
struct Command {
    // Reads and checks its arguments before anything is opened, so that a usage failure exits 2
    // without touching the network. May be empty.
    std::function<void()> read_arguments = {};
    std::function<void(Context&)> run = {};
    // The transport's protocol; empty for UDP/IP.
    std::function<uint16_t()> protocol = {};
};

// Adds a command's own arguments and options to `cmd` (MODULE comes before them), with notes
// for its help, and gives what it does.
using DefineCommand = Command (*)(CLI::App& cmd);

}  // namespace zeb::cli
