// A simulated datagram network with a virtual millisecond clock, put in place of the operating
// system's platform in tests. No real socket is ever opened and no real time passes: a wait
// moves the clock straight to the next delivery or to its deadline.
//
// The library's sockets live on the host (127.0.0.1 unless told otherwise). Modules are peers:
// handlers that get each datagram sent to their address and answer with any number of
// datagrams, each after its own virtual delay. Anything else (stray, late, damaged or runt
// packets) a test injects directly.
//
// A module simulator that takes request bytes and gives back timed replies plugs in as one
// peer covering its whole address range, e.g. for racksim::Rack:
//
//     net.add_peer_range(first_ip, last_ip, kModulePort,
//                        [&rack](const Datagram& d, PeerReply& out) {
//                            for (auto& o : rack.handle(d.to.ip, d.bytes.data(), d.bytes.size()))
//                                out.send_from(o.from_ip, o.bytes, o.delay_ms);
//                        });
//
// A broadcast reaches such a range peer once, with `to.ip` the broadcast address.
//
// Serial ports COM1, COM2... exist once a test attaches them. A port's peer gets each write
// of the library and answers with bytes that arrive at given virtual times, all at once or
// one by one with gaps; a read that waits moves the clock to the next byte or to its end.
//
// Single-threaded: the library calls and the test's own calls come from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "core/platform/platform.h"
#include "endpoint.h"

namespace zebtest {

// One datagram on the simulated wire.
struct Datagram {
    Endpoint from;
    Endpoint to;
    Bytes bytes;
    uint64_t time = 0;  // virtual ms at which it was sent
};

// The answers a peer gives to one datagram. Each leaves `delay_ms` after the request arrived.
class PeerReply {
  public:
    PeerReply(Endpoint self, Endpoint requester) : self_(self), requester_(requester) {}

    // Answers from the peer's own address (the addressed one for a range peer).
    void send(Bytes bytes, uint64_t delay_ms = 0);
    // Answers from another address of the peer (a module of a simulated rack).
    void send_from(uint32_t from_ip, Bytes bytes, uint64_t delay_ms = 0);

    struct Item {
        Endpoint from;
        Bytes bytes;
        uint64_t delay_ms;
    };
    const std::vector<Item>& items() const { return items_; }
    Endpoint requester() const { return requester_; }

  private:
    Endpoint self_;
    Endpoint requester_;
    std::vector<Item> items_;
};

using PeerHandler = std::function<void(const Datagram& request, PeerReply& out)>;

// The bytes a serial peer sends back, each timed from the write that it answers.
class SerialReply {
  public:
    // All of `bytes` arrive together, `delay_ms` after the write.
    void send(Bytes bytes, uint64_t delay_ms = 0);
    // One byte every `gap_ms`, the first `delay_ms` after the write.
    void trickle(const Bytes& bytes, uint64_t delay_ms, uint64_t gap_ms);

    struct Item {
        Bytes bytes;
        uint64_t delay_ms;
    };
    const std::vector<Item>& items() const { return items_; }

  private:
    std::vector<Item> items_;
};

using SerialHandler = std::function<void(const Bytes& written, SerialReply& out)>;

class SimNetwork final : public zeb::plat::Platform {
  public:
    using Handle = zeb::plat::Handle;
    using PeerId = int;

    // Near the 32-bit wrap, so that elapsed-time arithmetic that is not wrap-safe shows.
    static constexpr uint64_t kDefaultStartMs = 0xFFFFF000;

    explicit SimNetwork(uint64_t start_ms = kDefaultStartMs, uint32_t host_ip = kHostIp);

    // ---- Clock ----
    uint64_t now() const { return now_; }  // never wraps; clock_ms() gives its low 32 bits
    void advance(uint64_t ms);

    // ---- Peers ----
    PeerId add_peer(Endpoint at, PeerHandler handler);
    // One peer for every address from first_ip to last_ip on `port` (a rack of modules).
    PeerId add_peer_range(uint32_t first_ip, uint32_t last_ip, uint16_t port, PeerHandler handler);
    void remove_peer(PeerId id);

    // A datagram from `from` to `to`, arriving `delay_ms` from now.
    void inject(Endpoint from, Endpoint to, Bytes bytes, uint64_t delay_ms = 0);
    // The same, to whatever address the library's socket `h` is bound to.
    void inject_to(Handle h, Endpoint from, Bytes bytes, uint64_t delay_ms = 0);

    // ---- Serial ports ----
    // Makes COMn exist; `handler`, if any, answers each write to it.
    void attach_serial(uint32_t port, SerialHandler handler = nullptr);
    // Bytes reaching COMn from the line, timed from now as by SerialReply.
    void inject_serial(uint32_t port, Bytes bytes, uint64_t delay_ms = 0);
    void trickle_serial(uint32_t port, const Bytes& bytes, uint64_t delay_ms, uint64_t gap_ms);
    const Bytes& serial_written(uint32_t port) const;  // everything the library wrote
    std::optional<zeb::plat::SerialSettings> serial_settings(uint32_t port) const;
    bool serial_is_open(uint32_t port) const;

