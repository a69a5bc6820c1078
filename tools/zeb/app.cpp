#include "app.h"

#include <cstdio>
#include <exception>

#include "commands.h"
#include "failure.h"

namespace zeb::cli {

namespace {

constexpr const char* kFooter =
    "MODULE is an IP address, '#N' (the module numbered N; quote it for the shell), a hardware\n"
    "address (02:52:53:00:00:01) or the module's name.\n"
    "\n"
    "Exit codes: 0 success; 1 the module answered with a failure (or the library refused);\n"
    "2 bad usage; 3 nothing found or no reply. Failures print the result code and its text on\n"
    "standard error.";

// A subcommand's own notes come first, the program's after them.
void add_footer(CLI::App& command) {
    for (CLI::App* sub : command.get_subcommands([](CLI::App*) { return true; })) {
        const std::string own = sub->get_footer();
        sub->footer(own.empty() || own == kFooter ? std::string(kFooter) : own + "\n\n" + kFooter);
        add_footer(*sub);
    }
}

}  // namespace

ModuleRef module_argument(const std::string& text) {
    const auto ref = parse_module_ref(text);
    if (!ref)
        fail_usage("'" + text + "' names no module (IP address, '#N', hardware address or name)");
    return *ref;
}

int run(int argc, char** argv) {
    CLI::App app{"zeb: find, inspect and drive Ethernet I/O modules from the command line.", "zeb"};
    GlobalOptions options;
    app.require_subcommand(1);
    // Options of the program may follow the subcommand: zeb discover --local 127.0.0.1 --json.
    app.fallthrough();
    app.footer(kFooter);
    app.set_version_flag("--version", "zeb 3.0");
    app.add_option("--local", options.local,
                   "send from this local IPv4 address, e.g. 127.0.0.1 (discovery broadcasts leave "
                   "through its interface)");
    app.add_flag("--json", options.json, "print JSON instead of tables");
    app.add_option("--timeout", options.timeout_ms, "milliseconds to wait for one reply")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--retries", options.retries, "re-sends after a time-out")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();

    add_discover(app, options);
    add_info(app, options);
    add_io(app, options);
    add_setup(app, options);
    add_config(app, options);
    add_controller(app, options);
    add_mem(app, options);
    add_serial(app, options);
    add_ping(app, options);
    add_files(app, options);
    add_footer(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", failure_line(f).c_str());
        return f.exit_code();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "zeb: %s\n", e.what());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace zeb::cli
