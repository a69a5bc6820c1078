#include "sim_network.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace zebtest {
namespace {

// Winsock numbers the simulated sockets report, as the real socket layer would.
constexpr uint32_t kNotASocket = 10038;     // WSAENOTSOCK
constexpr uint32_t kAccessDenied = 10013;   // WSAEACCES: broadcast without permission
constexpr uint32_t kInvalid = 10022;        // WSAEINVAL: bound twice
constexpr uint32_t kMessageSize = 10040;    // WSAEMSGSIZE
constexpr uint32_t kNoSupport = 10047;      // WSAEAFNOSUPPORT
constexpr uint32_t kAddressInUse = 10048;   // WSAEADDRINUSE
constexpr uint32_t kNotConnected = 10057;   // WSAENOTCONN
constexpr uint32_t kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
constexpr uint32_t kInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr uint32_t kSharingViolation = 32;  // ERROR_SHARING_VIOLATION

constexpr uint32_t kMaxDatagram = 65507;
constexpr uint32_t kAddressSize = 16;

std::optional<Endpoint> parse_address(const uint8_t* addr, uint32_t len) {
    if (!addr || len < 8 || (addr[0] | addr[1] << 8) != zeb::plat::kFamilyInet) {
        return std::nullopt;
    }
    return endpoint_of(addr);
}

}  // namespace

void PeerReply::send(Bytes bytes, uint64_t delay_ms) {
    items_.push_back({self_, std::move(bytes), delay_ms});
}

void PeerReply::send_from(uint32_t from_ip, Bytes bytes, uint64_t delay_ms) {
    items_.push_back({{from_ip, self_.port}, std::move(bytes), delay_ms});
}

SimNetwork::SimNetwork(uint64_t start_ms, uint32_t host_ip) : now_(start_ms), host_ip_(host_ip) {}

void SimNetwork::advance(uint64_t ms) {
    set_now(now_ + ms);
}

void SimNetwork::set_now(uint64_t t) {
    if (t != now_) spin_calls_ = 0;
    now_ = t;
}

SimNetwork::PeerId SimNetwork::add_peer(Endpoint at, PeerHandler handler) {
    return add_peer_range(at.ip, at.ip, at.port, std::move(handler));
}

SimNetwork::PeerId SimNetwork::add_peer_range(uint32_t first_ip, uint32_t last_ip, uint16_t port,
                                              PeerHandler handler) {
    const PeerId id = next_peer_++;
    peers_[id] = {first_ip, last_ip, port, std::move(handler)};
    return id;
}

void SimNetwork::remove_peer(PeerId id) {
    peers_.erase(id);
}

void SimNetwork::inject(Endpoint from, Endpoint to, Bytes bytes, uint64_t delay_ms) {
    schedule({from, to, std::move(bytes), now_}, delay_ms);
}

void SimNetwork::inject_to(Handle h, Endpoint from, Bytes bytes, uint64_t delay_ms) {
    Endpoint to = local_endpoint(h);
    inject(from, to, std::move(bytes), delay_ms);
}

std::vector<Datagram> SimNetwork::sent_to(Endpoint to) const {
    std::vector<Datagram> out;
    for (const Datagram& d : sent_) {
        if (d.to == to) out.push_back(d);
    }
    return out;
}

void SimNetwork::clear_records() {
    sent_.clear();
    received_.clear();
    close_calls_.clear();
}

Endpoint SimNetwork::local_endpoint(Handle h) const {
    const Socket& s = get(h);
    return s.local ? sender_of(s) : Endpoint{};
}

std::optional<Endpoint> SimNetwork::remote_endpoint(Handle h) const {
    return get(h).remote;
}

bool SimNetwork::broadcast_allowed(Handle h) const {
    return get(h).broadcast;
}

bool SimNetwork::nonblocking(Handle h) const {
    return get(h).nonblocking;
}

size_t SimNetwork::queued(Handle h) {
    deliver_due();
    return get(h).queue.size();
}

