// The RackSim command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace racksim {

class Rack;

struct Options {
    std::string rack_file;  // empty: the built-in rack
    std::string save_file;  // where to write the rack on exit; empty: nowhere
    std::string pcap_file;  // where to capture the datagrams served; empty: nowhere
    std::string
        controller_root;  // the folder of the controller modules' files; empty: as described
    std::string manner;   // every module's manner (a name, or "random"); empty: as described
    // --http ADDRESS:PORT: serve the HTTP API and web page there (port 0: any free one).
    bool http = false;
    std::string http_address;
    uint16_t http_port = 0;
    std::string http_token;  // every API request must carry it as a bearer token; empty: none
    uint16_t port = 28784;
    // How long the server looks for requests before it sleeps, in microseconds (0: sleeps at
    // once).
    uint32_t busy_poll_us = 0;
    bool verbose = false;
    bool rate = false;  // print the requests served each second
    bool allow_remote = false;
    bool help = false;
};

// Reads the arguments (without the program name). On error returns nullopt with a message.
std::optional<Options> parse_options(const std::vector<std::string>& args, std::string* error);

std::string usage_text();

// Gives every controller module of the rack the folder `dir` for its files; with the built-in
// rack (`builtin`), makes its first module a controller module there. False, with the reason,
// when `dir` is no folder.
bool apply_controller_root(Rack& rack, const std::string& dir, bool builtin, std::string* error);

// Gives every module of the rack the manner `name` (one of manner_names()), its generator
// started afresh from its seed. False, with the reason, for an unknown name.
bool apply_manner(Rack& rack, const std::string& name, std::string* error);

// Makes the root folders of the rack's controller modules that are missing (their parent must
// exist); says which in *made. False, with the reason, when one cannot be made.
bool make_controller_roots(Rack& rack, std::vector<std::string>* made, std::string* error);

// Whether a rack can be saved to `path`: its folder exists and may be written, and it is no
// folder itself. Says what is wrong otherwise.
bool save_target_ok(const std::string& path, std::string* error);

}  // namespace racksim
