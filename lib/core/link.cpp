#include "link.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "frame.h"
#include "ownership.h"
#include "state.h"
#include "watch.h"

namespace zeb {
namespace {

using plat::platform;

constexpr uint32_t kNotASocket = 10038;  // WSAENOTSOCK
constexpr uint32_t kIpAddressSize = 16;
constexpr uint32_t kIpxAddressSize = 14;
constexpr uint32_t kMaxSenderAddress = 16;
// A broadcast socket's receive queue holds the answers of a thousand modules to one query
// (each small datagram takes about 1 KiB of queue on Linux); the system may grant less.
constexpr uint32_t kBroadcastReceiveBuffer = 2u << 20;

// ---- Winsock: what UDP and IPX share ----

uint32_t start_sockets() noexcept {
    return state::acquire_socket_layer();
}
void stop_sockets() noexcept {
    state::release_socket_layer();
}

// Opens the device's socket bound to `local`: for broadcast, or connected to the module at
// the start of the record's address, so that plain sends and receives reach the module only.
uint32_t open_socket(ZEBDevice& d, uint16_t family, const uint8_t* local, uint32_t addr_len) {
    plat::Platform& p = platform();
    plat::Handle h = plat::kNoHandle;
    if (uint32_t err = p.socket_open(family, &h)) return err;
    uint32_t err = p.socket_bind(h, local, addr_len);
    if (!err) {
        err = d.Broadcast ? p.socket_allow_broadcast(h)
                          : p.socket_connect(h, d.Address.Raw, addr_len);
    }
    if (!err) err = p.socket_set_nonblocking(h);
    if (!err && d.Broadcast) p.socket_set_receive_buffer(h, kBroadcastReceiveBuffer);
    if (err) {
        p.socket_close(h);
        return err;
    }
    d.Socket = static_cast<uintptr_t>(h);
    own::flags(d) |= own::kSocket;
    return 0;
}

uint32_t close_socket(ZEBDevice& d) noexcept {
    return own::owns(d, own::kSocket) ? platform().socket_close(own::socket_of(d)) : 0;
}

uint32_t send_socket(ZEBDevice& d, const uint8_t* frame, uint16_t length, const uint8_t* to,
                     uint32_t to_len) {
    if (!own::owns(d, own::kSocket)) return kNotASocket;
    if (!d.Broadcast) return platform().socket_send(own::socket_of(d), frame, length);
    return platform().socket_send_to(own::socket_of(d), frame, length, to, to_len);
}

uint32_t receive_socket(ZEBDevice& d, uint8_t* buffer, int32_t* length, uint32_t wait_ms) noexcept {
    if (!own::owns(d, own::kSocket)) return kNotASocket;
    const uint32_t capacity = *length > 0 ? static_cast<uint32_t>(*length) : 0;
    uint8_t from[kMaxSenderAddress] = {};
    uint32_t from_len = 0;
    uint32_t got = 0;
    const bool broadcast = d.Broadcast != 0;
    const uint32_t err = platform().socket_receive_wait(
        own::socket_of(d), buffer, capacity, &got, broadcast ? from : nullptr, &from_len, wait_ms);
    if (err == plat::kWouldBlock) return ZEBERR_NO_PACKET;
    if (err) {
        *length = 0;
        return err;
    }
    *length = static_cast<int32_t>(got);
    if (broadcast && d.FromAddress) {
        // Read by value: the record is packed, and may sit at any address.
        const uint32_t room = d.FromAddressSize;
        std::memcpy(d.FromAddress, from, std::min(from_len, room));
        if (from_len > room) return ZEBERR_BUFFER_TOO_SMALL;
    }
    return 0;
}

plat::Handle socket_handle(const ZEBDevice& d) noexcept {
    return own::owns(d, own::kSocket) ? own::socket_of(d) : plat::kNoHandle;
}

constexpr uint8_t kModulePort[2] = {ZEB_MODULE_PORT >> 8, ZEB_MODULE_PORT & 0xFF};

// ---- UDP over IPv4 ----

uint32_t open_udp(ZEBDevice& d, const ZEBTransport& t) noexcept {
    if (!d.Broadcast && d.Address.Ip.BroadcastOnly == 1) return ZEBERR_NEEDS_BROADCAST;
    // Bound to the transport's source address (family, port, IPv4 address), or to any.
    uint8_t local[kIpAddressSize] = {};
    if (t.SourceAddress) {
        std::memcpy(local, t.SourceAddress, 8);
    } else {
        frame::put_u16(local, plat::kFamilyInet);
    }
    return open_socket(d, plat::kFamilyInet, local, kIpAddressSize);
}

// A broadcast goes to the module port of every host on the local network.
uint32_t send_udp(ZEBDevice& d, const uint8_t* frame, uint16_t length) noexcept {
    uint8_t to[kIpAddressSize] = {};
    frame::put_u16(to, plat::kFamilyInet);
    std::memcpy(to + 2, kModulePort, 2);
    std::memset(to + 4, 0xFF, 4);
    return send_socket(d, frame, length, to, kIpAddressSize);
}

// ---- IPX ----

uint32_t open_ipx(ZEBDevice& d, const ZEBTransport& t) noexcept {
    uint8_t local[kIpxAddressSize] = {};
    if (t.SourceAddress) {
        std::memcpy(local, t.SourceAddress, kIpxAddressSize);
    } else {
        frame::put_u16(local, plat::kFamilyIpx);
    }
    return open_socket(d, plat::kFamilyIpx, local, kIpxAddressSize);
}

// A broadcast goes to the broadcast node on the source address's network (network 0 without).
uint32_t send_ipx(ZEBDevice& d, const uint8_t* frame, uint16_t length) noexcept {
    uint8_t to[kIpxAddressSize] = {};
    frame::put_u16(to, plat::kFamilyIpx);
    if (d.Transport->SourceAddress) {
        std::memcpy(to + 2, static_cast<const uint8_t*>(d.Transport->SourceAddress) + 2, 4);
    }
    std::memset(to + 6, 0xFF, 6);
    std::memcpy(to + 12, kModulePort, 2);
    return send_socket(d, frame, length, to, kIpxAddressSize);
}

// ---- Serial port ----

// The part of a frame read so far from one port. A frame may come in over several calls (a
// no-wait poll takes only the bytes already there), so what came is kept, not dropped.
struct SerialAssembly {
    uint32_t have = 0;
    uint32_t last_byte_ms = 0;
    uint8_t bytes[frame::kHeaderSize + 0xFFFF];
};

// The assemblies of the open ports, by port handle: made when the port opens, so that a
// receive allocates nothing, and found by handle, so that a copy of a record never reaches
// one that its port's close has freed.
class Assemblies {
  public:
    uint32_t create(plat::Handle port) noexcept {
        try {
            auto made = std::make_unique<SerialAssembly>();
            std::lock_guard lock(mutex_);
            by_port_[port] = std::move(made);
            return 0;
        } catch (...) {
            return kNotEnoughMemory;
        }
    }
    void release(plat::Handle port) noexcept {
        std::unique_ptr<SerialAssembly> gone;
        std::lock_guard lock(mutex_);
        auto it = by_port_.find(port);
        if (it == by_port_.end()) return;
        gone = std::move(it->second);
        by_port_.erase(it);
    }
    SerialAssembly* find(plat::Handle port) noexcept {
        std::lock_guard lock(mutex_);
        auto it = by_port_.find(port);
        return it == by_port_.end() ? nullptr : it->second.get();
    }

