// The Windows platform on real Winsock sockets, all on 127.0.0.1: a silent module's time-out,
// a closed port, the wait that spins and then sleeps, readiness among many sockets, the clock
// and IPX (the exchanges themselves run in core_tests' loopback_test.cpp). Waits are judged by
// lower bounds, by ratios and by processor time, never by how soon they end, so that a loaded
// machine cannot fail them.
#include "core/platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "exchange.h"
#include "frames.h"
#include "sim_device.h"
#include "state_guards.h"
#include "winsock_peer.h"

namespace zebtest {
namespace {

using zeb::plat::Handle;
using zeb::plat::system_platform;

// A wait that slept used a small share of the processor for its time. Where thread processor
// time is not measured at all, the test says so and counts as skipped.
void expect_slept(double busy_seconds, double took_seconds) {
    if (!thread_cpu_time_measured()) {
        GTEST_SKIP() << "this system reports no thread processor time: whether the wait slept "
                        "is not checked";
    }
    EXPECT_LT(busy_seconds / took_seconds, 0.25) << "the wait spun instead of sleeping";
}

class Winsock : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(module_.ok()); }

    ScopedCrcMode crc_{1};
    UdpPeer module_;
};

// ---- Modules that do not answer ----

// A module that never answers: every try waits the whole deadline, asleep.
TEST_F(Winsock, SilentModuleTimesOutAfterEveryTryWithoutSpinning) {
    IpDevice dev(module_.at(), {.timeout = 150, .retries = 2});
    ASSERT_EQ(dev.device_result, 0u);
    const double wall = wall_seconds();
    const double cpu = thread_cpu_seconds();
    EXPECT_EQ(send_packet(dev.device, text_bytes("ping")).result, ZEBERR_TIMEOUT);
    const double took = wall_seconds() - wall;
    const double busy = thread_cpu_seconds() - cpu;
    EXPECT_GE(took, 3 * 0.150 * 0.99);
    EXPECT_EQ(module_.receive_bytes(SIZE_MAX, 200).size() % 3, 0u) << "three tries, same size";
    std::printf("silent module: %.0f ms, %.0f ms of it on the processor\n", took * 1000,
                busy * 1000);
    expect_slept(busy, took);
}

// Nothing listens at the module's port: the system's answer (ICMP port unreachable) ends the
// exchange as a socket error, not as a silent module's time-out. Windows reports WSAECONNRESET
// for it; Wine passes on Linux's "refused" as WSAECONNREFUSED.
TEST(ClosedPort, IsASocketErrorNotATimeout) {
    uint16_t port = 0;
    {
        UdpPeer gone;
        ASSERT_TRUE(gone.ok());
        port = gone.port();
    }
    IpDevice dev({kHostIp, port}, {.timeout = 300, .retries = 1});
    ASSERT_EQ(dev.device_result, 0u);
    const uint32_t result = send_packet(dev.device, text_bytes("ping")).result;
    EXPECT_TRUE(result == WSAECONNRESET || result == WSAECONNREFUSED) << result;
}

// ---- The wait that spins, then sleeps ----

class Waits : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(module_.ok());
        ASSERT_EQ(system_platform().sockets_start(), 0u);
        ASSERT_EQ(open(&socket_, &port_), 0u);
    }
    void TearDown() override {
        for (Handle h : extra_) system_platform().socket_close(h);
        if (socket_ != zeb::plat::kNoHandle) system_platform().socket_close(socket_);
        system_platform().sockets_stop();
    }
    // A non-blocking socket on 127.0.0.1 at a port of the system's choice.
    uint32_t open(Handle* h, uint16_t* port) {
        auto& p = system_platform();
        if (const uint32_t err = p.socket_open(zeb::plat::kFamilyInet, h)) return err;
        const SocketAddress a = socket_address({kHostIp, 0});
        if (const uint32_t err = p.socket_bind(*h, a.data(), a.size())) return err;
        if (const uint32_t err = p.socket_set_nonblocking(*h)) return err;
        sockaddr_in bound{};
        int len = sizeof bound;
        getsockname(static_cast<SOCKET>(*h), reinterpret_cast<sockaddr*>(&bound), &len);
        *port = ntohs(bound.sin_port);
        return 0;
    }
    uint32_t receive_wait(uint32_t timeout_ms, uint32_t* got) {
        uint8_t buf[64];
        return system_platform().socket_receive_wait(socket_, buf, sizeof buf, got, nullptr,
                                                     nullptr, timeout_ms);
    }

    UdpPeer module_;
    Handle socket_ = zeb::plat::kNoHandle;
    uint16_t port_ = 0;
    std::vector<Handle> extra_;
};

TEST_F(Waits, ReceiveWaitTakesWhatIsWaitingAndSleepsOnASilentSocket) {
    uint32_t got = 0;
    EXPECT_EQ(receive_wait(0, &got), zeb::plat::kWouldBlock);  // 0 ms only looks
    ASSERT_TRUE(module_.send_to(text_bytes("early"), port_));
    Sleep(50);
    double start = wall_seconds();
    EXPECT_EQ(receive_wait(10000, &got), 0u);
    EXPECT_EQ(got, 5u);
    EXPECT_LT(wall_seconds() - start, 5.0) << "a waiting datagram was not taken at once";

    start = wall_seconds();
    const double cpu = thread_cpu_seconds();
    EXPECT_EQ(receive_wait(300, &got), zeb::plat::kWouldBlock);
    const double took = wall_seconds() - start;
    const double busy = thread_cpu_seconds() - cpu;
    EXPECT_GE(took, 0.300 * 0.99);
    std::printf("silent socket: %.0f ms, %.1f ms on the processor\n", took * 1000, busy * 1000);
    expect_slept(busy, took);
}

