// zeb ping: identity requests to one module, with the statistics ping users expect.
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "failure.h"
#include "interrupt.h"
#include "output.h"
#include "ping_stats.h"
#include "session.h"
#include "vocab/capacities.h"

namespace zeb::cli {

namespace {

constexpr std::size_t kBlockSize = vocab::kMaxIdentityBlock;

struct PingOptions {
    unsigned count = 4;
    unsigned interval_ms = 1000;
};

std::string format(const char* pattern, double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, pattern, value);
    return buf;
}

struct Probe {
    std::optional<double> rtt_ms;
    unsigned resends = 0;
    uint32_t result = 0;
};

// One request: sent again after each time-out, up to `retries` times, so that every send is
// timed on its own and a re-send is counted as such.
Probe probe(ZEBDevice* device, unsigned retries) {
    Probe p;
    for (unsigned attempt = 0;; ++attempt) {
        std::array<uint8_t, kBlockSize> block{};
        const auto start = std::chrono::steady_clock::now();
        p.result = ZEBReadVersionInfo(device, block.data(), block.size());
        const auto end = std::chrono::steady_clock::now();
        if (ZEB_SUCCEEDED(p.result)) {
            p.rtt_ms = std::chrono::duration<double, std::milli>(end - start).count();
            return p;
        }
        if (p.result != ZEBERR_TIMEOUT || attempt >= retries || interrupted()) return p;
        ++p.resends;
    }
}

// The module is opened without re-sends (kOwnResends): they are made here, one send per library
// call, up to --retries.
void run_ping(const PingOptions& o, Context& c) {
    const GlobalOptions& g = c.options;
    Device* device = c.device;
    const std::string& address = device->address();
    catch_interrupt();

    if (!g.json) {
        print("PING " + address + ": identity requests, time-out " + std::to_string(g.timeout_ms) +
              " ms, up to " + std::to_string(g.retries) + " re-sends\n");
        std::fflush(stdout);
    }
    PingStats stats;
    Json probes = Json::array();
    uint32_t last_failure = 0;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned seq = 1; o.count == 0 || seq <= o.count; ++seq) {
        if (seq > 1) sleep_ms(o.interval_ms);
        if (interrupted()) break;
        const Probe p = probe(device->get(), g.retries);
        stats.add(p.rtt_ms, p.resends);
        if (!p.rtt_ms) last_failure = p.result;
        probes.push_back({{"seq", seq},
                          {"time_ms", p.rtt_ms ? Json(*p.rtt_ms) : Json(nullptr)},
                          {"resends", p.resends},
                          {"result", p.result}});
        if (g.json) continue;
        std::string line;
        if (p.rtt_ms) {
            line = "reply from " + address + ": seq=" + std::to_string(seq) +
                   " time=" + format("%.3f", *p.rtt_ms) + " ms";
        } else {
            line = "no reply from " + address + ": seq=" + std::to_string(seq) + " " +
                   failed_exchange_text(p.result);
        }
        if (p.resends > 0) {
            line +=
                " (" + std::to_string(p.resends) + " re-send" + (p.resends == 1 ? "" : "s") + ")";
        }
        print(line + "\n");
        std::fflush(stdout);
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();

    if (g.json) {
        Json out;
        out["address"] = address;
        out["sent"] = stats.sent();
        out["received"] = stats.received();
        out["lost"] = stats.lost();
        out["loss_percent"] = stats.loss_percent();
        out["resends"] = stats.resends();
        out["time_ms"] = elapsed;
        if (stats.received() > 0) {
            out["rtt_ms"] = {{"min", stats.min_ms()},
                             {"avg", stats.avg_ms()},
                             {"max", stats.max_ms()},
                             {"stddev", stats.stddev_ms()}};
        } else {
            out["rtt_ms"] = nullptr;
        }
        out["probes"] = probes;
        print_json(out);
    } else {
        std::string summary =
            "\n--- " + address + " ping statistics ---\n" + std::to_string(stats.sent()) +
            " requests sent, " + std::to_string(stats.received()) + " received, " +
            format("%.1f", stats.loss_percent()) + "% lost, " + std::to_string(stats.resends()) +
            " re-sends, time " + std::to_string(elapsed) + " ms\n";
        if (stats.received() > 0) {
            summary += "rtt min/avg/max/stddev = " + format("%.3f", stats.min_ms()) + "/" +
                       format("%.3f", stats.avg_ms()) + "/" + format("%.3f", stats.max_ms()) + "/" +
                       format("%.3f", stats.stddev_ms()) + " ms\n";
        }
        print(summary);
    }
    if (stats.sent() > 0 && stats.received() == 0)
        fail_result("no reply from " + address, last_failure);
}

}  // namespace

Command ping(CLI::App& cmd) {
    auto o = std::make_shared<PingOptions>();
    cmd.add_option("--count", o->count, "requests to send; 0 sends until Ctrl-C")
        ->capture_default_str();
    cmd.add_option("--interval", o->interval_ms, "milliseconds between requests")
        ->check(CLI::Range(1, 3600000))
        ->capture_default_str();
    cmd.footer(
        "A request that meets a time-out is sent again, up to --retries times; each send is timed "
        "on its own, and a request still unanswered then is lost. Exit code 3 when no request "
        "was answered. Ctrl-C ends it with the statistics.");
    return {.run = [o](Context& c) { run_ping(*o, c); }};
}

}  // namespace zeb::cli