    // ---- Records ----
    const std::vector<Datagram>& sent() const { return sent_; }          // by library sockets
    const std::vector<Datagram>& received() const { return received_; }  // taken by them
    std::vector<Datagram> sent_to(Endpoint to) const;
    void clear_records();
    int sockets_started() const { return starts_; }
    int sockets_stopped() const { return stops_; }
    int sockets_opened() const { return opens_; }
    size_t sockets_open() const { return sockets_.size(); }
    const std::vector<Handle>& close_calls() const { return close_calls_; }
    size_t in_flight() const { return flight_.size(); }
    // The receive buffer last asked for on a socket (0: never asked).
    uint32_t receive_buffer(Handle h) const { return get(h).receive_buffer; }
    uint32_t last_receive_buffer() const { return last_receive_buffer_; }
    // Receives the library tried, including those that found nothing.
    uint64_t receive_calls() const { return receive_calls_; }
    // Readiness sets open now, and waits on them that went to sleep.
    size_t ready_sets_open() const { return ready_sets_.size(); }
    uint64_t ready_set_sleeps() const { return ready_set_sleeps_; }
    uint64_t ready_set_adds() const { return ready_set_adds_; }
    // Every call that adds, arms or renews a watch: what watching costs in system calls.
    uint64_t ready_set_watch_calls() const { return ready_set_watch_calls_; }
    // Whether lasting (edge-triggered) watches are offered, as on Linux; on by default.
    void set_lasting_watches(bool on) { lasting_watches_ = on; }
    // Takes the handle out of every readiness set, as the system does when a socket is closed
    // behind the library's back.
    void forget_watches(Handle h) {
        for (auto& [set, watches] : ready_sets_) watches.erase(h);
    }

    // State of one of the library's sockets (the socket must be open).
    Endpoint local_endpoint(Handle h) const;
    std::optional<Endpoint> remote_endpoint(Handle h) const;
    bool broadcast_allowed(Handle h) const;
    bool nonblocking(Handle h) const;
    size_t queued(Handle h);  // datagrams due and waiting

    // ---- Faults ----
    enum class Op {
        start,
        open,
        bind,
        allow_broadcast,
        connect,
        set_nonblocking,
        send,
        receive,
        serial_open,
        serial_configure,
        serial_read,
        serial_write,
        watch,  // adding a handle to a readiness set
    };
    // The next `times` calls of `op` fail with `error` (a Winsock number for sockets, a system
    // error number for serial ports).
    void fail_next(Op op, uint32_t error, int times = 1);

    // Each datagram a library socket takes moves the clock on by `ms`: a host that spends time
    // on every packet, so that a steady stream keeps one always waiting.
    void set_receive_cost(uint64_t ms) { receive_cost_ = ms; }

    // A library that polls the clock this often without waiting is spinning: the test aborts.
    void set_spin_limit(uint64_t calls) { spin_limit_ = calls; }

    // ---- zeb::plat::Platform ----
    uint32_t clock_ms() override;
    uint32_t sockets_start() override;
    void sockets_stop() override;
    uint32_t socket_open(uint16_t family, Handle* out) override;
    uint32_t socket_bind(Handle h, const uint8_t* addr, uint32_t len) override;
    uint32_t socket_allow_broadcast(Handle h) override;
    uint32_t socket_connect(Handle h, const uint8_t* addr, uint32_t len) override;
    uint32_t socket_set_nonblocking(Handle h) override;
    uint32_t socket_send(Handle h, const uint8_t* data, uint32_t len) override;
    uint32_t socket_send_to(Handle h, const uint8_t* data, uint32_t len, const uint8_t* addr,
                            uint32_t addr_len) override;
    uint32_t socket_receive(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got, uint8_t* from,
                            uint32_t* from_len) override;
    uint32_t socket_receive_wait(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got, uint8_t* from,
                                 uint32_t* from_len, uint32_t timeout_ms) override;
    void socket_set_receive_buffer(Handle h, uint32_t bytes) override;
    uint32_t socket_close(Handle h) override;
    void wait_readable(const Handle* handles, size_t count, uint32_t timeout_ms) override;
    uint32_t ready_set_open(Handle* set) override;
    uint32_t ready_set_add(Handle set, Handle h, uint32_t tag) override;
    uint32_t ready_set_arm(Handle set, Handle h, uint32_t tag) override;
    uint32_t ready_set_watch_lasting(Handle set, Handle h, uint32_t tag, bool again) override;
    size_t ready_set_wait(Handle set, uint32_t* tags, size_t capacity,
                          uint32_t timeout_ms) override;
    void ready_set_close(Handle set) override;
    uint32_t serial_open(uint32_t port, Handle* out) override;
    uint32_t serial_configure(Handle h, const zeb::plat::SerialSettings& settings) override;
    uint32_t serial_read(Handle h, uint8_t* buf, uint32_t len, uint32_t* got,
                         uint32_t timeout_ms) override;
    uint32_t serial_write(Handle h, const uint8_t* data, uint32_t len) override;
    uint32_t serial_close(Handle h) override;

