#include "options.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "rack.h"

namespace racksim {

namespace {

// A whole number from `lo` to `hi` (at most 999,999), written in decimal digits only.
bool parse_number(const std::string& text, uint32_t lo, uint32_t hi, uint32_t* out) {
    if (text.empty() || text.size() > 6) return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parse_port(const std::string& text, uint16_t* port) {
    uint32_t v = 0;
    if (!parse_number(text, 1, 65535, &v)) return false;
    *port = static_cast<uint16_t>(v);
    return true;
}

// ADDRESS:PORT, the address dotted IPv4, the port 0 to 65535.
bool parse_http_endpoint(const std::string& text, Options* o) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string port = text.substr(colon + 1);
    uint32_t ip = 0;
    if (!parse_ip(text.substr(0, colon), &ip)) return false;
    if (port == "0") {
        o->http_port = 0;
    } else if (!parse_port(port, &o->http_port)) {
        return false;
    }
    o->http = true;
    o->http_address = text.substr(0, colon);
    return true;
}

// What is wrong with the HTTP options as a whole ("" when nothing).
std::string http_problem(const Options& o) {
    if (!o.http_token.empty() && !o.http) return "--http-token needs --http";
    const std::string& t = o.http_token;
    if (!t.empty() &&
        (t.size() < 16 || t.size() > 256 ||
         std::any_of(t.begin(), t.end(), [](char c) { return c <= ' ' || c > '~'; }))) {
        return "--http-token: 16 to 256 visible ASCII characters (a short token guards little)";
    }
    uint32_t ip = 0;
    if (o.http && parse_ip(o.http_address, &ip) && (ip >> 24) != 127 && t.empty()) {
        return "--http " + o.http_address + ":" + std::to_string(o.http_port) +
               " is reachable beyond loopback: give --http-token TOKEN too, which every request "
               "must then carry";
    }
    return "";
}

}  // namespace

std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool has_value = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            has_value = true;
        }
        auto take_value = [&]() -> bool {
            if (has_value) return true;
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else if (arg == "--allow-remote") {
            o.allow_remote = true;
        } else if (arg == "--rate") {
            o.rate = true;
        } else if (arg == "--rack") {
            if (!take_value()) return std::nullopt;
            if (value.empty()) {
                *error = "--rack needs a file name";
                return std::nullopt;
            }
            o.rack_file = value;
        } else if (arg == "--save") {
            if (!take_value()) return std::nullopt;
            if (value.empty()) {
                *error = "--save needs a file name";
                return std::nullopt;
            }
            o.save_file = value;
        } else if (arg == "--pcap") {
            if (!take_value()) return std::nullopt;
            if (value.empty()) {
                *error = "--pcap needs a file name";
                return std::nullopt;
            }
            o.pcap_file = value;
        } else if (arg == "--manner") {
            if (!take_value()) return std::nullopt;
            if (!manner_named(value)) {
                *error = "--manner: unknown manner \"" + value + "\" (" + manner_names() + ")";
                return std::nullopt;
            }
            o.manner = value;
        } else if (arg == "--controller-root") {
            if (!take_value()) return std::nullopt;
            if (value.empty()) {
                *error = "--controller-root needs a folder name";
                return std::nullopt;
            }
            o.controller_root = value;
        } else if (arg == "--http") {
            if (!take_value()) return std::nullopt;
            if (!parse_http_endpoint(value, &o)) {
                *error = "--http: \"" + value + "\" is not ADDRESS:PORT (such as 127.0.0.1:8470)";
                return std::nullopt;
            }
        } else if (arg == "--http-token") {
            if (!take_value()) return std::nullopt;
            o.http_token = value;
        } else if (arg == "--port") {
            if (!take_value()) return std::nullopt;
            if (!parse_port(value, &o.port)) {
                *error = "--port: \"" + value + "\" is not a port number (1 to 65535)";
                return std::nullopt;
            }
        } else if (arg == "--busy-poll") {
            if (!take_value()) return std::nullopt;
            if (!parse_number(value, 0, 100000, &o.busy_poll_us)) {
                *error = "--busy-poll: \"" + value + "\" is not 0 to 100000 microseconds";
                return std::nullopt;
            }
        } else {
            *error = "unknown option \"" + args[i] + "\"";
            return std::nullopt;
        }
        if (has_value &&
            (arg == "--help" || arg == "--verbose" || arg == "--allow-remote" || arg == "--rate")) {
            *error = arg + " takes no value";
            return std::nullopt;
        }
    }
    if (std::string problem = http_problem(o); !problem.empty()) {
        *error = problem;
        return std::nullopt;
    }
    return o;
}

