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

#include "pcap_writer.h"

namespace racksim {

namespace {

constexpr int kBurst = 4;  // batches read per wake-up before due replies are looked at
// A rack's socket takes the requests of every module: room for a burst from a thousand hosts'
// requests, or one host's to a thousand modules. The system may grant less.
constexpr int kReceiveBuffer = 8 << 20;

bool is_loopback(uint32_t ip) {
    return (ip >> 24) == 127;
}

std::string endpoint_text(uint32_t ip, uint16_t port) {
    return ip_text(ip) + ":" + std::to_string(port);
}

}  // namespace

Server::Server(Rack rack, ServerOptions options)
    : rack_(std::move(rack)), options_(std::move(options)) {
    on_send_failure_ = [this](uint32_t from_ip, uint32_t to_ip, uint16_t to_port, int err) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stats_.send_errors;
        if (logging_) {
            log("reply from " + ip_text(from_ip) + " to " + endpoint_text(to_ip, to_port) +
                " not sent: " + std::strerror(err));
        }
    };
    update_logging();
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
    // Blocking: the loop sleeps in the receive itself when no reply is due later; every other
    // read says it does not wait.
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return fail(std::string("cannot create a UDP socket: ") + std::strerror(errno));
    const int on = 1;
    if (setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        return fail(std::string("cannot enable IP_PKTINFO: ") + std::strerror(errno));
    }
    // Beyond the system's cap where the process may (root), else as far as the cap allows.
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0) {
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
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
    // Wakes a loop asleep in the receive: the socket takes nothing more.
    if (fd_ >= 0) shutdown(fd_, SHUT_RD);
}

void Server::stop() {
    request_stop();
    if (thread_.joinable()) thread_.join();
}

void Server::set_log_tap(LogSink tap) {
    std::lock_guard<std::mutex> lock(mutex_);
    tap_ = std::move(tap);
    update_logging();
}

void Server::update_logging() {
    logging_ = options_.log || tap_;
    // Without a log the rack builds no log text at all.
    if (logging_) {
        rack_.set_log([this](const std::string& line) { log(sender_ + " -> " + line); });
    } else {
        rack_.set_log(nullptr);
    }
}

void Server::log(const std::string& line) {
    if (options_.log) options_.log(line);
    if (tap_) tap_(line);
}

ServerStats Server::stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

void Server::run() {
    if (fd_ < 0) return;
    while (!stopping_.load()) {
        if (queue_.empty()) {
            // No reply due later: sleep in the receive, as a module's own stack does, and
            // serve what came.
            const size_t n = incoming_.read(fd_, true);
            if (stopping_.load()) break;
            const auto arrived = SteadyTime::now();
            for (size_t i = 0; i < n; ++i) serve(incoming_.at(i), arrived);
            flush_replies();
            continue;
        }
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
                if (!receive_batch()) break;
            }
        }
        send_due();
        flush_replies();
    }
}

bool Server::receive_batch() {
    const size_t n = incoming_.read(fd_, false);
    const auto arrived = SteadyTime::now();
    for (size_t i = 0; i < n; ++i) serve(incoming_.at(i), arrived);
    // A request's reply leaves before the next batch is read.
    flush_replies();
    return n == ReceiveBatch::kSize;
}

void Server::serve(const Received& d, SteadyTime::time_point arrived) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++stats_.received;
        count_rate(arrived);
        if (logging_) sender_ = endpoint_text(d.from_ip, d.from_port);
        if (!options_.allow_remote && !is_loopback(d.from_ip)) {
            ++stats_.refused_remote;
            if (logging_) log(sender_ + " -> refused: sender outside loopback");
            return;
        }
        if (d.truncated || d.to_ip == 0 || !d.inet) {
            if (logging_) log(sender_ + " -> dropped: unusable datagram");
            return;
        }
        if (options_.capture) {
            options_.capture->write(d.from_ip, d.from_port, d.to_ip, port_, d.data, d.len);
        }
        rack_.handle(d.to_ip, d.data, d.len, replies_);
    }
    for (const Outgoing& r : replies_) {
        if (r.delay_ms == 0) {
            // Due now: leaves with the batch, without a copy into the queue.
            if (options_.allow_remote || is_loopback(d.from_ip)) {
                if (options_.capture) {
                    options_.capture->write(r.from_ip, port_, d.from_ip, d.from_port,
                                            r.bytes.data(), r.bytes.size());
                }
                outgoing_.add(fd_, r.from_ip, d.from_ip, d.from_port, r.bytes.data(),
                              r.bytes.size(), on_send_failure_);
            }
            continue;
        }
        Pending p;
        p.due = arrived + std::chrono::milliseconds(r.delay_ms);
        p.from_ip = r.from_ip;
        p.to_ip = d.from_ip;
        p.to_port = d.from_port;
        p.bytes = r.bytes;
        queue_.push(std::move(p));
    }
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
    while (queue_.pop_due(SteadyTime::now(), &p)) {
        if (!options_.allow_remote && !is_loopback(p.to_ip)) continue;  // never leaves loopback
        if (options_.capture) {
            options_.capture->write(p.from_ip, port_, p.to_ip, p.to_port, p.bytes.data(),
                                    p.bytes.size());
        }
        outgoing_.add(fd_, p.from_ip, p.to_ip, p.to_port, p.bytes.data(), p.bytes.size(),
                      on_send_failure_);
    }
}

void Server::flush_replies() {
    const size_t sent = outgoing_.flush(fd_, on_send_failure_);
    if (sent == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.sent += sent;
}

}  // namespace racksim
