// The gateway's configuration, read from a TOML file and checked whole: every mistake is
// reported with its line and column, not only the first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "addresses.h"
#include "point_names.h"

namespace zebgw {

enum class Convention { sparkplug, json };

struct BrokerConfig {
    std::string host;
    uint16_t port = 1883;
    bool tls = false;
    std::string client_id;
    std::string username;
    std::string password_file;  // the password is read from here, never given on a command line
    std::string ca_file;
    std::string cert_file;
    std::string key_file;
    int keepalive_s = 10;
    int qos = 1;
};

struct ScanGroupConfig {
    std::string name;
    uint32_t period_ms = 100;
};

struct ModuleConfig {
    std::string id;         // in topics and as the Sparkplug device id
    std::string find_text;  // as written: name, #number, hardware address or IPv4 address
    zeb::cli::ModuleRef find;
    size_t group = 0;  // index into Config::groups
    std::vector<PointPattern> publish;
    std::vector<PointPattern> writable;
    uint32_t deadband = 0;  // words and 32-bit values: publish when they move at least this much
};

struct Config {
    std::string gateway;  // the gateway's name: JSON topics' second level
    Convention format = Convention::sparkplug;
    std::string local;  // IPv4 address to send from; "" for any
    uint16_t timeout_ms = 50;
    uint16_t retries = 1;
    uint32_t dead_after = 3;                  // missed cycles before a module is declared dead
    uint32_t search_max_ms = 10000;           // longest wait between two searches for a dead module
    uint32_t queue_limit = 100000;            // events kept in memory while the broker is away
    std::string queue_file;                   // "": the queue is in memory alone
    uint64_t queue_file_bytes = 64ull << 20;  // the queue file's bound
    int scan_priority = 0;  // 1 to 99: the scan threads run SCHED_FIFO at it; 0: as any thread
    std::string health_host = "127.0.0.1";
    uint16_t health_port = 9108;  // 0: no health endpoint
    std::string sparkplug_group = "zeb";
    std::string edge_node;          // default: the gateway's name
    bool sparkplug_aliases = true;  // data and commands by alias, births with name and alias
    BrokerConfig broker;
    std::vector<ScanGroupConfig> groups;
    std::vector<ModuleConfig> modules;
};

struct ConfigError {
    uint32_t line = 0;  // 0: the file as a whole
    uint32_t column = 0;
    std::string message;
};

struct LoadedConfig {
    std::optional<Config> config;  // set when there is no error
    std::vector<ConfigError> errors;
};

LoadedConfig load_config(const std::string& path);
LoadedConfig parse_config(std::string_view text, const std::string& path);

// "path:line:column: message", one per line.
std::string format_errors(const std::string& path, const std::vector<ConfigError>& errors);

// The password file's first line, without its line end; nothing when it cannot be read.
std::optional<std::string> read_password(const std::string& path, std::string* error);

}  // namespace zebgw
