// The figures of scripts/bench, each one measured in this run against a reference measured in
// the same run: bare UDP ping-pong, an echo peer, silent sockets and RackSim. Prints one
// "name value" line per figure.
//
//   zeb_bench echo PORT              an echo peer on 127.0.0.1:PORT (runs until killed)
//   zeb_bench burn SECONDS           keeps one core busy
//   zeb_bench idle                   waits that nobody answers (run with no module present)
//   zeb_bench exchange PORT          the engine against the echo peer, and the spin budgets
//   zeb_bench rack PORT MODULES      I/O against RackSim's MODULES modules from 127.0.0.2
//   zeb_bench discover MS            one discovery with a query time-out of MS
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/crc16.h"
#include "core/platform/platform.h"
#include "measure.h"
#include "zeb.h"

namespace bench {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kFirstModule = 0x7F000002;

sockaddr_in address(uint32_t ip, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(ip);
    return sa;
}

int udp_socket(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in sa = address(kLoopback, port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    return fd;
}

// ---- The reference: bare UDP ping-pong ----

// Answers every datagram at once with an empty reply of the same sequence number, sleeping in
// the receive in between, as a module's stack would.
int run_echo(uint16_t port) {
    const int fd = udp_socket(port);
    uint8_t buf[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 9) continue;
        const uint8_t reply[11] = {'Z', 'Q', 'K', buf[3], buf[4], 0, 0, 2, 0, 0, 0};
        sendto(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

int run_burn(double seconds) {
    const double end = now_us() + seconds * 1e6;
    volatile uint64_t x = 0;
    while (now_us() < end) {
        for (int i = 0; i < 100000; ++i) x = x + 1;
    }
    return 0;
}

// A connected client of the echo peer that times `count` round trips; returns the median in
// microseconds. The spinning client polls the socket without sleeping; the sleeping one
// blocks in the receive.
class BareClient {
  public:
    explicit BareClient(uint16_t port, uint32_t ip = kLoopback) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in sa = address(ip, port);
        connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    }
    ~BareClient() { close(fd_); }
    double round_trips(int count, bool spin) {
        std::vector<double> times;
        // A read of the inputs, as a module takes it: one sequence number, CRC of the body.
        uint8_t request[10] = {'Z', 'Q', 'K', 1, 0, 0, 0, 1, 0, 0x07};
        const uint16_t crc = zeb::crc16(request + 9, 1);
        request[5] = uint8_t(crc);
        request[6] = uint8_t(crc >> 8);
        uint8_t reply[1200];
        for (int i = 0; i < count; ++i) {
            const double t0 = now_us();
            send(fd_, request, sizeof request, 0);
            while (recv(fd_, reply, sizeof reply, spin ? MSG_DONTWAIT : 0) < 0) {
            }
            times.push_back(now_us() - t0);
        }
        return median(times);
    }

  private:
    int fd_ = -1;
};

// ---- The library ----

struct Transport {
    ZEBTransport t{};
    uint8_t source[16] = {2, 0, 0, 0, 127, 0, 0, 1};  // 127.0.0.1, any port
    Transport() {
        t.Kind = ZEB_TRANSPORT_WINSOCK;
        t.Protocol = ZEB_PROTOCOL_IP;
        ZEBOpen(ZEB_API_VERSION);
        ZEBOpenTransport(&t, ZEB_API_VERSION, source);
    }
    ~Transport() { ZEBCloseTransport(&t); }
};

// `count` devices at consecutive addresses from `first_ip`, on `port`.
class Devices {
  public:
    Devices(Transport& t, uint32_t first_ip, uint16_t port, size_t count, uint16_t timeout_ms,
            bool same_address = false)
        : records_(count),
          buffers_(count, std::vector<uint8_t>(1200)),
          sizes_(count),
          results_(count) {
        for (size_t i = 0; i < count; ++i) {
            ZEBDevice& d = records_[i];
            const uint32_t ip = first_ip + (same_address ? 0 : uint32_t(i));
            d.Address.Raw[0] = 2;
            d.Address.Raw[2] = uint8_t(port >> 8);
            d.Address.Raw[3] = uint8_t(port);
            d.Address.Raw[4] = uint8_t(ip >> 24);
            d.Address.Raw[5] = uint8_t(ip >> 16);
            d.Address.Raw[6] = uint8_t(ip >> 8);
            d.Address.Raw[7] = uint8_t(ip);
            if (ZEBOpenDevice(&t.t, &d, ZEB_API_VERSION, timeout_ms, 0, 0) != 0) {
                std::fprintf(stderr, "cannot open device %zu\n", i);
                std::exit(1);
            }
            pointers_.push_back(&d);
            buffer_pointers_.push_back(buffers_[i].data());
        }
    }
    ~Devices() {
        for (ZEBDevice& d : records_) ZEBCloseDevice(&d);
    }
    ZEBDevice& operator[](size_t i) { return records_[i]; }
    size_t size() const { return records_.size(); }

    uint32_t read_one(size_t i) {
        uint16_t size = 1200;
        buffers_[i][0] = 0;
        return ZEBReadIO(&records_[i], buffers_[i].data(), &size);
    }
    // ZEBReadIOEx over the first `n` devices; returns how many did not end with 0.
    size_t read_parallel(size_t n) {
        for (size_t i = 0; i < n; ++i) sizes_[i] = 1200;
        ZEBReadIOEx(pointers_.data(), buffer_pointers_.data(), sizes_.data(), results_.data(),
                    int32_t(n));
        size_t failed = 0;
        for (size_t i = 0; i < n; ++i) failed += results_[i] != 0;
        return failed;
    }

  private:
    std::vector<ZEBDevice> records_;
    std::vector<ZEBDevice*> pointers_;
    std::vector<std::vector<uint8_t>> buffers_;
    std::vector<uint8_t*> buffer_pointers_;
    std::vector<uint16_t> sizes_;
    std::vector<uint32_t> results_;
};

// Median round trip of the engine's exchange with one device, in microseconds.
double exchange_round_trips(ZEBDevice& d, int count) {
    std::vector<double> times;
    uint8_t request[10] = {};
    uint8_t reply[64];
    for (int i = 0; i < count; ++i) {
        request[9] = 0x07;
        int32_t length = sizeof reply;
        const double t0 = now_us();
        if (_SendPacket(&d, request, sizeof request, reply, &length, 1, 0) != 0) {
            std::fprintf(stderr, "exchange failed\n");
            std::exit(1);
        }
        times.push_back(now_us() - t0);
    }
    return median(times);
}

double read_io_round_trips(Devices& devices, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const double t0 = now_us();
        if (!ZEB_SUCCEEDED(devices.read_one(0))) {
            std::fprintf(stderr, "ZEBReadIO failed\n");
            std::exit(1);
        }
        times.push_back(now_us() - t0);
    }
    return median(times);
}

// Share of one core that a wait for a silent socket uses, in percent.
double silent_wait_cpu_pct(Transport& t, uint16_t sink_port, uint16_t timeout_ms) {
    Devices silent(t, kLoopback, sink_port, 1, timeout_ms);
    std::vector<double> shares;
    for (int i = 0; i < 3; ++i) {
        const double cpu = thread_cpu_seconds();
        const double t0 = now_us();
        silent.read_one(0);
        shares.push_back(100.0 * (thread_cpu_seconds() - cpu) / ((now_us() - t0) / 1e6));
    }
    return median(shares);
}

// ---- Subcommands ----

int run_idle() {
    Transport t;
    const int sink = udp_socket(0);  // bound and never read: requests to it go unanswered
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(sink, reinterpret_cast<sockaddr*>(&sa), &len);
    const uint16_t sink_port = ntohs(sa.sin_port);

    report("cpu_readio_pct", silent_wait_cpu_pct(t, sink_port, 500));

    // Discovery with nobody answering, three times.
    ZEBSetQueryTimeout(500);
    std::vector<double> shares, walls;
    for (int i = 0; i < 3; ++i) {
        std::vector<ZEBDevice> list(16);
        uint16_t count = uint16_t(list.size());
        const double cpu = thread_cpu_seconds();
        const double t0 = now_us();
        ZEBQueryDevices(&t.t, list.data(), &count, ZEB_API_VERSION);
        const double wall_us = now_us() - t0;
        shares.push_back(100.0 * (thread_cpu_seconds() - cpu) / (wall_us / 1e6));
        walls.push_back(wall_us / 1e3 / 500.0);
    }
    report("cpu_discovery_pct", median(shares));
    report("discovery_silent_wall_ratio", median(walls));
    double cpu = 0;
    double t0 = 0;

    // 1,024 silent devices, 200 ms time-out, no re-sends; receives counted.
    Devices silent(t, kLoopback, sink_port, 1024, 200, true);
    CountingPlatform counting(zeb::plat::system_platform());
    zeb::plat::set_platform(&counting);
    cpu = thread_cpu_seconds();
    t0 = now_us();
    silent.read_parallel(silent.size());
    const double wall_ms = (now_us() - t0) / 1e3;
    const double cpu_s = thread_cpu_seconds() - cpu;
    zeb::plat::set_platform(nullptr);
    report("silent1024_wall_ratio", wall_ms / 200.0);
    report("silent1024_cpu_pct", 100.0 * cpu_s / (wall_ms / 1e3));
    report("silent1024_receives", double(counting.receives));
    close(sink);
    return 0;
}

int run_exchange(uint16_t echo_port) {
    Transport t;
    BareClient bare(echo_port);
    Devices echo(t, kLoopback, echo_port, 1, 1000);
    bare.round_trips(500, true);  // warm up both paths
    exchange_round_trips(echo[0], 500);

    // Rounds alternate between the reference and the library so that drift hits both.
    std::vector<double> ratios, spin, sleep, lib;
    for (int round = 0; round < 9; ++round) {
        spin.push_back(bare.round_trips(1000, true));
        sleep.push_back(bare.round_trips(1000, false));
        lib.push_back(exchange_round_trips(echo[0], 1000));
        ratios.push_back(lib.back() / spin.back());
    }
    report("spin_rtt_us", median(spin));
    report("sleep_rtt_us", median(sleep));
    report("exchange_rtt_us", median(lib));
    report("exchange_ratio", median(ratios));

    // The spin budget: round trip against the spinning reference, and the processor time of
    // a 500 ms wait that nobody answers.
    const int sink = udp_socket(0);
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(sink, reinterpret_cast<sockaddr*>(&sa), &len);
    const uint32_t chosen = zeb::plat::spin_budget_us();
    for (uint32_t budget : {0u, 10u, 25u, 50u, 100u, 200u, 400u}) {
        zeb::plat::set_spin_budget_us(budget);
        std::vector<double> r;
        for (int round = 0; round < 5; ++round) {
            const double s = bare.round_trips(500, true);
            r.push_back(exchange_round_trips(echo[0], 500) / s);
        }
        const std::string name = "spin_" + std::to_string(budget);
        report((name + "_ratio").c_str(), median(r));
        report((name + "_cpu_pct").c_str(), silent_wait_cpu_pct(t, ntohs(sa.sin_port), 500));
    }
    zeb::plat::set_spin_budget_us(chosen);
    report("spin_chosen_us", chosen);
    close(sink);
    return 0;
}

// The caller's own processor time per device of one ZEBReadIOEx over the whole rack: what
// the library spends, whatever the load of the machine does to the wall time.
void report_readioex_cpu(Devices& rack, size_t modules) {
    std::vector<double> cpu_per_device;
    for (int round = 0; round < 9; ++round) {
        const double cpu = thread_cpu_seconds();
        for (int i = 0; i < 10; ++i) rack.read_parallel(modules);
        cpu_per_device.push_back((thread_cpu_seconds() - cpu) * 1e6 / (10.0 * double(modules)));
    }
    report("readioex_cpu_us_per_device", median(cpu_per_device));
}

int run_rack(uint16_t echo_port, size_t modules) {
    Transport t;
    BareClient bare(echo_port);
    Devices rack(t, kFirstModule, ZEB_MODULE_PORT, modules, 1000);
    bare.round_trips(500, true);
    read_io_round_trips(rack, 500);

    std::vector<double> ratios;
    for (int round = 0; round < 9; ++round) {
        const double s = bare.round_trips(1000, true);
        ratios.push_back(read_io_round_trips(rack, 1000) / s);
    }
    report("readio_ratio", median(ratios));

    // Where the time goes: the same bare ping-pong against RackSim's first module.
    BareClient bare_rack(ZEB_MODULE_PORT, kFirstModule);
    std::vector<double> peer_ratios;
    for (int round = 0; round < 5; ++round) {
        const double s = bare.round_trips(1000, true);
        peer_ratios.push_back(bare_rack.round_trips(1000, true) / s);
    }
    report("racksim_over_echo_ratio", median(peer_ratios));
    std::vector<double> own_ratios;
    for (int round = 0; round < 5; ++round) {
        const double s = bare_rack.round_trips(1000, true);
        own_ratios.push_back(read_io_round_trips(rack, 1000) / s);
    }
    report("readio_over_bare_racksim", median(own_ratios));

    // Heap allocations per call, once the first calls are behind.
    const size_t n256 = std::min<size_t>(256, modules);
    rack.read_parallel(n256);
    uint64_t before = allocations();
    for (int i = 0; i < 1000; ++i) rack.read_one(0);
    report("allocs_readio", double(allocations() - before) / 1000);
    before = allocations();
    for (int i = 0; i < 20; ++i) rack.read_parallel(n256);
    report("allocs_readioex", double(allocations() - before) / 20);

    // Sequential against parallel, for N devices.
    auto sequential_us = [&](size_t n) {
        const double t0 = now_us();
        for (size_t i = 0; i < n; ++i) {
            uint16_t size = 1200;
            uint8_t buf[1200] = {};
            ZEBReadIO(&rack[i], buf, &size);
        }
        return now_us() - t0;
    };
    auto parallel_us = [&](size_t n) {
        const double t0 = now_us();
        if (rack.read_parallel(n) != 0) std::fprintf(stderr, "ZEBReadIOEx: some failed\n");
        return now_us() - t0;
    };
    std::vector<double> par_seq, scale;
    for (int round = 0; round < 9; ++round) {
        const double seq = sequential_us(n256);
        const double par = parallel_us(n256);
        par_seq.push_back(par / seq);
        if (modules >= 1024) scale.push_back(parallel_us(1024) / par);
    }
    report("readioex_256_over_sequential", median(par_seq));
    if (!scale.empty()) report("readioex_1024_over_256", median(scale));

    for (size_t n : {1, 4, 16, 64, 256, 1024}) {
        if (n > modules) break;
        std::vector<double> s, p;
        for (int round = 0; round < 5; ++round) {
            s.push_back(sequential_us(n));
            p.push_back(parallel_us(n));
        }
        report(("sequential_us_" + std::to_string(n)).c_str(), median(s));
        report(("parallel_us_" + std::to_string(n)).c_str(), median(p));
    }

    // Requests a second, from the client's side, with every module asked at once.
    const double t0 = now_us();
    size_t requests = 0;
    while (now_us() - t0 < 2e6) {
        rack.read_parallel(modules);
        requests += modules;
    }
    report("requests_per_second", double(requests) / ((now_us() - t0) / 1e6));

    report_readioex_cpu(rack, modules);
    return 0;
}

// Only the caller's processor time of ZEBReadIOEx, for working on the parallel read.
int run_rack_cpu(size_t modules) {
    Transport t;
    Devices rack(t, kFirstModule, ZEB_MODULE_PORT, modules, 1000);
    rack.read_parallel(modules);
    report_readioex_cpu(rack, modules);
    return 0;
}

int run_discover(uint32_t timeout_ms) {
    Transport t;
    ZEBSetQueryTimeout(timeout_ms);
    std::vector<ZEBDevice> list(4096);
    uint16_t count = uint16_t(list.size());
    const double t0 = now_us();
    const uint32_t result = ZEBQueryDevices(&t.t, list.data(), &count, ZEB_API_VERSION);
    report("discovery_wall_ratio", (now_us() - t0) / 1e3 / timeout_ms);
    report("discovery_listed", result == 0 ? count : -1);
    return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
    using namespace bench;
    const std::string what = argc > 1 ? argv[1] : "";
    auto arg = [&](int i) { return argc > i ? std::strtoul(argv[i], nullptr, 10) : 0ul; };
    if (what == "echo") return run_echo(uint16_t(arg(2)));
    if (what == "burn") return run_burn(double(arg(2)));
    if (what == "idle") return run_idle();
    if (what == "exchange") return run_exchange(uint16_t(arg(2)));
    if (what == "rack") return run_rack(uint16_t(arg(2)), arg(3));
    if (what == "rack-cpu") return run_rack_cpu(arg(2));
    if (what == "discover") return run_discover(uint32_t(arg(2)));
    std::fprintf(stderr, "usage: zeb_bench echo|burn|idle|exchange|rack|rack-cpu|discover ...\n");
    return 2;
}
