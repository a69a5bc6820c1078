// The subcommands, one family a file: each defines its commands (command.h), and the command
// table (command_table.cpp) lists them with what they need.
#pragma once

#include "command.h"

namespace zeb::cli {

// Adds every command of the table to `app`. The one given runs with what its row needs made
// ready: MODULE read, the session and the module opened.
void add_commands(CLI::App& app, const GlobalOptions& options);

Command discover(CLI::App& cmd);  // cmd_discover.cpp

Command info(CLI::App& cmd);  // cmd_info.cpp
Command base(CLI::App& cmd);
Command diag(CLI::App& cmd);

Command io_read(CLI::App& cmd);  // cmd_io.cpp
Command io_write(CLI::App& cmd);
Command io_watch(CLI::App& cmd);

Command setup_list(CLI::App& cmd);  // cmd_setup.cpp
Command setup_get(CLI::App& cmd);
Command setup_set(CLI::App& cmd);
Command setup_delete(CLI::App& cmd);

Command config_get(CLI::App& cmd);  // cmd_config.cpp
Command config_set(CLI::App& cmd);

Command ccm_read(CLI::App& cmd);  // cmd_controller.cpp
Command ccm_write(CLI::App& cmd);
Command kseq(CLI::App& cmd);

Command mem_list(CLI::App& cmd);  // cmd_mem.cpp
Command mem_read(CLI::App& cmd);
Command mem_write(CLI::App& cmd);

Command serial_send(CLI::App& cmd);  // cmd_serial.cpp
Command serial_recv(CLI::App& cmd);
Command serial_setup(CLI::App& cmd);

Command ping(CLI::App& cmd);  // cmd_ping.cpp

Command files_ls(CLI::App& cmd);  // cmd_files.cpp
Command files_get(CLI::App& cmd);
Command files_put(CLI::App& cmd);
Command files_rm(CLI::App& cmd);
Command files_mkdir(CLI::App& cmd);

}  // namespace zeb::cli
