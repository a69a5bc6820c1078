// The platform on POSIX: BSD sockets, termios and poll.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "../errors.h"
#include "../platform.h"
#include "serial_names.h"

namespace zeb::plat {
namespace {

// The port's write time-out: 100 ms a byte plus 1000 ms.
constexpr int kSerialPerByteMs = 100;
constexpr int kSerialTotalMs = 1000;

constexpr size_t kStackPollFds = 64;
constexpr size_t kReadyBatch = 64;  // readiness events taken from the system per wait

uint32_t last_socket_error() {
    return winsock_error(errno);
}
uint32_t last_system_error() {
    return system_error(errno);
}

int fd_of(Handle h) {
    return static_cast<int>(h);
}

// A library-layout IPv4 address (family 2, port and address in network order) as sockaddr_in.
bool to_sockaddr(const uint8_t* addr, uint32_t len, sockaddr_in* out) {
    if (len < 8 || (addr[0] | (addr[1] << 8)) != kFamilyInet) return false;
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    std::memcpy(&out->sin_port, addr + 2, 2);
    std::memcpy(&out->sin_addr, addr + 4, 4);
    return true;
}

void from_sockaddr(const sockaddr_in& in, uint8_t* out) {
    std::memset(out, 0, 16);
    out[0] = kFamilyInet;
    std::memcpy(out + 2, &in.sin_port, 2);
    std::memcpy(out + 4, &in.sin_addr, 4);
}

// Whether the spin that precedes a sleep is still on: true while less than the spin budget has
// passed since `start`.
bool spinning_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::steady_clock::now() - start < std::chrono::microseconds(spin_budget_us());
}

int poll_timeout(uint32_t timeout_ms) {
    return static_cast<int>(std::min<uint32_t>(timeout_ms, INT32_MAX));
}

uint32_t elapsed_ms_since(std::chrono::steady_clock::time_point start) {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
}

speed_t baud_constant(uint32_t baud) {
    switch (baud) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return B0;
    }
}

std::mutex g_serial_prefix_mutex;
std::string g_serial_prefix = "/dev/ttyS";

// One-shot readiness: the system reports a handle once and then disables it until re-armed.
uint32_t ready_set_control(Handle set, int op, Handle h, uint32_t tag,
                           uint32_t mode = EPOLLONESHOT) {
    epoll_event ev{};
    ev.events = EPOLLIN | mode;
    ev.data.u32 = tag;
    if (epoll_ctl(fd_of(set), op, fd_of(h), &ev) != 0) return last_socket_error();
    return 0;
}

