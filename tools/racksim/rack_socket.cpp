// One socket bound to every local address serves the whole rack: the address a request
// reached and the one its reply leaves from travel as packet info (udp_batch.h).
#include "rack_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "udp_batch.h"

namespace racksim {

namespace {

// A rack's socket takes the requests of every module: room for a burst from a thousand hosts'
// requests, or one host's to a thousand modules. The system may grant less.
constexpr int kReceiveBuffer = 8 << 20;

static_assert(RackSocket::kBatch == ReceiveBatch::kSize);

}  // namespace

struct RackSocket::Parts {
    int fd = -1;
    int wake[2] = {-1, -1};  // self-pipe: wake() writes, wait() polls
    uint16_t port = 0;
    ReceiveBatch incoming;
    SendBatch outgoing;
};

RackSocket::RackSocket() : parts_(std::make_unique<Parts>()) {}

RackSocket::~RackSocket() {
    if (parts_->fd >= 0) close(parts_->fd);
    for (int fd : parts_->wake) {
        if (fd >= 0) close(fd);
    }
}

bool RackSocket::open(uint16_t port, std::string* error) {
    Parts& p = *parts_;
    if (p.fd >= 0) return true;
    auto fail = [&](const std::string& what) {
        if (error) *error = what;
        if (p.fd >= 0) close(p.fd);
        p.fd = -1;
        return false;
    };
    // Blocking: the loop sleeps in the receive itself when no reply is due later; every other
    // read says it does not wait.
    p.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (p.fd < 0) return fail(std::string("cannot create a UDP socket: ") + std::strerror(errno));
    const int on = 1;
    if (setsockopt(p.fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        return fail(std::string("cannot enable IP_PKTINFO: ") + std::strerror(errno));
    }
    // Beyond the system's cap where the process may (root), else as far as the cap allows.
    if (setsockopt(p.fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0) {
        setsockopt(p.fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(p.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        const std::string which = "port " + std::to_string(port);
        if (err == EADDRINUSE) return fail(which + " is already in use");
        return fail("cannot bind " + which + ": " + std::strerror(err));
    }
    socklen_t len = sizeof addr;
    if (getsockname(p.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return fail(std::string("cannot read the bound port: ") + std::strerror(errno));
    }
    p.port = ntohs(addr.sin_port);
    if (p.wake[0] < 0 && pipe2(p.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return fail(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    return true;
}

bool RackSocket::is_open() const {
    return parts_->fd >= 0;
}

uint16_t RackSocket::port() const {
    return parts_->port;
}

size_t RackSocket::read(bool wait) {
    return parts_->incoming.read(parts_->fd, wait);
}

Received RackSocket::at(size_t i) const {
    return parts_->incoming.at(i);
}

RackSocket::Ready RackSocket::wait(int timeout_ms) {
    Parts& p = *parts_;
    pollfd fds[2] = {{p.fd, POLLIN, 0}, {p.wake[0], POLLIN, 0}};
    const int ready = poll(fds, 2, timeout_ms);
    if (ready < 0 && errno != EINTR) return Ready::failed;
    if (ready > 0 && (fds[1].revents & POLLIN)) {
        char drain[16];
        while (::read(p.wake[0], drain, sizeof drain) > 0) {
        }
    }
    return ready > 0 && (fds[0].revents & POLLIN) ? Ready::datagrams : Ready::nothing;
}

void RackSocket::wake() {
    Parts& p = *parts_;
    if (p.wake[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] ssize_t n = write(p.wake[1], &b, 1);
    }
    // Wakes a loop asleep in the receive: the socket takes nothing more.
    if (p.fd >= 0) shutdown(p.fd, SHUT_RD);
}

void RackSocket::add(uint32_t from_ip, uint32_t to_ip, uint16_t to_port, const uint8_t* data,
                     size_t len, const Failure& failed) {
    parts_->outgoing.add(parts_->fd, from_ip, to_ip, to_port, data, len, failed);
}

size_t RackSocket::flush(const Failure& failed) {
    return parts_->outgoing.flush(parts_->fd, failed);
}

}  // namespace racksim