TEST_F(Waits, DatagramArrivingDuringTheSleepEndsIt) {
    std::thread later([&] {
        Sleep(100);
        module_.send_to(text_bytes("late"), port_);
    });
    const double start = wall_seconds();
    uint32_t got = 0;
    EXPECT_EQ(receive_wait(20000, &got), 0u);
    const double took = wall_seconds() - start;
    later.join();
    EXPECT_EQ(got, 4u);
    EXPECT_LT(took, 10.0) << "the sleep ran to its end instead of waking";
}

// More sockets than Winsock's select() takes by default (64): the one with a datagram, last
// of them, ends wait_readable long before its time-out.
TEST_F(Waits, WaitReadableWakesForAnyOfManySockets) {
    std::vector<Handle> handles;
    uint16_t last_port = 0;
    for (int i = 0; i < 100; ++i) {
        Handle h;
        ASSERT_EQ(open(&h, &last_port), 0u);
        extra_.push_back(h);
    }
    handles = extra_;
    ASSERT_TRUE(module_.send_to(text_bytes("x"), last_port));
    const double start = wall_seconds();
    system_platform().wait_readable(handles.data(), handles.size(), 20000);
    EXPECT_LT(wall_seconds() - start, 10.0) << "the readable socket did not end the wait";
    const double cpu = thread_cpu_seconds();
    const double quiet_start = wall_seconds();
    system_platform().wait_readable(handles.data(), handles.size() - 1, 300);
    const double took = wall_seconds() - quiet_start;
    EXPECT_GE(took, 0.300 * 0.99);
    expect_slept(thread_cpu_seconds() - cpu, took);
}

// WSAPoll readiness among 200 sockets: exactly the sockets that received are reported, each
// once; a reported socket rests until armed again; with room for fewer tags than are ready,
// the rest stay armed for the next wait.
TEST_F(Waits, ReadySetReportsTheReadableOfManySocketsOnce) {
    auto& p = system_platform();
    std::vector<uint16_t> ports(200);
    for (uint16_t& port : ports) {
        Handle h;
        ASSERT_EQ(open(&h, &port), 0u);
        extra_.push_back(h);
    }
    Handle set;
    ASSERT_EQ(p.ready_set_open(&set), 0u);
    for (uint32_t i = 0; i < extra_.size(); ++i) ASSERT_EQ(p.ready_set_add(set, extra_[i], i), 0u);
    EXPECT_NE(p.ready_set_add(set, extra_[0], 0), 0u) << "a socket added twice";

    const std::vector<uint32_t> sent_to = {3, 77, 150, 199};
    for (uint32_t i : sent_to) ASSERT_TRUE(module_.send_to(text_bytes("r"), ports[i]));
    std::vector<uint32_t> seen;
    uint32_t tags[2];
    for (int waits = 0; waits < 20 && seen.size() < sent_to.size(); ++waits) {
        const size_t n = p.ready_set_wait(set, tags, 2, 5000);
        ASSERT_LE(n, 2u);
        seen.insert(seen.end(), tags, tags + n);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, sent_to);

    // Unread, but resting: no wait reports them again until they are armed.
    EXPECT_EQ(p.ready_set_wait(set, tags, 2, 0), 0u);
    ASSERT_EQ(p.ready_set_arm(set, extra_[77], 1077), 0u);
    ASSERT_EQ(p.ready_set_wait(set, tags, 2, 5000), 1u);
    EXPECT_EQ(tags[0], 1077u);

    // A silent set sleeps out its time.
    const double start = wall_seconds();
    const double cpu = thread_cpu_seconds();
    EXPECT_EQ(p.ready_set_wait(set, tags, 2, 300), 0u);
    const double took = wall_seconds() - start;
    EXPECT_GE(took, 0.300 * 0.99);
    const double busy = thread_cpu_seconds() - cpu;
    p.ready_set_close(set);
    expect_slept(busy, took);
}

// ---- The clock ----

// The platform's millisecond clock runs at the rate of the system's steady clock: both measure
// the same stretch, so the ratio holds however long the stretch turns out to be.
TEST(Clock, RunsAtTheSteadyClocksRate) {
    auto& p = system_platform();
    const uint32_t ms_before = p.clock_ms();
    const auto steady_before = std::chrono::steady_clock::now();
    Sleep(500);
    const uint32_t ms = p.clock_ms() - ms_before;
    const double steady =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - steady_before)
            .count();
    EXPECT_GE(ms, 495u);
    EXPECT_NEAR(ms / steady, 1.0, 0.05);
}

// ---- IPX ----

// Modern Windows has no IPX either, but where it is installed the device opens; elsewhere the
// open fails with the system's error and the record holds no socket of anybody else's.
TEST(Ipx, DeviceOpensOrFailsWithTheSystemsError) {
    SocketAddress source;
    ZEBTransport t{};
    ASSERT_EQ(open_loopback_transport(&t, ZEB_PROTOCOL_IPX, &source), 0u);
    ZEBDevice d{};
    const uint32_t opened = ZEBOpenDevice(&t, &d, ZEB_API_VERSION, 100, 0, 0);
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
    EXPECT_EQ(ZEBCloseTransport(&t), 0u);
    if (opened != 0 && under_wine()) {
        GTEST_SKIP() << "Wine has no IPX sockets (error " << opened
                     << "): the IPX path is not tested here";
    }
    if (opened != 0) {
        EXPECT_TRUE(opened == WSAEAFNOSUPPORT || opened == WSAEPROTONOSUPPORT ||
                    opened == WSAESOCKTNOSUPPORT)
            << opened;
    }
}

}  // namespace
}  // namespace zebtest
