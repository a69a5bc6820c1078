// The subcommands, one family a file. Each adds itself to the program's command line; its
// callback runs the command and throws Failure when it fails.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "addresses.h"
#include "global_options.h"

namespace zeb::cli {

void add_discover(CLI::App& app, const GlobalOptions& options);
void add_info(CLI::App& app, const GlobalOptions& options);  // info, base, diag
void add_io(CLI::App& app, const GlobalOptions& options);
void add_setup(CLI::App& app, const GlobalOptions& options);
void add_config(CLI::App& app, const GlobalOptions& options);
void add_controller(CLI::App& app, const GlobalOptions& options);  // ccm, kseq
void add_mem(CLI::App& app, const GlobalOptions& options);
void add_serial(CLI::App& app, const GlobalOptions& options);
void add_ping(CLI::App& app, const GlobalOptions& options);
// Controller modules' files (cmd_files.cpp): built once the library has its remote-file calls.
void add_files(CLI::App& app, const GlobalOptions& options);

// The MODULE argument; fails with exit code 2 when it names nothing.
ModuleRef module_argument(const std::string& text);

// What MODULE may be, for the help texts.
inline constexpr const char* kModuleHelp =
    "the module: an IP address, '#N' (its number; quote it for the shell), a hardware address "
    "or its name";

}  // namespace zeb::cli
