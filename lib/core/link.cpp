#include "link.h"

#include <algorithm>
#include <cstring>

#include "frame.h"
#include "ownership.h"
#include "state.h"

namespace zeb {
namespace {

using plat::platform;

constexpr uint32_t kNotASocket = 10038;  // WSAENOTSOCK
constexpr uint32_t kIpAddressSize = 16;
constexpr uint32_t kIpxAddressSize = 14;
constexpr uint32_t kMaxSenderAddress = 16;

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
    if (!err)
        err = d.Broadcast ? p.socket_allow_broadcast(h)
                          : p.socket_connect(h, d.Address.Raw, addr_len);
    if (!err) err = p.socket_set_nonblocking(h);
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

uint32_t receive_socket(ZEBDevice& d, uint8_t* buffer, int32_t* length) noexcept {
    if (!own::owns(d, own::kSocket)) return kNotASocket;
    const uint32_t capacity = *length > 0 ? static_cast<uint32_t>(*length) : 0;
    uint8_t from[kMaxSenderAddress] = {};
    uint32_t from_len = 0;
    uint32_t got = 0;
    const bool broadcast = d.Broadcast != 0;
    const uint32_t err = platform().socket_receive(own::socket_of(d), buffer, capacity, &got,
                                                   broadcast ? from : nullptr, &from_len);
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
    return p.serial_configure(h, {s.BaudRate, s.DataBits, s.Parity, s.StopBits});
}

uint32_t close_serial(ZEBDevice& d) noexcept {
    if (own::owns(d, own::kPort)) platform().serial_close(own::port_of(d));
    return 0;
}

uint32_t send_serial(ZEBDevice& d, const uint8_t* frame, uint16_t length) noexcept {
    if (!own::owns(d, own::kPort)) return ZEBERR_BAD_DEVICE;
    return platform().serial_write(own::port_of(d), frame, length);
}

// Reads exactly `want` bytes or reports why not: 0 with *got short when the port went quiet.
uint32_t read_serial(ZEBDevice& d, uint8_t* buf, uint32_t want, uint32_t* got) {
    return platform().serial_read(own::port_of(d), buf, want, got);
}

// Reads and drops `count` bytes of a body that does not fit the caller's buffer.
uint32_t drop_serial(ZEBDevice& d, uint32_t count) {
    uint8_t scratch[256];
    while (count > 0) {
        const uint32_t chunk = std::min<uint32_t>(count, sizeof scratch);
        uint32_t got = 0;
        if (uint32_t err = read_serial(d, scratch, chunk, &got)) return err;
        if (got < chunk) return plat::kBrokenPipe;
        count -= chunk;
    }
    return 0;
}

uint32_t receive_serial(ZEBDevice& d, uint8_t* buffer, int32_t* length) noexcept {
    if (!own::owns(d, own::kPort)) return ZEBERR_BAD_DEVICE;
    const uint32_t capacity = *length > 0 ? static_cast<uint32_t>(*length) : 0;
    *length = 0;
    uint8_t header[frame::kHeaderSize];
    uint32_t got = 0;
    if (uint32_t err = read_serial(d, header, sizeof header, &got)) return err;
    if (got == 0) return 0;
    if (got < sizeof header) return plat::kBrokenPipe;
    const uint32_t body = frame::get_u16(header + frame::kLengthAt);
    if (capacity < frame::kHeaderSize + body) {
        // The frame does not fit: keep the line in step by reading it to its end.
        if (uint32_t err = drop_serial(d, body)) return err;
        return ZEBERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, header, sizeof header);
    if (uint32_t err = read_serial(d, buffer + frame::kHeaderSize, body, &got)) return err;
    if (got < body) return plat::kBrokenPipe;
    *length = static_cast<int32_t>(frame::kHeaderSize + body);
    return 0;
}

// The port's reads wait by themselves, within the port's time-outs.
plat::Handle serial_handle(const ZEBDevice&) noexcept {
    return plat::kNoHandle;
}

// ---- The tables ----

constexpr LinkOps kUdp{start_sockets, stop_sockets,   open_udp,     close_socket,
                       send_udp,      receive_socket, socket_handle};
constexpr LinkOps kIpx{start_sockets, stop_sockets,   open_ipx,     close_socket,
                       send_ipx,      receive_socket, socket_handle};
constexpr LinkOps kSerial{start_serial, stop_serial,    open_serial,  close_serial,
                          send_serial,  receive_serial, serial_handle};

}  // namespace

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
    return link ? link->send(*device, frame, length) : why;
}

uint32_t ReceiveFrame(ZEBDevice* device, uint8_t* buffer, int32_t* length) noexcept {
    uint32_t why = 0;
    const LinkOps* link = link_of(*device, &why);
    return link ? link->receive(*device, buffer, length) : why;
}

uint32_t ClockMs() noexcept {
    return platform().clock_ms();
}

plat::Handle wait_handle(const ZEBDevice& device) noexcept {
    const LinkOps* link = link_of(device);
    return link ? link->wait_handle(device) : plat::kNoHandle;
}

void wait_for_frame(const ZEBDevice& device, uint32_t timeout_ms) noexcept {
    const plat::Handle h = wait_handle(device);
    if (h != plat::kNoHandle) platform().wait_readable(&h, 1, timeout_ms);
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
