// The RackSim command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace racksim {

struct Options {
    std::string rack_file;  // empty: the built-in rack
    uint16_t port = 28784;
    bool verbose = false;
    bool allow_remote = false;
    bool help = false;
};

// Reads the arguments (without the program name). On error returns nullopt with a message.
std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error);

std::string usage_text();

}  // namespace racksim
