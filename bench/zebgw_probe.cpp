// The other end of zebgw's benchmark (scripts/bench-zebgw): a subscriber on the broker and a
// host that changes a module's inputs (by writing the outputs they are wired from).
//
//   zebgw_probe latency PORT MODULE_IP TOPIC COUNT   change-to-broker latency, COUNT changes
//   zebgw_probe count PORT SECONDS                   messages heard per second on zeb/#, spBv1.0/#
//
// Prints "name value" lines.
#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "zeb.h"
#include "zeb_points.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Heard {
    std::mutex mutex;
    std::condition_variable cv;
    std::string last;
    Clock::time_point at;
    uint64_t seq = 0;
    std::atomic<uint64_t> count{0};
};

void on_message(mosquitto*, void* self, const mosquitto_message* m) {
    auto* h = static_cast<Heard*>(self);
    h->count.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(h->mutex);
    h->last.assign(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen));
    h->at = Clock::now();
    ++h->seq;
    h->cv.notify_all();
}

mosquitto* subscribe(int port, Heard& heard, const std::vector<std::string>& topics) {
    mosquitto* m = mosquitto_new(nullptr, true, &heard);
    mosquitto_message_callback_set(m, on_message);
    if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "cannot connect to the broker\n");
        std::exit(1);
    }
    for (const auto& t : topics) mosquitto_subscribe(m, nullptr, t.c_str(), 0);
    mosquitto_loop_start(m);
    return m;
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))];
}

int latency(int port, const char* ip, const char* topic, int count) {
    Heard heard;
    mosquitto* m = subscribe(port, heard, {topic});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    ZEBOpen(ZEB_API_VERSION);
    ZEBTransport t{};
    t.Kind = ZEB_TRANSPORT_WINSOCK;
    t.Protocol = ZEB_PROTOCOL_IP;
    uint8_t source[16] = {2, 0, 0, 0, 127, 0, 0, 1};
    ZEBOpenTransport(&t, ZEB_API_VERSION, source);
    ZEBDevice d{};
    unsigned a, b, c, e;
    std::sscanf(ip, "%u.%u.%u.%u", &a, &b, &c, &e);
    const uint8_t addr[16] = {2, 0, 0x70, 0x70, uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(e)};
    std::memcpy(d.Address.Raw, addr, sizeof addr);
    ZEBOpenDevice(&t, &d, ZEB_API_VERSION, 100, 2, 0);
    static ZEBImage image;
    if (!ZEB_SUCCEEDED(ZEBReadImageLayout(&d, &image))) {
        std::fprintf(stderr, "cannot read the layout of %s\n", ip);
        return 1;
    }
    std::mt19937 random(1);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const uint32_t value = (i + 1) & 1;
        ZEBSetPoint(&image, 1, ZEB_BIT_OUT, 0, value);
        uint64_t seq;
        {
            std::lock_guard lock(heard.mutex);
            seq = heard.seq;
        }
        ZEBWriteOutputs(&d, &image);
        const auto written = Clock::now();  // the input has changed at the module by now
        const std::string want = "\"value\":" + std::to_string(value);
        std::unique_lock lock(heard.mutex);
        const bool got = heard.cv.wait_for(lock, std::chrono::seconds(5), [&] {
            return heard.seq > seq && heard.last.find(want) != std::string::npos;
        });
        if (got)
            ms.push_back(std::chrono::duration<double, std::milli>(heard.at - written).count());
        lock.unlock();
        // Changes fall anywhere in the gateway's cycle.
        std::this_thread::sleep_for(std::chrono::microseconds(50000 + random() % 150000));
    }
    std::printf(
        "latency_count %zu\nlatency_p50_ms %.3f\nlatency_p99_ms %.3f\nlatency_max_ms %.3f\n",
        ms.size(), quantile(ms, 0.5), quantile(ms, 0.99), quantile(ms, 1.0));
    ZEBCloseDevice(&d);
    ZEBCloseTransport(&t);
    ZEBClose();
    mosquitto_loop_stop(m, true);
    mosquitto_destroy(m);
    return 0;
}

int count(int port, int seconds) {
    Heard heard;
    mosquitto* m = subscribe(port, heard, {"zeb/#", "spBv1.0/#"});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const uint64_t before = heard.count.load();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const uint64_t after = heard.count.load();
    std::printf("heard_per_second %.0f\n", double(after - before) / seconds);
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, true);
    mosquitto_destroy(m);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    mosquitto_lib_init();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "latency" && argc == 6)
        return latency(std::atoi(argv[2]), argv[3], argv[4], std::atoi(argv[5]));
    if (mode == "count" && argc == 4) return count(std::atoi(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: zebgw_probe latency PORT MODULE_IP TOPIC COUNT | count PORT SECONDS\n");
    return 2;
}