  private:
    static constexpr uint32_t kNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY
    std::mutex mutex_;
    std::map<plat::Handle, std::unique_ptr<SerialAssembly>> by_port_;
};

Assemblies g_assemblies;

// The most time a port lets pass between two bytes of one frame; a frame whose line stays
// quiet longer was cut short.
constexpr uint32_t kInterByteMs = 1000;

uint32_t start_serial() noexcept {
    return 0;
}
void stop_serial() noexcept {}

uint32_t open_serial(ZEBDevice& d, const ZEBTransport&) noexcept {
    plat::Platform& p = platform();
    const ZEBSerialAddress& s = d.Address.Serial;
    plat::Handle h = plat::kNoHandle;
    const uint32_t err = p.serial_open(s.ComPort, &h);
    own::set_port(d, h);
    if (err) return err;
    own::flags(d) |= own::kPort;
    if (uint32_t no_memory = g_assemblies.create(h)) return no_memory;
    return p.serial_configure(h, {s.BaudRate, s.DataBits, s.Parity, s.StopBits});
}

uint32_t close_serial(ZEBDevice& d) noexcept {
    if (own::owns(d, own::kPort)) {
        g_assemblies.release(own::port_of(d));
        platform().serial_close(own::port_of(d));
    }
    return 0;
}

uint32_t send_serial(ZEBDevice& d, const uint8_t* frame, uint16_t length) noexcept {
    if (!own::owns(d, own::kPort)) return ZEBERR_BAD_DEVICE;
    return platform().serial_write(own::port_of(d), frame, length);
}

// Whether `count` bytes could be the start of a frame: "ZQK", or "ZQQ" as discovery answers
// may carry.
bool starts_like_a_frame(const uint8_t* p, uint32_t count) {
    return (count < 1 || p[0] == 'Z') && (count < 2 || p[1] == 'Q') &&
           (count < 3 || p[2] == 'K' || p[2] == 'Q');
}

// Drops bytes from the front of a header being read until what is left could start a frame,
// so that noise on the line is skipped rather than taken for a header and its length.
void resynchronise(SerialAssembly& a) {
    uint32_t from = 0;
    while (!starts_like_a_frame(a.bytes + from, a.have - from)) ++from;
    if (from == 0) return;
    std::memmove(a.bytes, a.bytes + from, a.have - from);
    a.have -= from;
}

// Reads the port until a whole frame is in, `wait_ms` has passed, or the line stayed quiet
// too long in the middle of a frame. A frame that cannot fit the caller's buffer is refused as
// soon as its header is in; its body is then skipped as noise by the next call.
uint32_t receive_serial(ZEBDevice& d, uint8_t* buffer, int32_t* length, uint32_t wait_ms) noexcept {
    if (!own::owns(d, own::kPort)) return ZEBERR_BAD_DEVICE;
    const plat::Handle port = own::port_of(d);
    SerialAssembly* a = g_assemblies.find(port);
    if (!a) return ZEBERR_BAD_DEVICE;
    const uint32_t capacity = *length > 0 ? static_cast<uint32_t>(*length) : 0;
    *length = 0;
    plat::Platform& p = platform();
    const uint32_t start = p.clock_ms();
    // The line went quiet in a frame before this call: the call that waited for it has ended.
    if (a->have > 0 && start - a->last_byte_ms >= kInterByteMs) a->have = 0;
    for (;;) {
        uint32_t want = frame::kHeaderSize;
        if (a->have >= frame::kHeaderSize) {
            want += frame::get_u16(a->bytes + frame::kLengthAt);
            if (want > capacity) {
                a->have = 0;
                return ZEBERR_BUFFER_TOO_SMALL;
            }
            if (a->have == want) {
                std::memcpy(buffer, a->bytes, want);
                *length = static_cast<int32_t>(want);
                a->have = 0;
                return 0;
            }
        }
        const uint32_t now = p.clock_ms();
        const uint32_t spent = now - start;
        uint32_t budget = spent < wait_ms ? wait_ms - spent : 0;
        bool quiet_limit = false;  // whether the port's limit between bytes ends this read
        if (a->have > 0) {
            const uint32_t quiet = now - a->last_byte_ms;
            const uint32_t left = quiet < kInterByteMs ? kInterByteMs - quiet : 0;
            if (left <= budget) {
                budget = left;
                quiet_limit = true;
            }
        }
        uint32_t got = 0;
        if (uint32_t err = p.serial_read(port, a->bytes + a->have, want - a->have, &got, budget)) {
            a->have = 0;
            return err;
        }
        if (got == 0) {
            if (!quiet_limit) return 0;  // no whole frame within the wait; the part is kept
            a->have = 0;
            return plat::kBrokenPipe;
        }
        a->have += got;
        a->last_byte_ms = p.clock_ms();
        if (a->have <= frame::kHeaderSize) resynchronise(*a);
    }
}

plat::Handle serial_handle(const ZEBDevice& d) noexcept {
    return own::owns(d, own::kPort) ? own::port_of(d) : plat::kNoHandle;
}

// ---- The tables ----

constexpr LinkOps kUdp{start_sockets, stop_sockets,   open_udp,     close_socket,
                       send_udp,      receive_socket, socket_handle};
constexpr LinkOps kIpx{start_sockets, stop_sockets,   open_ipx,     close_socket,
                       send_ipx,      receive_socket, socket_handle};
constexpr LinkOps kSerial{start_serial, stop_serial,    open_serial,  close_serial,
                          send_serial,  receive_serial, serial_handle};

}  // namespace

namespace {
std::atomic<uint32_t> g_devices_closed{0};
}  // namespace

uint32_t devices_closed() noexcept {
    return g_devices_closed.load(std::memory_order_acquire);
}

void count_device_closed() noexcept {
    g_devices_closed.fetch_add(1, std::memory_order_acq_rel);
}

const LinkOps* link_of(const ZEBTransport& t, uint32_t* why) noexcept {
    uint32_t error = ZEBERR_BAD_TRANSPORT;
    if (t.Kind == ZEB_TRANSPORT_SERIAL) return &kSerial;
    if (t.Kind == ZEB_TRANSPORT_WINSOCK) {
        if (t.Protocol == ZEB_PROTOCOL_IP) return &kUdp;
        if (t.Protocol == ZEB_PROTOCOL_IPX) return &kIpx;
        error = ZEBERR_BAD_PROTOCOL;
    }
    if (why) *why = error;
    return nullptr;
}

const LinkOps* link_of(const ZEBDevice& d, uint32_t* why) noexcept {
    if (d.Transport) return link_of(*d.Transport, why);
    if (why) *why = ZEBERR_BAD_TRANSPORT;
    return nullptr;
}

uint32_t SendFrame(ZEBDevice* device, const uint8_t* frame, uint16_t length) noexcept {
    uint32_t why = 0;
    const LinkOps* link = link_of(*device, &why);
    const uint32_t result = link ? link->send(*device, frame, length) : why;
    watch::sent(*device, frame, length, result);
    return result;
}

uint32_t ReceiveFrame(ZEBDevice* device, uint8_t* buffer, int32_t* length,
                      uint32_t wait_ms) noexcept {
    uint32_t why = 0;
    const LinkOps* link = link_of(*device, &why);
    const uint32_t result = link ? link->receive(*device, buffer, length, wait_ms) : why;
    watch::received(*device, buffer, *length, result);
    return result;
}

plat::Handle wait_handle(const ZEBDevice& device) noexcept {
    const LinkOps* link = link_of(device);
    return link ? link->wait_handle(device) : plat::kNoHandle;
}

void wait_for_frame(const ZEBDevice& device, uint32_t timeout_ms) noexcept {
    const plat::Handle h = wait_handle(device);
    if (h != plat::kNoHandle) platform().wait_readable(&h, 1, timeout_ms);
}

ReadySet::ReadySet() noexcept : generation_(plat::platform_generation()) {
    if (platform().ready_set_open(&set_) != 0) set_ = plat::kNoHandle;
}

ReadySet::~ReadySet() {
    if (set_ != plat::kNoHandle && current()) platform().ready_set_close(set_);
}

bool ReadySet::current() const noexcept {
    return generation_ == plat::platform_generation();
}

bool ReadySet::watch(const ZEBDevice& device, uint32_t tag) noexcept {
    const plat::Handle h = wait_handle(device);
    if (set_ == plat::kNoHandle || h == plat::kNoHandle) return false;
    return platform().ready_set_add(set_, h, tag) == 0;
}

bool ReadySet::watch_again(const ZEBDevice& device, uint32_t tag) noexcept {
    const plat::Handle h = wait_handle(device);
    if (set_ == plat::kNoHandle || h == plat::kNoHandle) return false;
    return platform().ready_set_arm(set_, h, tag) == 0 || watch(device, tag);
}

uint32_t ReadySet::watch_lasting(const ZEBDevice& device, uint32_t tag, bool again) noexcept {
    const plat::Handle h = wait_handle(device);
    if (set_ == plat::kNoHandle || h == plat::kNoHandle) return plat::kNotSupported;
    return platform().ready_set_watch_lasting(set_, h, tag, again);
}

void ReadySet::arm(const ZEBDevice& device, uint32_t tag) noexcept {
    const plat::Handle h = wait_handle(device);
    if (set_ != plat::kNoHandle && h != plat::kNoHandle) platform().ready_set_arm(set_, h, tag);
}

size_t ReadySet::wait(uint32_t* tags, size_t capacity, uint32_t timeout_ms) noexcept {
    if (set_ != plat::kNoHandle) return platform().ready_set_wait(set_, tags, capacity, timeout_ms);
    if (timeout_ms > 0) platform().wait_readable(nullptr, 0, timeout_ms);
    return 0;
}

void wait_for_any(ZEBDevice* const* devices, size_t count, uint32_t timeout_ms,
                  plat::Handle* scratch) noexcept {
    size_t watched = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!devices[i]) continue;
        const plat::Handle h = wait_handle(*devices[i]);
        if (h != plat::kNoHandle) scratch[watched++] = h;
    }
    platform().wait_readable(scratch, watched, timeout_ms);
}

}  // namespace zeb
