#include "server.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <thread>

#include "pcap_writer.h"

namespace racksim {

namespace {

constexpr int kBurst = 4;  // batches read per wake-up before due replies are looked at

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
}

bool Server::open(std::string* error) {
    if (socket_.is_open()) return true;
    if (!socket_.open(options_.port, error)) return false;
    port_ = socket_.port();
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
    socket_.wake();
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
    if (!socket_.is_open()) return;
    while (!stopping_.load()) {
        if (queue_.empty()) {
            // No reply due later: sleep in the receive, as a module's own stack does, and
            // serve what came.
            const size_t n = read_soon();
            if (stopping_.load()) break;
            const auto arrived = SteadyTime::now();
            for (size_t i = 0; i < n; ++i) serve(socket_.at(i), arrived);
            flush_replies();
            continue;
        }
        int timeout = -1;
        if (!queue_.empty()) {
            const auto wait = queue_.next_due() - SteadyTime::now();
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
            timeout = ms <= 0 ? 0 : static_cast<int>(std::min<long long>(ms, INT_MAX));
        }
        const RackSocket::Ready ready = socket_.wait(timeout);
        if (ready == RackSocket::Ready::failed) break;
        if (stopping_.load()) break;
        if (ready == RackSocket::Ready::datagrams) {
            for (int i = 0; i < kBurst; ++i) {
                if (!receive_batch()) break;
            }
        }
        send_due();
        flush_replies();
    }
}

// With nothing to read, the loop may look again for a while before it sleeps, as a module's own
// stack never sleeps: on loopback, waking a sleeping receiver costs the sender more than the
// request does, so a client sending to many modules in a row would pay for RackSim's sleep with
// each one. Not on one processor, where looking would only hold the sender off.
size_t Server::read_soon() {
    static const bool alone = std::thread::hardware_concurrency() <= 1;
    if (!alone && options_.busy_poll.count() > 0) {
        const auto until = SteadyTime::now() + options_.busy_poll;
        do {
            if (const size_t n = socket_.read(false)) return n;
        } while (SteadyTime::now() < until && !stopping_.load(std::memory_order_relaxed));
    }
    return socket_.read(true);
}

bool Server::receive_batch() {
    const size_t n = socket_.read(false);
    const auto arrived = SteadyTime::now();
    for (size_t i = 0; i < n; ++i) serve(socket_.at(i), arrived);
    // A request's reply leaves before the next batch is read.
    flush_replies();
    return n == RackSocket::kBatch;
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
                socket_.add(r.from_ip, d.from_ip, d.from_port, r.bytes.data(), r.bytes.size(),
                            on_send_failure_);
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
        socket_.add(p.from_ip, p.to_ip, p.to_port, p.bytes.data(), p.bytes.size(),
                    on_send_failure_);
    }
}

void Server::flush_replies() {
    const size_t sent = socket_.flush(on_send_failure_);
    if (sent == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.sent += sent;
}

}  // namespace racksim
