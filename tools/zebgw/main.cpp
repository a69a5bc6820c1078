// zebgw: puts a plant's modules on an MQTT broker.
//
//   zebgw CONFIG           runs the gateway until SIGTERM or SIGINT; SIGHUP reads CONFIG again
//   zebgw --check CONFIG   says whether CONFIG is sound, and what is wrong where if not
#include <mosquitto.h>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "config.h"
#include "gateway.h"

namespace {

constexpr const char* kUsage =
    "usage: zebgw CONFIG\n"
    "       zebgw --check CONFIG\n"
    "\n"
    "Scans the modules that CONFIG names and publishes their points to an MQTT broker\n"
    "(Sparkplug B or plain JSON topics). SIGHUP reads CONFIG again; SIGTERM closes,\n"
    "publishing the gateway's death. --check only checks CONFIG.\n";

std::optional<zebgw::Config> load(const std::string& path) {
    auto loaded = zebgw::load_config(path);
    if (!loaded.config) {
        std::fputs(zebgw::format_errors(path, loaded.errors).c_str(), stderr);
        return std::nullopt;
    }
    return loaded.config;
}

std::unique_ptr<zebgw::Gateway> start(zebgw::Config config) {
    auto gateway = std::make_unique<zebgw::Gateway>(std::move(config));
    std::string error;
    if (!gateway->start(&error)) {
        std::fprintf(stderr, "zebgw: %s\n", error.c_str());
        return nullptr;
    }
    return gateway;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("zebgw 3.0");
            return 0;
        } else if (arg == "--check") {
            check = true;
        } else if (arg.starts_with("-") || !path.empty()) {
            std::fprintf(stderr, "zebgw: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            path = arg;
        }
    }
    if (path.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    auto config = load(path);
    if (!config) return 1;
    if (check) {
        std::printf("%s: sound: %zu module(s) in %zu scan group(s), %s to %s:%u\n", path.c_str(),
                    config->modules.size(), config->groups.size(),
                    config->format == zebgw::Convention::sparkplug ? "Sparkplug B" : "JSON",
                    config->broker.host.c_str(), config->broker.port);
        return 0;
    }

    // Signals are taken by this thread alone, with sigwait; every thread started later
    // inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    mosquitto_lib_init();
    auto gateway = start(std::move(*config));
    if (!gateway) {
        mosquitto_lib_cleanup();
        return 1;
    }
    std::fprintf(stderr, "zebgw: running with %s\n", path.c_str());
    while (true) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0) continue;
        if (sig != SIGHUP) break;
        auto next = load(path);
        if (!next) {
            std::fprintf(stderr, "zebgw: %s has errors; going on as before\n", path.c_str());
            continue;
        }
        std::fprintf(stderr, "zebgw: reading %s again\n", path.c_str());
        gateway->stop();
        gateway.reset();
        gateway = start(std::move(*next));
        if (!gateway) {
            mosquitto_lib_cleanup();
            return 1;
        }
    }
    std::fprintf(stderr, "zebgw: closing\n");
    gateway->stop();
    gateway.reset();
    mosquitto_lib_cleanup();
    return 0;
}
