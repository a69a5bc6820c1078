// The command table: every subcommand with what it needs, and what makes that ready.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "addresses.h"
#include "commands.h"
#include "failure.h"

namespace zeb::cli {

namespace {

struct CommandRow {
    const char* path;      // "io read": the command read of the group io
    const char* summary;   // its line in the lists of commands
    unsigned needs;        // Need flags
    DefineCommand define;  // null for a group, which requires one of its commands
};

// In the order the lists of commands show them; a group comes before its commands.
constexpr CommandRow kCommands[] = {
    {"discover",
     "List the modules that answer a broadcast: address, hardware address, kind, name, number, "
     "and whether they take broadcasts only",
     kSession, discover},
    {"info", "Show a module's version, device definition and the functions it serves", kModule,
     info},
    {"base", "Show the slots of a module's base with their I/O counts", kModule, base},
    {"diag", "Show a module's Ethernet statistics and status", kModule, diag},
    {"io", "Read, write and watch a module's I/O", 0, nullptr},
    {"io read", "Show every slot's inputs", kModule, io_read},
    {"io write", "Write outputs: SLOT.KIND.INDEX=VALUE, SLOT.KIND=V0,V1,... or SLOT.bits=MASK",
     kModule, io_write},
    {"io watch", "Read the inputs again and again, changes highlighted", kModule, io_watch},
    {"setup", "List, read, write and delete setup records", 0, nullptr},
    {"setup list", "List the setup records with their values", kModule, setup_list},
    {"setup get", "Show one setup record (text, or hex when not text)", kModule, setup_get},
    {"setup set", "Write one setup record", kModule, setup_set},
    {"setup delete", "Delete one setup record", kModule, setup_delete},
    {"config", "Read and write the configuration block", 0, nullptr},
    {"config get", "Show the configuration block", kModule, config_get},
    {"config set", "Replace the configuration block", kModule, config_set},
    {"ccm", "Read and write the data areas of the controller behind a module", 0, nullptr},
    {"ccm read", "Show COUNT bytes of a data area from ADDRESS on", kModule, ccm_read},
    {"ccm write", "Write bytes into a data area from ADDRESS on", kModule, ccm_write},
    {"kseq", "Send a K-sequence message to the controller and show its answer", kModule, kseq},
    {"mem", "List, read and write memory and shared RAM", 0, nullptr},
    {"mem list", "List the module's memory areas", kModule, mem_list},
    {"mem read", "Show COUNT bytes from ADDRESS on", kModule, mem_read},
    {"mem write", "Write bytes from ADDRESS on", kModule, mem_write},
    {"serial", "Send, receive and set up the module's serial ports", 0, nullptr},
    {"serial send", "Send bytes out of a port", kModule, serial_send},
    {"serial recv", "Show the bytes a port has received", kModule, serial_recv},
    {"serial setup", "Show a port's line settings, or change some of them", kModule, serial_setup},
    {"ping",
     "Send identity requests to a module and show sent, received, lost, re-sends and round "
     "trips",
     kModule | kOwnResends, ping},
    {"files", "List, copy and remove a controller module's files", 0, nullptr},
    {"files ls", "List a directory (or the files a pattern matches)", kModule, files_ls},
    {"files get", "Copy a file from the module", kModule, files_get},
    {"files put", "Copy a file to the module (replacing it)", kModule, files_put},
    {"files rm", "Remove files (directories with --dir)", kModule, files_rm},
    {"files mkdir", "Create directories", kModule, files_mkdir},
};

// An opened module needs MODULE and a session; re-sends of its own need an opened module. (That
// a group needs nothing is checked as the table is read: gcc's sanitizer builds take no
// comparison of a function pointer as a constant expression.)
constexpr bool needs_hold() {
    for (const CommandRow& row : kCommands) {
        const unsigned opened = kModuleArgument | kSession | kOpenDevice;
        if ((row.needs & kOpenDevice) && (row.needs & opened) != opened) return false;
        if ((row.needs & kOwnResends) && !(row.needs & kOpenDevice)) return false;
    }
    return true;
}
static_assert(needs_hold());

// What MODULE may be, for the help texts.
constexpr const char* kModuleHelp =
    "the module: an IP address, '#N' (its number; quote it for the shell), a hardware address "
    "or its name";

// A command given on the command line, with its row and its MODULE.
struct Given {
    const CommandRow& row;
    std::string module;
    Command command;
};

ModuleRef module_argument(const std::string& text) {
    const auto ref = parse_module_ref(text);
    if (!ref)
        fail_usage("'" + text + "' names no module (IP address, '#N', hardware address or name)");
    return *ref;
}

// Makes ready what the row asks for, in the order of the Need flags, and runs the command.
void run(Given& given, const GlobalOptions& options) {
    const unsigned needs = given.row.needs;
    std::optional<ModuleRef> ref;
    if (needs & kModuleArgument) ref = module_argument(given.module);
    if (given.command.read_arguments) given.command.read_arguments();
    Context context{options};
    if (!(needs & kSession)) {
        given.command.run(context);
        return;
    }
    GlobalOptions session_options = options;
    if (needs & kOwnResends) session_options.retries = 0;
    const auto& protocol = given.command.protocol;
    Session session(session_options, protocol ? protocol() : ZEB_PROTOCOL_IP);
    std::unique_ptr<Device> device;  // closed before the session ends
    if (needs & kOpenDevice) device = session.open(ref.value());
    context.session = &session;
    context.device = device.get();
    given.command.run(context);
}

}  // namespace

void add_commands(CLI::App& app, const GlobalOptions& options) {
    for (const CommandRow& row : kCommands) {
        const std::string path = row.path;
        const std::size_t space = path.find(' ');
        CLI::App* parent = &app;
        std::string name = path;
        if (space != std::string::npos) {
            parent = app.get_subcommand(path.substr(0, space));
            name = path.substr(space + 1);
        }
        CLI::App* cmd = parent->add_subcommand(name, row.summary);
        if (!row.define) {
            if (row.needs != 0) throw std::logic_error(path + ": a group needs nothing");
            cmd->require_subcommand(1);
            continue;
        }
        auto given = std::make_shared<Given>(Given{row, {}, {}});
        if (row.needs & kModuleArgument) {
            cmd->add_option("MODULE", given->module, kModuleHelp)->required();
        }
        given->command = row.define(*cmd);
        cmd->callback([given, &options] { run(*given, options); });
    }
}

}  // namespace zeb::cli