std::string usage_text() {
    std::string manners;
    auto manner_line = [&manners](const std::string& name, const std::string& what) {
        std::string line = "                     " + name;
        line.resize(std::max<size_t>(line.size() + 1, 40), ' ');
        manners += line + what + "\n";
    };
    for (const NamedManner& n : named_manners()) manner_line(n.name, n.what);
    manner_line(kRandomManner, "a manner drawn for each request from the seed");
    return "Usage: RackSim [options]\n"
           "Plays a rack of I/O modules on UDP, for host programs to talk to.\n"
           "\n"
           "Options:\n"
           "  --rack FILE      rack description (JSON); default: one built-in Qx-RIO module\n"
           "  --port N         UDP port to serve (default 28784)\n"
           "  --save FILE      on exit, write the rack with the setup records and configuration\n"
           "                   blocks that hosts wrote to FILE (may be the --rack file)\n"
           "  --controller-root DIR\n"
           "                   keep the files of the rack's controller modules in DIR (with the\n"
           "                   built-in rack, its module becomes a controller module)\n"
           "  --pcap FILE      capture every datagram received and sent to FILE (pcap)\n"
           "  --manner NAME    every module answers in this manner where a host takes its\n"
           "                   replies more than one way (default: as the rack says):\n" +
           manners +
           "  --verbose, -v    print a line for every request served\n"
           "  --rate           print how many requests were served, each second that had any\n"
           "  --allow-remote   also answer senders outside 127.0.0.0/8\n"
           "  --busy-poll US   look for requests US microseconds (up to 100000) before\n"
           "                   sleeping, as a module that never sleeps; on loopback the\n"
           "                   sender pays for waking RackSim (default 0)\n"
           "  --http ADDRESS:PORT\n"
           "                   serve a web page and a JSON API of the rack there (such as\n"
           "                   127.0.0.1:8470): watch it, change inputs, set faults and manners\n"
           "  --http-token TOKEN\n"
           "                   every API request must carry \"Authorization: Bearer TOKEN\";\n"
           "                   needed for an ADDRESS outside 127.0.0.0/8\n"
           "  --help, -h       print this text\n"
           "\n"
           "Stops cleanly on Ctrl-C (SIGINT) or SIGTERM.\n";
}

bool save_target_ok(const std::string& path, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        *error = "--save: " + path + " is a directory";
        return false;
    }
    const fs::path folder =
        fs::path(path).parent_path().empty() ? fs::path(".") : fs::path(path).parent_path();
    if (!fs::is_directory(folder, ec)) {
        *error = "--save: no folder " + folder.string();
        return false;
    }
    if (access(folder.c_str(), W_OK) != 0) {
        *error = "--save: cannot write in " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool apply_controller_root(Rack& rack, const std::string& dir, bool builtin, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root = fs::absolute(dir, ec).lexically_normal();
    if (ec || !fs::is_directory(root, ec)) {
        *error = "--controller-root: no folder " + dir;
        return false;
    }
    bool any = false;
    for (Module& m : rack.modules()) {
        if (!m.controller_os.enabled()) continue;
        m.controller_os.root = root.string();
        any = true;
    }
    if (!any && builtin && !rack.modules().empty())
        rack.module(0).controller_os.root = root.string();
    return true;
}

bool apply_manner(Rack& rack, const std::string& name, std::string* error) {
    const std::optional<MannerSetting> setting = manner_named(name);
    if (!setting) {
        *error = "unknown manner \"" + name + "\" (" + manner_names() + ")";
        return false;
    }
    for (Module& m : rack.modules()) {
        m.manner = *setting;
        start_manner(m.manner, m.faults.seed, m.manner_state);
    }
    return true;
}

bool make_controller_roots(Rack& rack, std::vector<std::string>* made, std::string* error) {
    namespace fs = std::filesystem;
    for (const Module& m : rack.modules()) {
        const std::string& root = m.controller_os.root;
        std::error_code ec;
        if (!m.controller_os.enabled() || fs::is_directory(root, ec)) continue;
        if (!fs::create_directory(root, ec) || ec) {
            *error = "cannot make the folder " + root + " of " + printable(m.name()) + ": " +
                     (ec ? ec.message() : "not made");
            return false;
        }
        made->push_back(root);
    }
    return true;
}

}  // namespace racksim
