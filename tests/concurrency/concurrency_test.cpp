// Calls on distinct device records from several threads at once, against RackSim served over
// loopback. Each thread writes data of its own into its module's memory and reads it back, and
// reads its module's name: a reply that went to the wrong request shows as another module's
// data. Every call's sequence number and time span are kept, and no two calls that overlapped
// in time may have carried the same number.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "rack.h"
#include "server.h"
#include "zeb.h"

namespace {

constexpr int kThreads = 6;
constexpr int kRounds = 150;
constexpr uint16_t kRamType = 1;

using Clock = std::chrono::steady_clock;

struct CallRecord {
    uint16_t sequence;
    int thread;
    Clock::time_point start;
    Clock::time_point end;
};

uint32_t module_ip(int i) {
    return 0x7F000002u + static_cast<uint32_t>(i);  // 127.0.0.2, ...
}

std::string module_name(int i) {
    return "worker-" + std::to_string(i);
}

void set_address(ZEBDevice& d, uint32_t ip, uint16_t port) {
    uint8_t* a = d.Address.Ip.SocketAddress;
    std::memset(a, 0, 16);
    a[0] = 2;
    const uint16_t p = htons(port);
    const uint32_t n = htonl(ip);
    std::memcpy(a + 2, &p, 2);
    std::memcpy(a + 4, &n, 4);
}

struct Worker {
    int index;
    uint16_t port;
    std::vector<CallRecord> calls;
    std::vector<std::string> failures;

    void fail(const std::string& what) {
        if (failures.size() < 10) failures.push_back(module_name(index) + ": " + what);
    }

    template <class F>
    uint32_t timed(ZEBDevice& d, F call) {
        const auto start = Clock::now();
        const uint32_t r = call();
        calls.push_back({d.LastSequence, index, start, Clock::now()});
        return r;
    }

    void run() {
        ZEBTransport transport{};
        transport.Kind = ZEB_TRANSPORT_WINSOCK;
        transport.Protocol = ZEB_PROTOCOL_IP;
        uint8_t source[16] = {2, 0, 0, 0, 127, 0, 0, 1};
        if (ZEBOpenTransport(&transport, ZEB_API_VERSION, source) != 0) {
            return fail("transport did not open");
        }
        ZEBDevice d{};
        set_address(d, module_ip(index), port);
        if (ZEBOpenDevice(&transport, &d, ZEB_API_VERSION, 500, 3, 0) != 0) {
            ZEBCloseTransport(&transport);
            return fail("device did not open");
        }
        const std::string name = module_name(index);
        for (int round = 0; round < kRounds; ++round) {
            uint8_t block[32];
            for (size_t i = 0; i < sizeof block; ++i) {
                block[i] = static_cast<uint8_t>(index * 37 + round * 11 + int(i));
            }
            const uint32_t address = 0x100 + static_cast<uint32_t>(round % 8) * 32;
            uint32_t r = timed(
                d, [&] { return ZEBWriteMemory(&d, kRamType, address, sizeof block, block); });
            if (!ZEB_SUCCEEDED(r)) fail("write failed: " + std::to_string(r));
            uint8_t back[32] = {};
            r = timed(d, [&] { return ZEBReadMemory(&d, kRamType, address, sizeof back, back); });
            if (!ZEB_SUCCEEDED(r))
                fail("read failed: " + std::to_string(r));
            else if (std::memcmp(back, block, sizeof block) != 0)
                fail("read other data back");
            uint8_t record[64] = {};
            uint16_t size = sizeof record;
            r = timed(d, [&] { return ZEBReadSetupData(&d, racksim::kSetupName, record, &size); });
            if (!ZEB_SUCCEEDED(r))
                fail("name read failed: " + std::to_string(r));
            else if (std::string(reinterpret_cast<char*>(record), strnlen((char*)record, size)) !=
                     name) {
                fail("another module's name");
            }
        }
        ZEBCloseDevice(&d);
        ZEBCloseTransport(&transport);
    }
};

TEST(Concurrency, RepliesMatchTheirRequestsAndSequenceNumbersAreUniqueInFlight) {
    racksim::Rack rack;
    for (int i = 0; i < kThreads; ++i) {
        racksim::Module m(module_name(i), static_cast<uint32_t>(i + 1));
        m.identity.ip = module_ip(i);
        rack.add_module(std::move(m));
    }
    racksim::ServerOptions options;
    options.port = 0;
    racksim::Server server(std::move(rack), options);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;

    std::vector<Worker> workers;
    for (int i = 0; i < kThreads; ++i) workers.push_back({i, server.port(), {}, {}});
    std::vector<std::thread> threads;
    for (Worker& w : workers) threads.emplace_back([&w] { w.run(); });
    for (std::thread& t : threads) t.join();
    server.stop();

    std::vector<CallRecord> all;
    for (const Worker& w : workers) {
        for (const std::string& f : w.failures) ADD_FAILURE() << f;
        EXPECT_EQ(w.calls.size(), size_t(3 * kRounds));
        all.insert(all.end(), w.calls.begin(), w.calls.end());
    }
    std::sort(all.begin(), all.end(), [](const CallRecord& a, const CallRecord& b) {
        return a.sequence != b.sequence ? a.sequence < b.sequence : a.start < b.start;
    });
    size_t shared = 0;
    for (size_t i = 0; i + 1 < all.size(); ++i) {
        for (size_t j = i + 1; j < all.size() && all[j].sequence == all[i].sequence; ++j) {
            const bool overlap = all[j].start < all[i].end && all[i].start < all[j].end;
            if (overlap && all[i].thread != all[j].thread) ++shared;
        }
    }
    EXPECT_EQ(shared, 0u) << "calls in flight at once carried the same sequence number";
}

}  // namespace