void SimNetwork::fail_next(Op op, uint32_t error, int times) {
    for (int i = 0; i < times; ++i) faults_[op].push_back(error);
}

uint32_t SimNetwork::take_fault(Op op) {
    auto it = faults_.find(op);
    if (it == faults_.end() || it->second.empty()) return 0;
    const uint32_t error = it->second.front();
    it->second.pop_front();
    return error;
}

SimNetwork::Socket* SimNetwork::find(Handle h) {
    auto it = sockets_.find(h);
    return it == sockets_.end() ? nullptr : &it->second;
}

const SimNetwork::Socket& SimNetwork::get(Handle h) const {
    auto it = sockets_.find(h);
    if (it == sockets_.end()) {
        std::fprintf(stderr, "SimNetwork: no open socket %lld\n", static_cast<long long>(h));
        std::abort();
    }
    return it->second;
}

void SimNetwork::ensure_bound(Socket& s) {
    if (!s.local) s.local = Endpoint{0, next_port_++};
}

Endpoint SimNetwork::sender_of(const Socket& s) const {
    return {s.local->ip ? s.local->ip : host_ip_, s.local->port};
}

uint32_t SimNetwork::clock_ms() {
    if (++spin_calls_ > spin_limit_) {
        std::fprintf(stderr, "SimNetwork: the clock was read %llu times without any wait\n",
                     static_cast<unsigned long long>(spin_calls_));
        std::abort();
    }
    return static_cast<uint32_t>(now_);
}

uint32_t SimNetwork::sockets_start() {
    if (uint32_t err = take_fault(Op::start)) return err;
    ++starts_;
    return 0;
}

void SimNetwork::sockets_stop() {
    ++stops_;
}

uint32_t SimNetwork::socket_open(uint16_t family, Handle* out) {
    if (uint32_t err = take_fault(Op::open)) return err;
    if (family != zeb::plat::kFamilyInet) return kNoSupport;  // no IPX here either
    ++opens_;
    *out = next_handle_++;
    sockets_[*out] = Socket{};
    return 0;
}

uint32_t SimNetwork::socket_bind(Handle h, const uint8_t* addr, uint32_t len) {
    Socket* s = find(h);
    if (!s) return kNotASocket;
    if (uint32_t err = take_fault(Op::bind)) return err;
    std::optional<Endpoint> at = parse_address(addr, len);
    if (!at) return kNoSupport;
    if (s->local) return kInvalid;
    if (at->port == 0) at->port = next_port_++;
    for (const auto& [other_h, other] : sockets_) {
        if (other_h == h || !other.local || other.local->port != at->port) continue;
        if (other.local->ip == 0 || at->ip == 0 || other.local->ip == at->ip) return kAddressInUse;
    }
    s->local = at;
    return 0;
}

uint32_t SimNetwork::socket_allow_broadcast(Handle h) {
    Socket* s = find(h);
    if (!s) return kNotASocket;
    if (uint32_t err = take_fault(Op::allow_broadcast)) return err;
    s->broadcast = true;
    return 0;
}

uint32_t SimNetwork::socket_connect(Handle h, const uint8_t* addr, uint32_t len) {
    Socket* s = find(h);
    if (!s) return kNotASocket;
    if (uint32_t err = take_fault(Op::connect)) return err;
    std::optional<Endpoint> to = parse_address(addr, len);
    if (!to) return kNoSupport;
    ensure_bound(*s);
    s->remote = to;
    return 0;
}

uint32_t SimNetwork::socket_set_nonblocking(Handle h) {
    Socket* s = find(h);
    if (!s) return kNotASocket;
    if (uint32_t err = take_fault(Op::set_nonblocking)) return err;
    s->nonblocking = true;
    return 0;
}

