// The platform on Windows: Winsock 2, the Win32 serial-port services and the performance
// counter. Results are the system's own WSAGetLastError / GetLastError numbers.

// Room for more sockets in one select() than Winsock's default of 64.
#define FD_SETSIZE 1024
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "../platform.h"

namespace zeb::plat {
namespace {

// The port's time-outs: 1000 ms between two bytes, 100 ms a byte plus 1000 ms in all.
constexpr DWORD kSerialIntervalMs = 1000;
constexpr DWORD kSerialPerByteMs = 100;
constexpr DWORD kSerialTotalMs = 1000;

// How often a wait that includes serial ports looks at their receive queues.
constexpr DWORD kSerialPollMs = 1;

constexpr uint16_t kIpxProtocol = 1000;  // NSPROTO_IPX
constexpr int kIpxAddressSize = 14;
constexpr uint32_t kAddressFamilyNotSupported = WSAEAFNOSUPPORT;

SOCKET socket_of(Handle h) {
    return static_cast<SOCKET>(h);
}
HANDLE port_of(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}

uint32_t last_socket_error() {
    return static_cast<uint32_t>(WSAGetLastError());
}
uint32_t last_system_error() {
    return static_cast<uint32_t>(GetLastError());
}

uint64_t counter_frequency() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? static_cast<uint64_t>(f.QuadPart) : 1u;
    }();
    return frequency;
}

uint64_t counter_now() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<uint64_t>(c.QuadPart);
}

// Counter ticks as a duration in `unit`s per second, without the overflow that
// ticks * unit would reach after some days of uptime.
uint64_t ticks_to(uint64_t ticks, uint64_t unit) {
    const uint64_t f = counter_frequency();
    return ticks / f * unit + ticks % f * unit / f;
}

// Whether the spin that precedes a sleep is still on.
bool spinning_since(uint64_t start) {
    return ticks_to(counter_now() - start, 1000000) < spin_budget_us();
}

uint32_t ms_since(uint64_t start) {
    return static_cast<uint32_t>(ticks_to(counter_now() - start, 1000));
}

// A library-layout address (u16 family first, then the family's fields in network order) as
// the system's socket address. Both layouts agree byte for byte; this only checks the family
// and the length, and gives the system the length it expects.
bool to_system_address(const uint8_t* addr, uint32_t len, sockaddr_storage* out, int* out_len) {
    if (len < 2) return false;
    const uint16_t family = static_cast<uint16_t>(addr[0] | (addr[1] << 8));
    std::memset(out, 0, sizeof *out);
    if (family == kFamilyInet) {
        if (len < 8) return false;
        auto* in = reinterpret_cast<sockaddr_in*>(out);
        in->sin_family = AF_INET;
        std::memcpy(&in->sin_port, addr + 2, 2);
        std::memcpy(&in->sin_addr, addr + 4, 4);
        *out_len = sizeof(sockaddr_in);
        return true;
    }
    if (family == kFamilyIpx) {
        if (len < kIpxAddressSize) return false;
        std::memcpy(out, addr, kIpxAddressSize);
        *out_len = kIpxAddressSize;
        return true;
    }
    return false;
}

// The sender's address in the library's layout; returns its size (16 for IP, 14 for IPX).
uint32_t from_system_address(const sockaddr_storage& sa, int sa_len, uint8_t* out) {
    std::memset(out, 0, 16);
    if (sa.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(sa);
        out[0] = kFamilyInet;
        std::memcpy(out + 2, &in.sin_port, 2);
        std::memcpy(out + 4, &in.sin_addr, 4);
        return 16;
    }
    const int n = std::clamp(sa_len, 0, 16);
    std::memcpy(out, &sa, static_cast<size_t>(n));
    return static_cast<uint32_t>(n);
}

// The serial ports this platform opened: a wait tells them from sockets by this list.
class OpenPorts {
  public:
    bool add(Handle h) noexcept {
        try {
            std::lock_guard lock(mutex_);
            ports_.insert(h);
            return true;
        } catch (...) {
            return false;
        }
    }
    void remove(Handle h) {
        std::lock_guard lock(mutex_);
        ports_.erase(h);
    }
    bool contains(Handle h) {
        std::lock_guard lock(mutex_);
        return ports_.count(h) != 0;
    }

