// The RackSim command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace racksim {

struct Options {
    std::string rack_file;  // empty: the built-in rack
    std::string save_file;  // where to write the rack on exit; empty: nowhere
    uint16_t port = 28784;
    bool verbose = false;
    bool rate = false;  // print the requests served each second
    bool allow_remote = false;
    bool help = false;
};

// Reads the arguments (without the program name). On error returns nullopt with a message.
std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error);

std::string usage_text();

// Whether a rack can be saved to `path`: its folder exists and may be written, and it is no
// folder itself. Says what is wrong otherwise.
bool save_target_ok(const std::string& path, std::string* error);

}  // namespace racksim
