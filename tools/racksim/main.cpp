// RackSim: plays a rack of I/O modules on UDP until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "builtin_rack.h"
#include "describe.h"
#include "http/http_server.h"
#include "options.h"
#include "pcap_writer.h"
#include "rack.h"
#include "server.h"

namespace {

racksim::Server* g_server = nullptr;

extern "C" void on_signal(int) {
    if (g_server) g_server->request_stop();
}

int fail(const std::string& message) {
    std::fprintf(stderr, "RackSim: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string error;
    const std::optional<racksim::Options> options =
        racksim::parse_options(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "RackSim: %s\nTry RackSim --help.\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(racksim::usage_text().c_str(), stdout);
        return 0;
    }

    std::optional<racksim::Rack> rack = options->rack_file.empty()
                                            ? racksim::Rack::parse(racksim::kBuiltinRack, &error)
                                            : racksim::Rack::load(options->rack_file, &error);
    if (!rack) return fail(error);
    if (!options->controller_root.empty() &&
        !racksim::apply_controller_root(*rack, options->controller_root, options->rack_file.empty(),
                                        &error)) {
        return fail(error);
    }
    if (!options->manner.empty() && !racksim::apply_manner(*rack, options->manner, &error)) {
        return fail(error);
    }
    std::vector<std::string> made;
    if (!racksim::make_controller_roots(*rack, &made, &error)) return fail(error);
    for (const std::string& dir : made) std::printf("RackSim: made the folder %s\n", dir.c_str());
    // Found out now rather than when the work is to be kept.
    if (!options->save_file.empty() && !racksim::save_target_ok(options->save_file, &error)) {
        return fail(error);
    }
    if (const std::string remote = racksim::first_remote_module(*rack);
        !remote.empty() && !options->allow_remote) {
        return fail("module " + remote + " is outside 127.0.0.0/8; use --allow-remote");
    }

    racksim::PcapWriter capture;
    if (!options->pcap_file.empty() && !capture.open(options->pcap_file, &error)) {
        return fail(error);
    }
    racksim::ServerOptions server_options;
    if (capture.is_open()) server_options.capture = &capture;
    server_options.port = options->port;
    server_options.allow_remote = options->allow_remote;
    server_options.busy_poll = std::chrono::microseconds(options->busy_poll_us);
    if (options->verbose) {
        server_options.log = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    }
    if (options->rate) {
        server_options.rate = [](uint64_t requests) {
            std::printf("RackSim: %llu requests/s\n", static_cast<unsigned long long>(requests));
        };
    }
    const std::string summary = racksim::describe_rack(*rack);
    const size_t count = rack->modules().size();
    racksim::Server server(std::move(*rack), server_options);
    if (!server.open(&error)) return fail(error);
    racksim::HttpOptions http_options;
    http_options.address = options->http_address;
    http_options.port = options->http_port;
    http_options.token = options->http_token;
    racksim::HttpServer http(server, http_options);
    if (options->http && !http.start(&error)) return fail(error);

    std::printf("RackSim: %zu module%s on UDP port %u%s\n%s", count, count == 1 ? "" : "s",
                server.port(), options->allow_remote ? " (remote senders allowed)" : "",
                summary.c_str());
    if (options->http) {
        std::printf("RackSim: HTTP on http://%s:%u/%s\n", options->http_address.c_str(),
                    http.port(),
                    options->http_token.empty() ? "" : " (API requests need the bearer token)");
    }
    std::printf("RackSim: serving; Ctrl-C to stop\n");

    g_server = &server;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    server.run();
    g_server = nullptr;
    http.stop();
    const racksim::ServerStats stats = server.stats();
    std::printf("RackSim: stopped; %llu requests served, at most %llu in one second\n",
                static_cast<unsigned long long>(stats.received),
                static_cast<unsigned long long>(stats.best_second));
    if (!options->save_file.empty()) {
        const bool saved =
            server.with_rack([&](racksim::Rack& r) { return r.save(options->save_file, &error); });
        if (!saved) return fail("rack not saved: " + error);
        std::printf("RackSim: rack saved to %s\n", options->save_file.c_str());
    }
    return 0;
}