uint32_t SimNetwork::socket_send(Handle h, const uint8_t* data, uint32_t len) {
    Socket* s = find(h);
    if (!s) return kNotASocket;
    if (uint32_t err = take_fault(Op::send)) return err;
    if (!s->remote) return kNotConnected;
    return transmit(*s, data, len, *s->remote);
}

uint32_t SimNetwork::socket_send_to(Handle h, const uint8_t* data, uint32_t len,
                                    const uint8_t* addr, uint32_t addr_len) {
    Socket* s = find(h);
    if (!s) return kNotASocket;
    if (uint32_t err = take_fault(Op::send)) return err;
    std::optional<Endpoint> to = parse_address(addr, addr_len);
    if (!to) return kNoSupport;
    if (to->ip == kBroadcastIp && !s->broadcast) return kAccessDenied;
    return transmit(*s, data, len, *to);
}

uint32_t SimNetwork::transmit(Socket& s, const uint8_t* data, uint32_t len, Endpoint to) {
    if (len > kMaxDatagram) return kMessageSize;
    ensure_bound(s);
    Datagram d{sender_of(s), to, Bytes(data, data + len), now_};
    sent_.push_back(d);
    offer_to_peers(d);
    schedule(std::move(d), 0);  // for a library socket at that address, if there is one
    return 0;
}

void SimNetwork::offer_to_peers(const Datagram& d) {
    std::vector<PeerId> ids;
    for (const auto& [id, peer] : peers_) ids.push_back(id);
    for (PeerId id : ids) {
        auto it = peers_.find(id);
        if (it == peers_.end()) continue;  // removed by an earlier handler
        const Peer& peer = it->second;
        const bool broadcast = d.to.ip == kBroadcastIp;
        const bool owns = d.to.ip >= peer.first_ip && d.to.ip <= peer.last_ip;
        if (d.to.port != peer.port || !(broadcast || owns)) continue;
        PeerReply out({broadcast ? peer.first_ip : d.to.ip, peer.port}, d.from);
        PeerHandler handler = peer.handler;  // the handler may remove its own peer
        handler(d, out);
        for (const PeerReply::Item& item : out.items()) {
            schedule({item.from, d.from, item.bytes, now_}, item.delay_ms);
        }
    }
}

void SimNetwork::schedule(Datagram d, uint64_t delay_ms) {
    d.time = now_ + delay_ms;
    flight_.emplace(FlightKey{d.time, next_order_++}, std::move(d));
}

SimNetwork::Socket* SimNetwork::destination(const Datagram& d) {
    if (d.to.ip == kBroadcastIp) return nullptr;
    for (auto& [h, s] : sockets_) {
        if (!s.local || s.local->port != d.to.port) continue;
        if (s.local->ip != 0 && s.local->ip != d.to.ip) continue;
        if (s.remote && !(*s.remote == d.from)) continue;  // a connected socket hears its peer only
        return &s;
    }
    return nullptr;
}

void SimNetwork::deliver_due() {
    while (!flight_.empty() && flight_.begin()->first.first <= now_) {
        auto node = flight_.extract(flight_.begin());
        Socket* s = destination(node.mapped());
        if (!s) continue;
        s->queue.push_back(std::move(node.mapped()));
        // A lasting watch reports every arrival.
        for (auto& [h, sock] : sockets_) {
            if (&sock != s) continue;
            for (auto& [set, watches] : ready_sets_) {
                auto w = watches.find(h);
                if (w != watches.end() && w->second.lasting) w->second.armed = true;
            }
            break;
        }
    }
}

uint32_t SimNetwork::socket_receive(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got,
                                    uint8_t* from, uint32_t* from_len) {
    ++receive_calls_;
    if (!find(h)) return kNotASocket;
    if (uint32_t err = take_fault(Op::receive)) return err;
    deliver_due();
    Socket& s = *find(h);
    if (s.queue.empty()) return zeb::plat::kWouldBlock;
    Datagram d = std::move(s.queue.front());
    s.queue.pop_front();
    if (d.bytes.size() > cap) return kMessageSize;  // dropped, as a datagram socket does
    if (!d.bytes.empty()) std::memcpy(buf, d.bytes.data(), d.bytes.size());
    *got = static_cast<uint32_t>(d.bytes.size());
    if (from) {
        const SocketAddress a = socket_address(d.from);
        std::memcpy(from, a.data(), a.size());
        *from_len = kAddressSize;
    }
    received_.push_back(std::move(d));
    set_now(now_ + receive_cost_);
    return 0;
}

