// What the benchmark measures with: clocks, processor time, heap allocations on this thread,
// a counting platform, and the medians that make one run's figures.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/platform/platform.h"
#include "thread_allocations.h"

namespace bench {

inline double now_us() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Processor time of the calling thread, user and system, in seconds.
inline double thread_cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Heap allocations made by the calling thread so far (operator new and malloc alike).
inline uint64_t allocations() {
    return zebtest::thread_allocations();
}

// One figure of the run, printed as "name value" for scripts/bench to collect.
inline void report(const char* name, double value) {
    std::printf("%s %.6g\n", name, value);
    std::fflush(stdout);
}

// The system's platform with its receives counted: how often the library asked a socket for a
// datagram, whether one was there or not.
class CountingPlatform final : public zeb::plat::Platform {
  public:
    using Handle = zeb::plat::Handle;
    explicit CountingPlatform(zeb::plat::Platform& inner) : p_(inner) {}
    uint64_t receives = 0;

    uint32_t clock_ms() override { return p_.clock_ms(); }
    uint32_t sockets_start() override { return p_.sockets_start(); }
    void sockets_stop() override { p_.sockets_stop(); }
    uint32_t socket_open(uint16_t family, Handle* out) override {
        return p_.socket_open(family, out);
    }
    uint32_t socket_bind(Handle h, const uint8_t* a, uint32_t n) override {
        return p_.socket_bind(h, a, n);
    }
    uint32_t socket_allow_broadcast(Handle h) override { return p_.socket_allow_broadcast(h); }
    uint32_t socket_connect(Handle h, const uint8_t* a, uint32_t n) override {
        return p_.socket_connect(h, a, n);
    }
    uint32_t socket_set_nonblocking(Handle h) override { return p_.socket_set_nonblocking(h); }
    uint32_t socket_send(Handle h, const uint8_t* d, uint32_t n) override {
        return p_.socket_send(h, d, n);
    }
    uint32_t socket_send_to(Handle h, const uint8_t* d, uint32_t n, const uint8_t* a,
                            uint32_t an) override {
        return p_.socket_send_to(h, d, n, a, an);
    }
    uint32_t socket_receive(Handle h, uint8_t* b, uint32_t c, uint32_t* g, uint8_t* f,
                            uint32_t* fl) override {
        ++receives;
        return p_.socket_receive(h, b, c, g, f, fl);
    }
    uint32_t socket_receive_wait(Handle h, uint8_t* b, uint32_t c, uint32_t* g, uint8_t* f,
                                 uint32_t* fl, uint32_t ms) override {
        ++receives;
        return p_.socket_receive_wait(h, b, c, g, f, fl, ms);
    }
    void socket_set_receive_buffer(Handle h, uint32_t bytes) override {
        p_.socket_set_receive_buffer(h, bytes);
    }
    uint32_t socket_close(Handle h) override { return p_.socket_close(h); }
    void wait_readable(const Handle* hs, size_t n, uint32_t ms) override {
        p_.wait_readable(hs, n, ms);
    }
    uint32_t ready_set_open(Handle* set) override { return p_.ready_set_open(set); }
    uint32_t ready_set_add(Handle set, Handle h, uint32_t tag) override {
        return p_.ready_set_add(set, h, tag);
    }
    uint32_t ready_set_arm(Handle set, Handle h, uint32_t tag) override {
        return p_.ready_set_arm(set, h, tag);
    }
    uint32_t ready_set_watch_lasting(Handle set, Handle h, uint32_t tag, bool again) override {
        return p_.ready_set_watch_lasting(set, h, tag, again);
    }
    size_t ready_set_wait(Handle set, uint32_t* tags, size_t cap, uint32_t ms) override {
        return p_.ready_set_wait(set, tags, cap, ms);
    }
    void ready_set_close(Handle set) override { p_.ready_set_close(set); }
    uint32_t serial_open(uint32_t port, Handle* out) override { return p_.serial_open(port, out); }
    uint32_t serial_configure(Handle h, const zeb::plat::SerialSettings& s) override {
        return p_.serial_configure(h, s);
    }
    uint32_t serial_read(Handle h, uint8_t* b, uint32_t n, uint32_t* g, uint32_t ms) override {
        return p_.serial_read(h, b, n, g, ms);
    }
    uint32_t serial_write(Handle h, const uint8_t* d, uint32_t n) override {
        return p_.serial_write(h, d, n);
    }
    uint32_t serial_close(Handle h) override { return p_.serial_close(h); }

  private:
    zeb::plat::Platform& p_;
};

}  // namespace bench
