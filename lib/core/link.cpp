#include "link.h"

#include <algorithm>
#include <cstring>

#include "frame.h"
#include "ownership.h"

namespace zeb {
namespace {

using plat::platform;

constexpr uint32_t kNotASocket = 10038;  // WSAENOTSOCK
constexpr uint32_t kIpAddressSize = 16;
constexpr uint32_t kIpxAddressSize = 14;
constexpr uint32_t kMaxSenderAddress = 16;

bool is_winsock(const ZEBDevice& d) {
    return d.Transport && d.Transport->Kind == ZEB_TRANSPORT_WINSOCK;
}
bool is_serial(const ZEBDevice& d) {
    return d.Transport && d.Transport->Kind == ZEB_TRANSPORT_SERIAL;
}

// Where a broadcast goes: every module port on the local network (IP), or the IPX broadcast
// node on the source address's network.
uint32_t broadcast_address(const ZEBTransport& t, uint8_t (&addr)[kIpAddressSize]) {
    std::memset(addr, 0, sizeof addr);
    const uint8_t port[2] = {ZEB_MODULE_PORT >> 8, ZEB_MODULE_PORT & 0xFF};
    if (t.Protocol == ZEB_PROTOCOL_IP) {
        frame::put_u16(addr, plat::kFamilyInet);
        std::memcpy(addr + 2, port, 2);
        std::memset(addr + 4, 0xFF, 4);
        return kIpAddressSize;
    }
    frame::put_u16(addr, plat::kFamilyIpx);
    if (t.SourceAddress) std::memcpy(addr + 2, static_cast<const uint8_t*>(t.SourceAddress) + 2, 4);
    std::memset(addr + 6, 0xFF, 6);
    std::memcpy(addr + 12, port, 2);
    return kIpxAddressSize;
}

uint32_t send_serial(ZEBDevice& d, const uint8_t* frame, uint16_t length) {
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

uint32_t receive_serial(ZEBDevice& d, uint8_t* buffer, int32_t* length) {
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

uint32_t receive_socket(ZEBDevice& d, uint8_t* buffer, int32_t* length) {
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

}  // namespace

uint32_t SendFrame(ZEBDevice* device, const uint8_t* frame, uint16_t length) noexcept {
    ZEBDevice& d = *device;
    if (is_serial(d)) return send_serial(d, frame, length);
    if (!is_winsock(d)) return ZEBERR_BAD_TRANSPORT;
    if (!own::owns(d, own::kSocket)) return kNotASocket;
    if (!d.Broadcast) return platform().socket_send(own::socket_of(d), frame, length);
    uint8_t addr[kIpAddressSize];
    const uint32_t addr_len = broadcast_address(*d.Transport, addr);
    return platform().socket_send_to(own::socket_of(d), frame, length, addr, addr_len);
}

uint32_t ReceiveFrame(ZEBDevice* device, uint8_t* buffer, int32_t* length) noexcept {
    ZEBDevice& d = *device;
    if (is_serial(d)) return receive_serial(d, buffer, length);
    if (!is_winsock(d)) return ZEBERR_BAD_TRANSPORT;
    return receive_socket(d, buffer, length);
}

uint32_t ClockMs() noexcept {
    return platform().clock_ms();
}

plat::Handle wait_handle(const ZEBDevice& device) noexcept {
    if (!is_winsock(device) || !own::owns(device, own::kSocket)) return plat::kNoHandle;
    return own::socket_of(device);
}

void wait_for_frame(const ZEBDevice& device, uint32_t timeout_ms) noexcept {
    const plat::Handle h = wait_handle(device);
    if (h != plat::kNoHandle) platform().wait_readable(&h, 1, timeout_ms);
}

}  // namespace zeb