uint32_t SimNetwork::socket_receive_wait(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got,
                                         uint8_t* from, uint32_t* from_len, uint32_t timeout_ms) {
    const uint32_t err = socket_receive(h, buf, cap, got, from, from_len);
    if (err != zeb::plat::kWouldBlock || timeout_ms == 0) return err;
    wait_readable(&h, 1, timeout_ms);
    return socket_receive(h, buf, cap, got, from, from_len);
}

void SimNetwork::socket_set_receive_buffer(Handle h, uint32_t bytes) {
    last_receive_buffer_ = bytes;
    if (Socket* s = find(h)) s->receive_buffer = bytes;
}

uint32_t SimNetwork::socket_close(Handle h) {
    close_calls_.push_back(h);
    return sockets_.erase(h) ? 0 : kNotASocket;
}

void SimNetwork::wait_readable(const Handle* handles, size_t count, uint32_t timeout_ms) {
    deliver_due();
    auto watched = [&](const Socket* s) {
        for (size_t i = 0; i < count; ++i) {
            if (s && s == find(handles[i])) return true;
        }
        return false;
    };
    for (size_t i = 0; i < count; ++i) {
        if (const Socket* s = find(handles[i]); s && !s->queue.empty()) return;
        if (const SerialPort* p = port_of(handles[i])) {
            if (std::optional<uint64_t> next = next_serial_arrival(*p); next && *next <= now_)
                return;
        }
    }
    uint64_t wake = now_ + timeout_ms;
    for (const auto& [key, datagram] : flight_) {
        if (key.first >= wake) break;
        if (watched(destination(datagram))) {
            wake = key.first;
            break;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (const SerialPort* p = port_of(handles[i])) {
            wake = std::min(wake, next_serial_arrival(*p).value_or(wake));
        }
    }
    set_now(wake);
    deliver_due();
}

bool SimNetwork::readable(Handle h) {
    deliver_due();
    if (const Socket* s = find(h)) return !s->queue.empty();
    if (const SerialPort* p = port_of(h)) {
        const std::optional<uint64_t> next = next_serial_arrival(*p);
        return next && *next <= now_;
    }
    return false;
}

void SimNetwork::sleep_until_readable(const std::vector<Handle>& handles, uint64_t timeout_ms) {
    uint64_t wake = now_ + timeout_ms;
    for (const auto& [key, datagram] : flight_) {
        if (key.first >= wake) break;
        const Socket* to = destination(datagram);
        const bool watched = std::any_of(handles.begin(), handles.end(),
                                         [&](Handle h) { return to && to == find(h); });
        if (watched) {
            wake = key.first;
            break;
        }
    }
    for (Handle h : handles) {
        if (const SerialPort* p = port_of(h)) {
            wake = std::min(wake, next_serial_arrival(*p).value_or(wake));
        }
    }
    set_now(wake);
    deliver_due();
}

uint32_t SimNetwork::ready_set_open(Handle* set) {
    *set = next_handle_++;
    ready_sets_[*set] = {};
    return 0;
}

uint32_t SimNetwork::ready_set_add(Handle set, Handle h, uint32_t tag) {
    auto it = ready_sets_.find(set);
    if (it == ready_sets_.end()) return kNotASocket;
    if (!find(h) && !port_of(h)) return kNotASocket;
    ++ready_set_watch_calls_;
    if (uint32_t err = take_fault(Op::watch)) return err;
    if (!it->second.emplace(h, Watch{tag, true}).second) return kInvalid;
    ++ready_set_adds_;
    return 0;
}

uint32_t SimNetwork::ready_set_arm(Handle set, Handle h, uint32_t tag) {
    auto it = ready_sets_.find(set);
    if (it == ready_sets_.end()) return kNotASocket;
    ++ready_set_watch_calls_;
    auto w = it->second.find(h);
    if (w == it->second.end()) return kNotASocket;
    w->second = {tag, true};
    return 0;
}

uint32_t SimNetwork::ready_set_watch_lasting(Handle set, Handle h, uint32_t tag, bool again) {
    if (!lasting_watches_) return zeb::plat::kNotSupported;
    if (!again) {
        const uint32_t err = ready_set_add(set, h, tag);
        if (err == 0) ready_sets_[set][h].lasting = true;
        return err;
    }
    const uint32_t err = ready_set_arm(set, h, tag);
    if (err == 0) ready_sets_[set][h].lasting = true;
    return err;
}

size_t SimNetwork::ready_set_wait(Handle set, uint32_t* tags, size_t capacity,
                                  uint32_t timeout_ms) {
    auto it = ready_sets_.find(set);
    if (it == ready_sets_.end()) return 0;
    auto collect = [&] {
        size_t n = 0;
        for (auto& [h, w] : it->second) {
            if (n == capacity) break;
            if (!w.armed || !readable(h)) continue;
            w.armed = false;
            tags[n++] = w.tag;
        }
        return n;
    };
    const size_t n = collect();
    if (n > 0 || timeout_ms == 0) return n;
    std::vector<Handle> handles;
    for (const auto& [h, w] : it->second) {
        if (w.armed) handles.push_back(h);
    }
    ++ready_set_sleeps_;
    sleep_until_readable(handles, timeout_ms);
    return collect();
}

void SimNetwork::ready_set_close(Handle set) {
    ready_sets_.erase(set);
}

void SerialReply::send(Bytes bytes, uint64_t delay_ms) {
    items_.push_back({std::move(bytes), delay_ms});
}

void SerialReply::trickle(const Bytes& bytes, uint64_t delay_ms, uint64_t gap_ms) {
    for (size_t i = 0; i < bytes.size(); ++i) items_.push_back({{bytes[i]}, delay_ms + i * gap_ms});
}

void SimNetwork::attach_serial(uint32_t port, SerialHandler handler) {
    serial_ports_[port].handler = std::move(handler);
}

SimNetwork::SerialPort& SimNetwork::attached(uint32_t port) {
    return const_cast<SerialPort&>(std::as_const(*this).attached(port));
}

const SimNetwork::SerialPort& SimNetwork::attached(uint32_t port) const {
    auto it = serial_ports_.find(port);
    if (it == serial_ports_.end()) {
        std::fprintf(stderr, "SimNetwork: COM%u is not attached\n", port);
        std::abort();
    }
    return it->second;
}

SimNetwork::SerialPort* SimNetwork::port_of(Handle h) {
    auto it = serial_handles_.find(h);
    return it == serial_handles_.end() ? nullptr : &serial_ports_[it->second];
}

void SimNetwork::inject_serial(uint32_t port, Bytes bytes, uint64_t delay_ms) {
    schedule_serial(attached(port), std::move(bytes), delay_ms);
}

void SimNetwork::trickle_serial(uint32_t port, const Bytes& bytes, uint64_t delay_ms,
                                uint64_t gap_ms) {
    SerialReply r;
    r.trickle(bytes, delay_ms, gap_ms);
    for (const SerialReply::Item& item : r.items()) inject_serial(port, item.bytes, item.delay_ms);
}

const Bytes& SimNetwork::serial_written(uint32_t port) const {
    return attached(port).written;
}

std::optional<zeb::plat::SerialSettings> SimNetwork::serial_settings(uint32_t port) const {
    return attached(port).settings;
}

bool SimNetwork::serial_is_open(uint32_t port) const {
    return attached(port).open;
}

void SimNetwork::schedule_serial(SerialPort& p, Bytes bytes, uint64_t delay_ms) {
    if (!bytes.empty())
        p.incoming.emplace(FlightKey{now_ + delay_ms, next_order_++}, std::move(bytes));
}

std::optional<uint64_t> SimNetwork::next_serial_arrival(const SerialPort& p) const {
    if (p.incoming.empty()) return std::nullopt;
    return p.incoming.begin()->first.first;
}

// Takes up to `len` of the bytes that have arrived by now, oldest first.
uint32_t SimNetwork::take_serial(SerialPort& p, uint8_t* buf, uint32_t len) {
    uint32_t got = 0;
    while (got < len && !p.incoming.empty() && p.incoming.begin()->first.first <= now_) {
        Bytes& chunk = p.incoming.begin()->second;
        const size_t n = std::min<size_t>(len - got, chunk.size());
        std::memcpy(buf + got, chunk.data(), n);
        got += static_cast<uint32_t>(n);
        chunk.erase(chunk.begin(), chunk.begin() + static_cast<long>(n));
        if (chunk.empty()) p.incoming.erase(p.incoming.begin());
    }
    return got;
}

uint32_t SimNetwork::serial_open(uint32_t port, Handle* out) {
    *out = zeb::plat::kNoHandle;
    if (uint32_t err = take_fault(Op::serial_open)) return err;
    auto it = serial_ports_.find(port);
    if (it == serial_ports_.end()) return kFileNotFound;
    if (it->second.open) return kSharingViolation;
    it->second.open = true;
    *out = next_handle_++;
    serial_handles_[*out] = port;
    return 0;
}

uint32_t SimNetwork::serial_configure(Handle h, const zeb::plat::SerialSettings& settings) {
    SerialPort* p = port_of(h);
    if (!p) return kInvalidHandle;
    if (uint32_t err = take_fault(Op::serial_configure)) return err;
    p->settings = settings;
    return 0;
}

// A read that finds nothing waits on the virtual clock for the next byte, or to its end.
uint32_t SimNetwork::serial_read(Handle h, uint8_t* buf, uint32_t len, uint32_t* got,
                                 uint32_t timeout_ms) {
    *got = 0;
    SerialPort* p = port_of(h);
    if (!p) return kInvalidHandle;
    if (uint32_t err = take_fault(Op::serial_read)) return err;
    const uint64_t end = now_ + timeout_ms;
    const std::optional<uint64_t> next = next_serial_arrival(*p);
    if (!next || *next > end) {
        set_now(end);
        return 0;
    }
    set_now(std::max(now_, *next));
    *got = take_serial(*p, buf, len);
    return 0;
}

uint32_t SimNetwork::serial_write(Handle h, const uint8_t* data, uint32_t len) {
    SerialPort* p = port_of(h);
    if (!p) return kInvalidHandle;
    if (uint32_t err = take_fault(Op::serial_write)) return err;
    const Bytes written(data, data + len);
    p->written.insert(p->written.end(), written.begin(), written.end());
    if (!p->handler) return 0;
    SerialReply out;
    SerialHandler handler = p->handler;  // the handler may replace itself
    handler(written, out);
    for (const SerialReply::Item& item : out.items())
        schedule_serial(*p, item.bytes, item.delay_ms);
    return 0;
}

uint32_t SimNetwork::serial_close(Handle h) {
    auto it = serial_handles_.find(h);
    if (it == serial_handles_.end()) return kInvalidHandle;
    serial_ports_[it->second].open = false;
    serial_handles_.erase(it);
    return 0;
}

ScopedSimNetwork::ScopedSimNetwork(uint64_t start_ms)
    : net_(start_ms), previous_(zeb::plat::set_platform(&net_)) {}

ScopedSimNetwork::~ScopedSimNetwork() {
    zeb::plat::set_platform(previous_);
}

}  // namespace zebtest
