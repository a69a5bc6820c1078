// The engine's two costs that matter: the round trip to a module that answers at once, and the
// processor time spent waiting for a module that never answers.
//
//   build/release/bench/engine_bench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "core/frame.h"
#include "zeb.h"

namespace {

constexpr uint16_t kEchoPort = 28911;
constexpr uint16_t kSilentPort = 28912;

// A loopback peer that answers every frame at once with an empty reply of the same sequence.
class EchoPeer {
  public:
    explicit EchoPeer(uint16_t port, bool answer) : answer_(answer) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        thread_ = std::thread([this] { serve(); });
    }
    ~EchoPeer() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }

  private:
    void serve() {
        uint8_t buf[1500];
        while (!stop_) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n =
                recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 9 || !answer_) continue;
            uint8_t reply[11] = {'Z', 'Q', 'K', buf[3], buf[4], 0, 0, 2, 0, 0, 0};
            sendto(fd_, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    int fd_ = -1;
    bool answer_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct OpenDevice {
    ZEBTransport transport{};
    ZEBDevice device{};
    uint8_t source[16] = {};
    OpenDevice(uint16_t port, uint16_t timeout_ms) {
        transport.Kind = ZEB_TRANSPORT_WINSOCK;
        transport.Protocol = ZEB_PROTOCOL_IP;
        source[0] = 2;
        source[4] = 127;
        source[7] = 1;
        ZEBOpenTransport(&transport, 3, source);
        device.Address.Raw[0] = 2;
        device.Address.Raw[2] = static_cast<uint8_t>(port >> 8);
        device.Address.Raw[3] = static_cast<uint8_t>(port);
        device.Address.Raw[4] = 127;
        device.Address.Raw[7] = 1;
        ZEBOpenDevice(&transport, &device, 3, timeout_ms, 0, 0);
    }
    ~OpenDevice() {
        ZEBCloseDevice(&device);
        ZEBCloseTransport(&transport);
    }
};

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void BM_RoundTrip(benchmark::State& state) {
    EchoPeer peer(kEchoPort, true);
    OpenDevice open(kEchoPort, 1000);
    uint8_t request[10] = {};
    uint8_t reply[64];
    for (auto _ : state) {
        request[9] = 0x07;
        int32_t length = sizeof reply;
        const uint32_t r = _SendPacket(&open.device, request, sizeof request, reply, &length, 1, 0);
        if (r != 0) state.SkipWithError("exchange failed");
    }
}
BENCHMARK(BM_RoundTrip)->UseRealTime();

// Waits out a 500 ms time-out and reports the share of one core it used.
void BM_IdleWait(benchmark::State& state) {
    EchoPeer peer(kSilentPort, false);
    OpenDevice open(kSilentPort, 500);
    uint8_t request[10] = {};
    uint8_t reply[64];
    double cpu = 0;
    for (auto _ : state) {
        request[9] = 0x07;
        int32_t length = sizeof reply;
        const double before = cpu_seconds();
        _SendPacket(&open.device, request, sizeof request, reply, &length, 1, 0);
        cpu += cpu_seconds() - before;
    }
    state.counters["core_share_pct"] =
        benchmark::Counter(100.0 * cpu / (0.5 * double(state.iterations())));
}
BENCHMARK(BM_IdleWait)->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
