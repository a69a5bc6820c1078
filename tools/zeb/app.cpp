#include "app.h"

#include <cstdio>
#include <cstdlib>
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

// The program's options, listed under each subcommand's help too: they may follow it.
std::string global_options_text(CLI::App& app) {
    std::string text = "Global options (before or after the command):\n";
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (name == "--help" || name == "--version") continue;
        std::string left = "  " + option->get_name(false, true);
        if (option->get_type_size() != 0) {
            const std::string type = option->get_type_name();
            left += " " + type.substr(0, type.find(':'));
        }
        if (left.size() < 22) left.resize(22, ' ');
        text += left + " " + option->get_description() + "\n";
    }
    return text;
}

// A subcommand's own notes come first, the program's after them.
void add_footer(CLI::App& command, const std::string& global) {
    for (CLI::App* sub : command.get_subcommands([](CLI::App*) { return true; })) {
        const std::string own = sub->get_footer();
        const std::string notes = global + "\n" + kFooter;
        sub->footer(own.empty() ? notes : own + "\n\n" + notes);
        add_footer(*sub, global);
    }
}

// The commands of `at`, one a line, for a command line that names none or an unknown one.
std::string command_list(CLI::App& at) {
    std::string text = "Commands:\n";
    for (const CLI::App* sub : at.get_subcommands([](CLI::App*) { return true; })) {
        std::string name = "  " + sub->get_name();
        if (name.size() < 14) name.resize(14, ' ');
        text += name + " " + sub->get_description() + "\n";
    }
    return text;
}

// A command line that stops where a command is required: names the word that is no command
// (or says that one is missing) and lists those there are. Exit code 2.
int missing_command(CLI::App& app) {
    CLI::App* at = &app;
    std::string path;
    for (;;) {
        const auto parsed = at->get_subcommands();
        if (parsed.empty()) break;
        at = parsed.front();
        path += at->get_name() + " ";
    }
    std::string word;
    for (const std::string& rest : app.remaining()) {
        if (!rest.empty() && rest[0] != '-') {
            word = rest;
            break;
        }
    }
    std::fflush(stdout);
    if (word.empty()) {
        std::fprintf(stderr, "zeb: %sneeds a command\n", path.c_str());
    } else {
        std::fprintf(stderr, "zeb: unknown command '%s%s'\n", path.c_str(), word.c_str());
    }
    std::fprintf(stderr, "%sRun 'zeb %s--help' for more.\n", command_list(*at).c_str(),
                 path.c_str());
    return kExitUsage;
}

}  // namespace

int run(int argc, char** argv) {
    CLI::App app{"zeb: find, inspect and drive Ethernet I/O modules from the command line.", "zeb"};
    GlobalOptions options;
    // The local address may come from the environment, so that RackSim on loopback needs no
    // --local on every command; --local wins.
    if (const char* local = std::getenv("ZEB_LOCAL")) options.local = local;
    app.require_subcommand(1);
    // Options of the program may follow the subcommand: zeb discover --local 127.0.0.1 --json.
    app.fallthrough();
    app.footer(kFooter);
    app.set_version_flag("--version", "zeb 3.0");
    app.add_option("--local", options.local,
                   "send from this local IPv4 address, e.g. 127.0.0.1 (discovery broadcasts leave "
                   "through its interface); default: $ZEB_LOCAL");
    app.add_flag("--json", options.json, "print JSON instead of tables");
    app.add_option("--timeout", options.timeout_ms, "milliseconds to wait for one reply")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--retries", options.retries, "re-sends after a time-out")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
    app.add_flag("-v,--verbose", options.verbose,
                 "trace every frame sent and received on standard error (as ZEB_TRACE=1 does)");

    add_commands(app, options);
    add_footer(app, global_options_text(app));

    try {
        app.parse(argc, argv);
    } catch (const CLI::RequiredError& e) {
        // A missing or unknown command; other required things are CLI11's to report.
        CLI::App* at = &app;
        while (!at->get_subcommands().empty()) at = at->get_subcommands().front();
        if (at->get_require_subcommand_min() > 0) return missing_command(app);
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
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