  private:
    struct Socket {
        std::optional<Endpoint> local;  // ip 0 = any host address
        std::optional<Endpoint> remote;
        bool broadcast = false;
        bool nonblocking = false;
        uint32_t receive_buffer = 0;
        std::deque<Datagram> queue;
    };
    // A readiness set: watched handles, their tags and whether they are armed. A lasting
    // watch is armed again by every datagram that arrives.
    struct Watch {
        uint32_t tag;
        bool armed;
        bool lasting = false;
    };
    using ReadySet = std::map<Handle, Watch>;
    struct Peer {
        uint32_t first_ip;
        uint32_t last_ip;
        uint16_t port;
        PeerHandler handler;
    };
    // Datagrams on their way, in the order of arrival: by due time, then by when sent.
    using FlightKey = std::pair<uint64_t, uint64_t>;
    struct SerialPort {
        SerialHandler handler;
        bool open = false;
        std::optional<zeb::plat::SerialSettings> settings;
        std::map<FlightKey, Bytes> incoming;  // by arrival time, like datagrams in flight
        Bytes written;
    };

    uint32_t take_fault(Op op);
    Socket* find(Handle h);
    const Socket& get(Handle h) const;
    void ensure_bound(Socket& s);
    Endpoint sender_of(const Socket& s) const;
    uint32_t transmit(Socket& s, const uint8_t* data, uint32_t len, Endpoint to);
    void offer_to_peers(const Datagram& d);
    void schedule(Datagram d, uint64_t delay_ms);
    // The library socket that would take a datagram now, or null.
    Socket* destination(const Datagram& d);
    void deliver_due();
    void set_now(uint64_t t);
    // Whether something is waiting on a socket or has reached a serial port by now.
    bool readable(Handle h);
    // Moves the clock to the first arrival for one of the handles, or by `timeout_ms`.
    void sleep_until_readable(const std::vector<Handle>& handles, uint64_t timeout_ms);
    SerialPort& attached(uint32_t port);
    const SerialPort& attached(uint32_t port) const;
    SerialPort* port_of(Handle h);
    void schedule_serial(SerialPort& p, Bytes bytes, uint64_t delay_ms);
    // When the next byte not yet arrived reaches the port, if any will.
    std::optional<uint64_t> next_serial_arrival(const SerialPort& p) const;
    uint32_t take_serial(SerialPort& p, uint8_t* buf, uint32_t len);

    uint64_t now_;
    uint32_t host_ip_;
    Handle next_handle_ = 100;
    uint16_t next_port_ = 49152;
    uint64_t next_order_ = 0;
    std::map<Handle, Socket> sockets_;
    std::map<PeerId, Peer> peers_;
    PeerId next_peer_ = 1;
    std::map<FlightKey, Datagram> flight_;
    std::vector<Datagram> sent_;
    std::vector<Datagram> received_;
    std::vector<Handle> close_calls_;
    std::map<Op, std::deque<uint32_t>> faults_;
    std::map<uint32_t, SerialPort> serial_ports_;
    std::map<Handle, uint32_t> serial_handles_;  // open port handles and their numbers
    int starts_ = 0;
    int stops_ = 0;
    int opens_ = 0;
    std::map<Handle, ReadySet> ready_sets_;
    uint64_t receive_calls_ = 0;
    uint32_t last_receive_buffer_ = 0;
    uint64_t ready_set_sleeps_ = 0;
    uint64_t ready_set_adds_ = 0;
    uint64_t ready_set_watch_calls_ = 0;
    bool lasting_watches_ = true;
    uint64_t receive_cost_ = 0;
    uint64_t spin_calls_ = 0;
    uint64_t spin_limit_ = 10'000'000;
};

// Puts a fresh simulated network in place of the platform for one scope.
class ScopedSimNetwork {
  public:
    explicit ScopedSimNetwork(uint64_t start_ms = SimNetwork::kDefaultStartMs);
    ~ScopedSimNetwork();
    ScopedSimNetwork(const ScopedSimNetwork&) = delete;
    ScopedSimNetwork& operator=(const ScopedSimNetwork&) = delete;

    SimNetwork& operator*() { return net_; }
    SimNetwork* operator->() { return &net_; }

  private:
    SimNetwork net_;
    zeb::plat::Platform* previous_;
};

}  // namespace zebtest