class PosixPlatform final : public Platform {
  public:
    uint32_t clock_ms() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const uint64_t ms =
            static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);
    }

    uint32_t sockets_start() override { return 0; }
    void sockets_stop() override {}

    uint32_t socket_open(uint16_t family, Handle* out) override {
        if (family != kFamilyInet) return winsock_error(EAFNOSUPPORT);  // no IPX here
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd < 0) return last_socket_error();
        *out = fd;
        return 0;
    }

    uint32_t socket_bind(Handle h, const uint8_t* addr, uint32_t len) override {
        sockaddr_in sa;
        if (!to_sockaddr(addr, len, &sa)) return winsock_error(EAFNOSUPPORT);
        if (::bind(fd_of(h), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_allow_broadcast(Handle h) override {
        const int on = 1;
        if (setsockopt(fd_of(h), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_connect(Handle h, const uint8_t* addr, uint32_t len) override {
        sockaddr_in sa;
        if (!to_sockaddr(addr, len, &sa)) return winsock_error(EAFNOSUPPORT);
        if (::connect(fd_of(h), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_set_nonblocking(Handle h) override {
        const int flags = fcntl(fd_of(h), F_GETFL);
        if (flags < 0 || fcntl(fd_of(h), F_SETFL, flags | O_NONBLOCK) != 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_send(Handle h, const uint8_t* data, uint32_t len) override {
        if (::send(fd_of(h), data, len, MSG_NOSIGNAL) < 0) return last_socket_error();
        return 0;
    }

    uint32_t socket_send_to(Handle h, const uint8_t* data, uint32_t len, const uint8_t* addr,
                            uint32_t addr_len) override {
        sockaddr_in sa;
        if (!to_sockaddr(addr, addr_len, &sa)) return winsock_error(EAFNOSUPPORT);
        if (::sendto(fd_of(h), data, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa),
                     sizeof sa) < 0) {
            return last_socket_error();
        }
        return 0;
    }

    uint32_t socket_receive(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got, uint8_t* from,
                            uint32_t* from_len) override {
        sockaddr_in sa{};
        iovec iov{buf, cap};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        if (from) {
            msg.msg_name = &sa;
            msg.msg_namelen = sizeof sa;
        }
        const ssize_t n = ::recvmsg(fd_of(h), &msg, MSG_DONTWAIT);
        if (n < 0) return last_socket_error();
        // A datagram larger than the buffer is an error, as Winsock reports it.
        if (msg.msg_flags & MSG_TRUNC) return winsock_error(EMSGSIZE);
        *got = static_cast<uint32_t>(n);
        if (from) {
            from_sockaddr(sa, from);
            *from_len = 16;
        }
        return 0;
    }

    uint32_t socket_receive_wait(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got, uint8_t* from,
                                 uint32_t* from_len, uint32_t timeout_ms) override {
        // Each spin step is one receive: it either takes the datagram or says none is there.
        const auto start = std::chrono::steady_clock::now();
        uint32_t err = socket_receive(h, buf, cap, got, from, from_len);
        while (err == kWouldBlock && timeout_ms > 0 && spinning_since(start)) {
            err = socket_receive(h, buf, cap, got, from, from_len);
        }
        if (err != kWouldBlock || timeout_ms == 0) return err;
        const uint32_t spent = elapsed_ms_since(start);
        if (spent >= timeout_ms) return err;
        pollfd pfd{fd_of(h), POLLIN, 0};
        if (::poll(&pfd, 1, poll_timeout(timeout_ms - spent)) <= 0) return kWouldBlock;
        return socket_receive(h, buf, cap, got, from, from_len);
    }

    void socket_set_receive_buffer(Handle h, uint32_t bytes) override {
        // Linux caps the request at net.core.rmem_max (then doubles it for its bookkeeping).
        const int size = static_cast<int>(std::min<uint32_t>(bytes, INT32_MAX));
        setsockopt(fd_of(h), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }

    uint32_t socket_close(Handle h) override {
        if (::close(fd_of(h)) != 0) return last_socket_error();
        return 0;
    }

    void wait_readable(const Handle* handles, size_t count, uint32_t timeout_ms) override {
        if (count == 0) {
            ::poll(nullptr, 0, poll_timeout(timeout_ms));
            return;
        }
        pollfd stack_fds[kStackPollFds];
        std::unique_ptr<pollfd[]> heap_fds;
        pollfd* fds = stack_fds;
        if (count > kStackPollFds) {
            heap_fds.reset(new (std::nothrow) pollfd[count]);
            if (heap_fds) {
                fds = heap_fds.get();
            } else {
                // No memory for them all: watch the first ones and wake often for the rest.
                count = kStackPollFds;
                timeout_ms = std::min<uint32_t>(timeout_ms, 1);
            }
        }
        for (size_t i = 0; i < count; ++i) fds[i] = {fd_of(handles[i]), POLLIN, 0};
        const auto start = std::chrono::steady_clock::now();
        do {
            if (::poll(fds, count, 0) != 0) return;
        } while (timeout_ms > 0 && spinning_since(start));
        const uint32_t spent = elapsed_ms_since(start);
        if (spent < timeout_ms) ::poll(fds, count, poll_timeout(timeout_ms - spent));
    }

    uint32_t ready_set_open(Handle* set) override {
        const int fd = epoll_create1(EPOLL_CLOEXEC);
        if (fd < 0) return last_socket_error();
        *set = fd;
        return 0;
    }

    uint32_t ready_set_add(Handle set, Handle h, uint32_t tag) override {
        return ready_set_control(set, EPOLL_CTL_ADD, h, tag);
    }

    uint32_t ready_set_arm(Handle set, Handle h, uint32_t tag) override {
        return ready_set_control(set, EPOLL_CTL_MOD, h, tag);
    }

    // Edge-triggered: every datagram that arrives reports the socket again.
    uint32_t ready_set_watch_lasting(Handle set, Handle h, uint32_t tag, bool again) override {
        return ready_set_control(set, again ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, h, tag, EPOLLET);
    }

    size_t ready_set_wait(Handle set, uint32_t* tags, size_t capacity,
                          uint32_t timeout_ms) override {
        epoll_event events[kReadyBatch];
        const int room = static_cast<int>(std::min(capacity, kReadyBatch));
        if (room == 0) return 0;
        const auto start = std::chrono::steady_clock::now();
        int n = epoll_wait(fd_of(set), events, room, 0);
        while (n == 0 && timeout_ms > 0 && spinning_since(start)) {
            n = epoll_wait(fd_of(set), events, room, 0);
        }
        if (n == 0 && timeout_ms > 0) {
            const uint32_t spent = elapsed_ms_since(start);
            if (spent < timeout_ms) {
                n = epoll_wait(fd_of(set), events, room, poll_timeout(timeout_ms - spent));
            }
        }
        for (int i = 0; i < n; ++i) tags[i] = events[i].data.u32;
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

    void ready_set_close(Handle set) override { ::close(fd_of(set)); }

    uint32_t serial_open(uint32_t port, Handle* out) override {
        *out = kNoHandle;
        char name[kMaxDeviceName];
        if (!serial_device_name(port, name, sizeof name)) return system_error(ENOENT);
        const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return last_system_error();
        // Not shared: a port held by another open is refused as busy.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const uint32_t err = last_system_error();
            ::close(fd);
            return err;
        }
        *out = fd;
        return 0;
    }

    uint32_t serial_configure(Handle h, const SerialSettings& s) override {
        termios tio{};
        if (tcgetattr(fd_of(h), &tio) != 0) return last_system_error();
        // Frames are binary: no echo, no line editing, no translation of any byte.
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        const speed_t speed = baud_constant(s.baud_rate);
        if (speed == B0 || cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
            return system_error(EINVAL);
        }
        tio.c_cflag &= ~CSIZE;
        switch (s.data_bits) {
            case 5:
                tio.c_cflag |= CS5;
                break;
            case 6:
                tio.c_cflag |= CS6;
                break;
            case 7:
                tio.c_cflag |= CS7;
                break;
            case 8:
                tio.c_cflag |= CS8;
                break;
            default:
                return system_error(EINVAL);
        }
        tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (s.parity) {
            case 0:
                break;
            case 1:
                tio.c_cflag |= PARENB | PARODD;
                break;
            case 2:
                tio.c_cflag |= PARENB;
                break;
            case 3:
                tio.c_cflag |= PARENB | CMSPAR | PARODD;
                break;
            case 4:
                tio.c_cflag |= PARENB | CMSPAR;
                break;
            default:
                return system_error(EINVAL);
        }
        switch (s.stop_bits) {
            case 0:
                tio.c_cflag &= ~CSTOPB;
                break;
            case 1:  // one and a half: the nearest a termios port offers is two
            case 2:
                tio.c_cflag |= CSTOPB;
                break;
            default:
                return system_error(EINVAL);
        }
        if (tcsetattr(fd_of(h), TCSANOW, &tio) != 0) return last_system_error();
        return 0;
    }

    uint32_t serial_read(Handle h, uint8_t* buf, uint32_t len, uint32_t* got,
                         uint32_t timeout_ms) override {
        *got = 0;
        if (len == 0) return 0;
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const uint32_t spent = elapsed_ms_since(start);
            const int budget = static_cast<int>(
                std::min<uint32_t>(spent < timeout_ms ? timeout_ms - spent : 0, INT32_MAX));
            pollfd pfd{fd_of(h), POLLIN, 0};
            const int ready = ::poll(&pfd, 1, budget);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return last_system_error();
            }
            if (ready == 0) return 0;
            const ssize_t n = ::read(fd_of(h), buf, len);
            if (n > 0) {
                *got = static_cast<uint32_t>(n);
                return 0;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return last_system_error();
            if (n == 0) {
                // Hang-up: nothing more will come, and the port stays readable; sleep out
                // the wait rather than let the caller spin on it.
                if (budget > 0) ::poll(nullptr, 0, budget);
                return 0;
            }
            if (budget == 0) return 0;
        }
    }

    uint32_t serial_write(Handle h, const uint8_t* data, uint32_t len) override {
        uint32_t done = 0;
        while (done < len) {
            const ssize_t n = ::write(fd_of(h), data + done, len - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) {
                    pollfd pfd{fd_of(h), POLLOUT, 0};
                    if (::poll(&pfd, 1, kSerialTotalMs + kSerialPerByteMs * int(len)) <= 0) {
                        return 1460;  // ERROR_TIMEOUT: the write time-out ran out
                    }
                    continue;
                }
                return last_system_error();
            }
            done += static_cast<uint32_t>(n);
        }
        return 0;
    }

    uint32_t serial_close(Handle h) override {
        if (::close(fd_of(h)) != 0) return last_system_error();
        return 0;
    }
};

PosixPlatform g_system;

}  // namespace

bool serial_device_name(uint32_t port, char* out, size_t capacity) noexcept {
    if (port == 0) return false;
    std::lock_guard lock(g_serial_prefix_mutex);
    const int n = std::snprintf(out, capacity, "%s%u", g_serial_prefix.c_str(), port - 1);
    return n > 0 && static_cast<size_t>(n) < capacity;
}

void set_serial_device_prefix(const std::string& prefix) {
    std::lock_guard lock(g_serial_prefix_mutex);
    g_serial_prefix = prefix;
}

Platform& system_platform() noexcept {
    return g_system;
}

}  // namespace zeb::plat