  private:
    std::mutex mutex_;
    std::set<Handle> ports_;
};

OpenPorts g_ports;

// Whether a serial port has received bytes not yet read.
bool port_has_bytes(Handle h) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(port_of(h), &errors, &status) && status.cbInQue > 0;
}

// A readiness set: its armed sockets go to WSAPoll in one array, kept at its front, so that a
// resting socket cannot end a wait; serial ports, which WSAPoll cannot watch, are looked at
// between short sleeps. Sets are kept per thread once made, so that a call that opens one
// allocates nothing after the first.
struct ReadySet {
    std::vector<WSAPOLLFD> sockets;  // the first `armed` are armed
    std::vector<uint32_t> socket_tags;
    size_t armed = 0;
    std::vector<Handle> ports;
    std::vector<uint32_t> port_tags;
    std::vector<bool> port_armed;

    void clear() {
        sockets.clear();
        socket_tags.clear();
        armed = 0;
        ports.clear();
        port_tags.clear();
        port_armed.clear();
    }
    size_t socket_index(Handle h) const {
        for (size_t i = 0; i < sockets.size(); ++i) {
            if (sockets[i].fd == socket_of(h)) return i;
        }
        return SIZE_MAX;
    }
    size_t port_index(Handle h) const {
        const auto it = std::find(ports.begin(), ports.end(), h);
        return it == ports.end() ? SIZE_MAX : static_cast<size_t>(it - ports.begin());
    }
    void swap_sockets(size_t i, size_t j) {
        std::swap(sockets[i], sockets[j]);
        std::swap(socket_tags[i], socket_tags[j]);
    }
    uint32_t add(Handle h, uint32_t tag) {
        if (socket_index(h) != SIZE_MAX || port_index(h) != SIZE_MAX) return WSAEINVAL;
        if (g_ports.contains(h)) {
            ports.push_back(h);
            port_tags.push_back(tag);
            port_armed.push_back(true);
            return 0;
        }
        sockets.push_back({socket_of(h), POLLRDNORM, 0});
        socket_tags.push_back(tag);
        swap_sockets(armed++, sockets.size() - 1);
        return 0;
    }
    uint32_t arm(Handle h, uint32_t tag) {
        if (const size_t i = port_index(h); i != SIZE_MAX) {
            port_tags[i] = tag;
            port_armed[i] = true;
            return 0;
        }
        const size_t i = socket_index(h);
        if (i == SIZE_MAX) return WSAENOTSOCK;
        socket_tags[i] = tag;
        if (i >= armed) swap_sockets(armed++, i);
        return 0;
    }
    // Writes the tags of readable armed handles and lets them rest; returns how many.
    size_t ready(uint32_t* tags, size_t capacity, INT wait_ms) {
        size_t n = 0;
        for (size_t i = 0; i < ports.size() && n < capacity; ++i) {
            if (port_armed[i] && port_has_bytes(ports[i])) {
                port_armed[i] = false;
                tags[n++] = port_tags[i];
            }
        }
        if (n > 0) wait_ms = 0;
        if (armed == 0) {
            if (wait_ms > 0) Sleep(static_cast<DWORD>(wait_ms));
            return n;
        }
        // An error (a socket closed under the wait) is reported like readiness, so that the
        // caller's receive meets it.
        const int polled = WSAPoll(sockets.data(), static_cast<ULONG>(armed), wait_ms);
        if (polled == 0) return n;
        for (size_t i = 0; i < armed && n < capacity;) {
            if (polled > 0 && sockets[i].revents == 0) {
                ++i;
                continue;
            }
            tags[n++] = socket_tags[i];
            swap_sockets(i, --armed);  // rests; the one swapped in is looked at next
        }
        return n;
    }
};

// The sets a thread keeps for its next open. A set closed while the thread ends (one the
// library kept from call to call) is freed rather than kept, once the spares are gone.
struct SpareSets {
    std::vector<std::unique_ptr<ReadySet>> sets;
    ~SpareSets();
};
thread_local bool t_spare_sets_gone = false;
thread_local SpareSets t_spares;
SpareSets::~SpareSets() {
    t_spare_sets_gone = true;
}

