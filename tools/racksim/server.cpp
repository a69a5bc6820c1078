#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace racksim {

namespace {

constexpr size_t kMaxDatagram = 65536;
constexpr int kBurst = 64;  // datagrams read per wake-up before due replies are looked at

bool is_loopback(uint32_t ip) {
    return (ip >> 24) == 127;
}

std::string endpoint_text(uint32_t ip, uint16_t port) {
    return ip_text(ip) + ":" + std::to_string(port);
}

// Room for the packet-info control message that names a datagram's local address.
struct PktInfoControl {
    alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))] = {};
};

// A message header for one datagram to or from `peer`, with room for the packet info.
msghdr datagram_header(sockaddr_in* peer, iovec* iov, PktInfoControl* control) {
    msghdr msg{};
    msg.msg_name = peer;
    msg.msg_namelen = sizeof *peer;
    msg.msg_iov = iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control->bytes;
    msg.msg_controllen = sizeof control->bytes;
    return msg;
}

}  // namespace

Server::Server(Rack rack, ServerOptions options)
    : rack_(std::move(rack)), options_(std::move(options)) {
    // Without a log the rack builds no log text at all.
    if (options_.log) {
        rack_.set_log([this](const std::string& line) { options_.log(sender_ + " -> " + line); });
    }
}

Server::~Server() {
    stop();
    if (fd_ >= 0) close(fd_);
    for (int fd : wake_) {
        if (fd >= 0) close(fd);
    }
}

bool Server::open(std::string* error) {
    if (fd_ >= 0) return true;
    auto fail = [&](const std::string& what) {
        if (error) *error = what;
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        return false;
    };
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return fail(std::string("cannot create a UDP socket: ") + std::strerror(errno));
    const int on = 1;
    if (setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        return fail(std::string("cannot enable IP_PKTINFO: ") + std::strerror(errno));
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(options_.port);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        const std::string port = "port " + std::to_string(options_.port);
        if (err == EADDRINUSE) return fail(port + " is already in use");
        return fail("cannot bind " + port + ": " + std::strerror(err));
    }
    socklen_t len = sizeof addr;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return fail(std::string("cannot read the bound port: ") + std::strerror(errno));
    }
    port_ = ntohs(addr.sin_port);
    if (wake_[0] < 0 && pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        return fail(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    return true;
}

bool Server::start(std::string* error) {
    if (thread_.joinable()) return true;
    if (!open(error)) return false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void Server::request_stop() {
    stopping_.store(true);
    if (wake_[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] ssize_t n = write(wake_[1], &b, 1);
    }
}

void Server::stop() {
    request_stop();
    if (thread_.joinable()) thread_.join();
}

ServerStats Server::stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

void Server::run() {
    if (fd_ < 0) return;
    while (!stopping_.load()) {
        int timeout = -1;
        if (!queue_.empty()) {
            const auto wait = queue_.next_due() - SteadyTime::now();
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
            timeout = ms <= 0 ? 0 : static_cast<int>(std::min<long long>(ms, INT_MAX));
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            char drain[16];
            while (read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
        if (stopping_.load()) break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            for (int i = 0; i < kBurst; ++i) {
                if (!receive_one()) break;
            }
        }
        send_due();
    }
}

bool Server::receive_one() {
    static thread_local uint8_t buf[kMaxDatagram];
    sockaddr_in from{};
    PktInfoControl control;
    iovec iov{buf, sizeof buf};
    msghdr msg = datagram_header(&from, &iov, &control);
    const ssize_t n = recvmsg(fd_, &msg, 0);
    if (n < 0) return false;  // nothing more waiting (or a transient error)
    const auto arrived = SteadyTime::now();

    const uint32_t sender = ntohl(from.sin_addr.s_addr);
    const uint16_t sender_port = ntohs(from.sin_port);
    uint32_t dest = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            dest = ntohl(info.ipi_addr.s_addr);
        }
    }

    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stats_.received;
        count_rate(arrived);
        if (options_.log) sender_ = endpoint_text(sender, sender_port);
        if (!options_.allow_remote && !is_loopback(sender)) {
            ++stats_.refused_remote;
            if (options_.log) options_.log(sender_ + " -> refused: sender outside loopback");
            return true;
        }
        if ((msg.msg_flags & MSG_TRUNC) || dest == 0 || from.sin_family != AF_INET) {
            if (options_.log) options_.log(sender_ + " -> dropped: unusable datagram");
            return true;
        }
        rack_.handle(dest, buf, static_cast<size_t>(n), replies_);
    }
    for (const Outgoing& r : replies_) {
        if (r.delay_ms == 0) {
            // Due now: sent at once, without a copy into the queue.
            send_datagram(r.from_ip, sender, sender_port, r.bytes.data(), r.bytes.size());
            continue;
        }
        Pending p;
        p.due = arrived + std::chrono::milliseconds(r.delay_ms);
        p.from_ip = r.from_ip;
        p.to_ip = sender;
        p.to_port = sender_port;
        p.bytes = r.bytes;
        queue_.push(std::move(p));
    }
    return true;
}

void Server::count_rate(SteadyTime::time_point arrived) {
    if (arrived - second_start_ >= std::chrono::seconds(1)) {
        if (this_second_ > 0 && options_.rate) options_.rate(this_second_);
        second_start_ = arrived;
        this_second_ = 0;
    }
    ++this_second_;
    stats_.best_second = std::max(stats_.best_second, this_second_);
}

void Server::send_due() {
    Pending p;
    while (queue_.pop_due(SteadyTime::now(), &p)) send(p);
}

void Server::send(const Pending& p) {
    send_datagram(p.from_ip, p.to_ip, p.to_port, p.bytes.data(), p.bytes.size());
}

void Server::send_datagram(uint32_t from_ip, uint32_t to_ip, uint16_t to_port, const uint8_t* data,
                           size_t len) {
    if (!options_.allow_remote && !is_loopback(to_ip)) return;  // never leaves loopback
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(to_ip);
    to.sin_port = htons(to_port);
    iovec iov{const_cast<uint8_t*>(data), len};
    PktInfoControl control;
    msghdr msg = datagram_header(&to, &iov, &control);
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(from_ip);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);

    const bool ok = sendmsg(fd_, &msg, 0) == static_cast<ssize_t>(len);
    const int err = errno;
    std::lock_guard<std::mutex> lock(mutex_);
    if (ok) {
        ++stats_.sent;
        return;
    }
    ++stats_.send_errors;
    if (options_.log) {
        options_.log("reply from " + ip_text(from_ip) + " to " + endpoint_text(to_ip, to_port) +
                     " not sent: " + std::strerror(err));
    }
}

}  // namespace racksim
