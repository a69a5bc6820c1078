// zeb's manual page (docs/man/zeb.1.scd) against its command table, as CLI11 holds it: every
// command of the table has an entry in the page's COMMANDS whose first sentence is the command's
// summary (its line in --help), every option the command takes is named in its entry, and the
// page names no command, nor an option in an entry's synopsis, that zeb lacks.
//
// Usage: zeb_man_page_test PAGE.scd. Prints every difference; exits 1 when there is one.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

struct Entry {
    std::string synopsis;  // the entry's first line, as written
    std::string body;      // its indented lines joined, as written
};

// The entries of the section `# COMMANDS`: a line that starts with the command in bold
// (*io read*), then the lines indented by a tab up to a blank line.
std::map<std::string, Entry> read_entries(std::istream& page, std::vector<std::string>& repeated) {
    static const std::regex command(R"(^\*([a-z]+(?: [a-z]+)?)\*)");
    std::map<std::string, Entry> entries;
    bool in_section = false;
    Entry* entry = nullptr;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind("# ", 0) == 0) {
            in_section = line == "# COMMANDS";
            entry = nullptr;
            continue;
        }
        if (!in_section) continue;
        std::smatch m;
        if (std::regex_search(line, m, command)) {
            const auto [at, added] = entries.try_emplace(m[1].str(), Entry{line, ""});
            if (!added) repeated.push_back(m[1].str());
            entry = &at->second;
        } else if (entry && !line.empty() && line[0] == '\t') {
            entry->body += (entry->body.empty() ? "" : " ") + line.substr(1);
        } else {
            entry = nullptr;
        }
    }
    return entries;
}

// The text a reader sees: scdoc's bold (*) and underline (_ at a word's edge) taken out, its
// backslash escapes resolved.
std::string unmarked(const std::string& text) {
    const auto word = [&](size_t i) {
        return i < text.size() && std::isalnum(static_cast<unsigned char>(text[i]));
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (c == '*') {
            continue;
        } else if (c == '_' && !(i > 0 && word(i - 1) && word(i + 1))) {
            continue;
        } else {
            out += c;
        }
    }
    return out;
}

// The long options written in bold in `text`: *--port* gives "port".
std::set<std::string> bold_options(const std::string& text) {
    static const std::regex option(R"(\*--([a-z][a-z0-9-]*)\*)");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        names.insert((*it)[1].str());
    }
    return names;
}

// A command of the table, as CLI11 was given it.
struct TableCommand {
    std::string summary;
    std::set<std::string> options;  // long names, without --help
};

std::map<std::string, TableCommand> table_commands() {
    static CLI::App app{"zeb", "zeb"};
    static zeb::cli::GlobalOptions options;
    zeb::cli::add_commands(app, options);
    std::map<std::string, TableCommand> commands;
    const auto all = [](CLI::App*) { return true; };
    const auto add = [&](const std::string& path, CLI::App* cmd) {
        TableCommand& c = commands[path];
        c.summary = cmd->get_description();
        for (const CLI::Option* o : cmd->get_options()) {
            for (const std::string& name : o->get_lnames()) {
                if (name != "help") c.options.insert(name);
            }
        }
    };
    for (CLI::App* cmd : app.get_subcommands(all)) {
        add(cmd->get_name(), cmd);
        for (CLI::App* sub : cmd->get_subcommands(all)) {
            add(cmd->get_name() + " " + sub->get_name(), sub);
        }
    }
    return commands;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zeb_man_page_test PAGE.scd\n");
        return 2;
    }
    std::ifstream page(argv[1]);
    if (!page) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    std::vector<std::string> repeated;
    const auto entries = read_entries(page, repeated);
    const auto commands = table_commands();

    int failures = 0;
    const auto fail = [&](const std::string& what) {
        std::printf("FAILED: %s\n", what.c_str());
        ++failures;
    };
    for (const std::string& name : repeated) fail("zeb(1) has two entries for '" + name + "'");
    for (const auto& [name, command] : commands) {
        const auto it = entries.find(name);
        if (it == entries.end()) {
            fail("'" + name + "' is in the command table but has no entry in zeb(1)'s COMMANDS");
            continue;
        }
        const Entry& entry = it->second;
        const std::string first = command.summary + ".";
        const std::string body = unmarked(entry.body);
        if (body.compare(0, first.size(), first) != 0 ||
            (body.size() > first.size() && body[first.size()] != ' ')) {
            fail("'" + name + "': zeb(1) begins \"" + body.substr(0, first.size()) +
                 "\", the table's summary is \"" + first + "\"");
        }
        const std::set<std::string> named = bold_options(entry.synopsis + " " + entry.body);
        for (const std::string& option : command.options) {
            if (!named.count(option))
                fail("'" + name + "' takes --" + option + ", which zeb(1) does not name");
        }
        for (const std::string& option : bold_options(entry.synopsis)) {
            if (!command.options.count(option)) {
                fail("zeb(1) gives '" + name + "' the option --" + option +
                     ", which it does not take");
            }
        }
    }
    for (const auto& [name, entry] : entries) {
        if (!commands.count(name)) fail("zeb(1) has an entry for '" + name + "', which zeb lacks");
    }
    std::printf("%zu commands in the table, %zu entries in zeb(1): %d difference(s)\n",
                commands.size(), entries.size(), failures);
    return failures == 0 ? 0 : 1;
}