class Win32Platform final : public Platform {
  public:
    uint32_t clock_ms() override { return static_cast<uint32_t>(ticks_to(counter_now(), 1000)); }

    uint32_t sockets_start() override {
        WSADATA data;
        return static_cast<uint32_t>(WSAStartup(MAKEWORD(2, 0), &data));
    }
    void sockets_stop() override { WSACleanup(); }

    uint32_t socket_open(uint16_t family, Handle* out) override {
        SOCKET s = INVALID_SOCKET;
        if (family == kFamilyInet) {
            s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        } else if (family == kFamilyIpx) {
            s = ::socket(kFamilyIpx, SOCK_DGRAM, kIpxProtocol);
        } else {
            return kAddressFamilyNotSupported;
        }
        if (s == INVALID_SOCKET) return last_socket_error();
        // Not inherited by programs that the host starts.
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        *out = static_cast<Handle>(s);
        return 0;
    }

    uint32_t socket_bind(Handle h, const uint8_t* addr, uint32_t len) override {
        sockaddr_storage sa;
        int sa_len = 0;
        if (!to_system_address(addr, len, &sa, &sa_len)) return kAddressFamilyNotSupported;
        if (::bind(socket_of(h), reinterpret_cast<sockaddr*>(&sa), sa_len) != 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_allow_broadcast(Handle h) override {
        const BOOL on = TRUE;
        if (setsockopt(socket_of(h), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                       sizeof on) != 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_connect(Handle h, const uint8_t* addr, uint32_t len) override {
        sockaddr_storage sa;
        int sa_len = 0;
        if (!to_system_address(addr, len, &sa, &sa_len)) return kAddressFamilyNotSupported;
        if (::connect(socket_of(h), reinterpret_cast<sockaddr*>(&sa), sa_len) != 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_set_nonblocking(Handle h) override {
        u_long on = 1;
        if (ioctlsocket(socket_of(h), FIONBIO, &on) != 0) return last_socket_error();
        return 0;
    }

    uint32_t socket_send(Handle h, const uint8_t* data, uint32_t len) override {
        if (::send(socket_of(h), reinterpret_cast<const char*>(data), static_cast<int>(len), 0) ==
            SOCKET_ERROR) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_send_to(Handle h, const uint8_t* data, uint32_t len, const uint8_t* addr,
                            uint32_t addr_len) override {
        sockaddr_storage sa;
        int sa_len = 0;
        if (!to_system_address(addr, addr_len, &sa, &sa_len)) return kAddressFamilyNotSupported;
        if (::sendto(socket_of(h), reinterpret_cast<const char*>(data), static_cast<int>(len), 0,
                     reinterpret_cast<sockaddr*>(&sa), sa_len) == SOCKET_ERROR) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_receive(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got, uint8_t* from,
                            uint32_t* from_len) override {
        sockaddr_storage sa{};
        int sa_len = sizeof sa;
        // A datagram larger than the buffer fails with WSAEMSGSIZE and is dropped.
        const int n =
            ::recvfrom(socket_of(h), reinterpret_cast<char*>(buf),
                       static_cast<int>(std::min<uint32_t>(cap, INT32_MAX)), 0,
                       from ? reinterpret_cast<sockaddr*>(&sa) : nullptr, from ? &sa_len : nullptr);
        if (n == SOCKET_ERROR) return last_socket_error();
        *got = static_cast<uint32_t>(n);
        if (from) *from_len = from_system_address(sa, sa_len, from);
        return 0;
    }

    uint32_t socket_receive_wait(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got, uint8_t* from,
                                 uint32_t* from_len, uint32_t timeout_ms) override {
        // Each spin step is one receive: it either takes the datagram or says none is there.
        const uint64_t start = counter_now();
        uint32_t err = socket_receive(h, buf, cap, got, from, from_len);
        while (err == WSAEWOULDBLOCK && timeout_ms > 0 && spinning_since(start)) {
            err = socket_receive(h, buf, cap, got, from, from_len);
        }
        if (err != WSAEWOULDBLOCK || timeout_ms == 0) return err;
        const uint32_t spent = ms_since(start);
        if (spent >= timeout_ms) return err;
        WSAPOLLFD pfd{socket_of(h), POLLRDNORM, 0};
        const INT wait_ms = static_cast<INT>(std::min<uint32_t>(timeout_ms - spent, INT32_MAX));
        if (WSAPoll(&pfd, 1, wait_ms) <= 0) return WSAEWOULDBLOCK;
        return socket_receive(h, buf, cap, got, from, from_len);
    }

    void socket_set_receive_buffer(Handle h, uint32_t bytes) override {
        const int size = static_cast<int>(std::min<uint32_t>(bytes, INT32_MAX));
        setsockopt(socket_of(h), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size),
                   sizeof size);
    }

    uint32_t ready_set_open(Handle* set) override {
        std::unique_ptr<ReadySet> made;
        if (!t_spare_sets_gone && !t_spares.sets.empty()) {
            made = std::move(t_spares.sets.back());
            t_spares.sets.pop_back();
        } else {
            made.reset(new (std::nothrow) ReadySet);
            if (!made) return ERROR_NOT_ENOUGH_MEMORY;
        }
        made->clear();
        *set = reinterpret_cast<Handle>(made.release());
        return 0;
    }

    uint32_t ready_set_add(Handle set, Handle h, uint32_t tag) override {
        try {
            return reinterpret_cast<ReadySet*>(set)->add(h, tag);
        } catch (...) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }

    uint32_t ready_set_arm(Handle set, Handle h, uint32_t tag) override {
        return reinterpret_cast<ReadySet*>(set)->arm(h, tag);
    }

    size_t ready_set_wait(Handle set, uint32_t* tags, size_t capacity,
                          uint32_t timeout_ms) override {
        ReadySet& s = *reinterpret_cast<ReadySet*>(set);
        if (capacity == 0) return 0;
        const uint64_t start = counter_now();
        size_t n = s.ready(tags, capacity, 0);
        while (n == 0 && timeout_ms > 0 && spinning_since(start)) n = s.ready(tags, capacity, 0);
        // Serial ports are looked at every few milliseconds; sockets wake the wait at once.
        for (;;) {
            const uint32_t spent = ms_since(start);
            if (n > 0 || spent >= timeout_ms) return n;
            uint32_t slice = timeout_ms - spent;
            if (!s.ports.empty()) slice = std::min<uint32_t>(slice, kSerialPollMs);
            n = s.ready(tags, capacity, static_cast<INT>(std::min<uint32_t>(slice, INT32_MAX)));
        }
    }

    void ready_set_close(Handle set) override {
        std::unique_ptr<ReadySet> s(reinterpret_cast<ReadySet*>(set));
        if (t_spare_sets_gone) return;
        try {
            t_spares.sets.push_back(std::move(s));
        } catch (...) {
            // Not kept for later: freed here.
        }
    }

    uint32_t socket_close(Handle h) override {
        if (::closesocket(socket_of(h)) != 0) return last_socket_error();
        return 0;
    }

    void wait_readable(const Handle* handles, size_t count, uint32_t timeout_ms) override {
        if (count == 0) {
            Sleep(timeout_ms);
            return;
        }
        // Sockets go to select(); serial ports are looked at between short sleeps.
        fd_set watched;
        FD_ZERO(&watched);
        bool any_port = false;
        for (size_t i = 0; i < count; ++i) {
            if (g_ports.contains(handles[i])) {
                any_port = true;
            } else if (watched.fd_count < FD_SETSIZE) {
                FD_SET(socket_of(handles[i]), &watched);
            } else {
                timeout_ms = std::min<uint32_t>(timeout_ms, 1);  // wake often for the rest
            }
        }
        auto ready = [&](DWORD wait_ms) {
            for (size_t i = 0; any_port && i < count; ++i) {
                if (g_ports.contains(handles[i]) && port_has_bytes(handles[i])) return true;
            }
            if (watched.fd_count == 0) {
                if (wait_ms) Sleep(wait_ms);
                return false;
            }
            fd_set readable = watched;
            timeval tv{static_cast<long>(wait_ms / 1000), static_cast<long>(wait_ms % 1000) * 1000};
            // An error (a socket closed under the wait) ends the wait like readiness does.
            return select(0, &readable, nullptr, nullptr, &tv) != 0;
        };
        const uint64_t start = counter_now();
        auto spent_us = [&] { return ticks_to(counter_now() - start, 1000000); };
        do {
            if (ready(0)) return;
        } while (timeout_ms > 0 && spent_us() < spin_budget_us());
        for (;;) {
            const uint64_t spent_ms = spent_us() / 1000;
            if (spent_ms >= timeout_ms) return;
            const DWORD left = static_cast<DWORD>(timeout_ms - spent_ms);
            if (ready(any_port ? std::min(left, kSerialPollMs) : left)) return;
            if (!any_port) return;
        }
    }

    uint32_t serial_open(uint32_t port, Handle* out) override {
        *out = kNoHandle;
        // COM1: to COM9: as the classic names; ports above 9 by their device path.
        char name[32];
        if (port == 0 || port > 255) return ERROR_FILE_NOT_FOUND;
        if (port <= 9) {
            std::snprintf(name, sizeof name, "COM%u:", static_cast<unsigned>(port));
        } else {
            std::snprintf(name, sizeof name, "\\\\.\\COM%u", static_cast<unsigned>(port));
        }
        const HANDLE h =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return last_system_error();
        if (!g_ports.add(reinterpret_cast<Handle>(h))) {
            CloseHandle(h);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        *out = reinterpret_cast<Handle>(h);
        return 0;
    }

    uint32_t serial_configure(Handle h, const SerialSettings& s) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(port_of(h), &dcb)) return last_system_error();
        dcb.BaudRate = s.baud_rate;
        dcb.ByteSize = s.data_bits;
        dcb.Parity = s.parity;
        dcb.StopBits = s.stop_bits;
        // Frames are binary, and a port keeps what the last program set: with XON/XOFF left on,
        // those bytes in a frame vanish and a received XOFF stalls every write; null stripping
        // drops zero bytes; an error character replaces bytes; abort-on-error fails every call
        // after a line error until it is cleared. Hardware handshake stays as it was.
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(port_of(h), &dcb)) return last_system_error();
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = kSerialIntervalMs;
        t.ReadTotalTimeoutMultiplier = kSerialPerByteMs;
        t.ReadTotalTimeoutConstant = kSerialTotalMs;
        t.WriteTotalTimeoutMultiplier = kSerialPerByteMs;
        t.WriteTotalTimeoutConstant = kSerialTotalMs;
        if (!SetCommTimeouts(port_of(h), &t)) return last_system_error();
        return 0;
    }

    uint32_t serial_read(Handle h, uint8_t* buf, uint32_t len, uint32_t* got,
                         uint32_t timeout_ms) override {
        *got = 0;
        if (len == 0) return 0;
        // Bytes already waiting come back at once; otherwise the read waits for the first
        // byte at most `timeout_ms` and returns with it. With 0 it takes only what is there.
        // The port's write time-outs stay as they were set at open.
        COMMTIMEOUTS t{};
        if (!GetCommTimeouts(port_of(h), &t)) return last_system_error();
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = timeout_ms ? MAXDWORD : 0;
        t.ReadTotalTimeoutConstant = timeout_ms ? std::min<DWORD>(timeout_ms, MAXDWORD - 1) : 0;
        if (!SetCommTimeouts(port_of(h), &t)) return last_system_error();
        DWORD n = 0;
        if (!ReadFile(port_of(h), buf, len, &n, nullptr)) return last_system_error();
        *got = n;
        return 0;
    }

    uint32_t serial_write(Handle h, const uint8_t* data, uint32_t len) override {
        DWORD n = 0;
        if (!WriteFile(port_of(h), data, len, &n, nullptr)) return last_system_error();
        if (n < len) return ERROR_TIMEOUT;  // the write time-out ran out
        return 0;
    }

    uint32_t serial_close(Handle h) override {
        g_ports.remove(h);
        if (!CloseHandle(port_of(h))) return last_system_error();
        return 0;
    }
};

Win32Platform g_system;

}  // namespace

Platform& system_platform() noexcept {
    return g_system;
}

}  // namespace zeb::plat
