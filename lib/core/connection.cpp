// Opening and closing the library, transports and devices.
#include <cstring>

#include "frame.h"
#include "ownership.h"
#include "platform/platform.h"
#include "state.h"
#include "zeb.h"

namespace zeb {
namespace {

using plat::platform;

constexpr uint32_t kIpAddressSize = 16;
constexpr uint32_t kIpxAddressSize = 14;

bool winsock_protocol_ok(const ZEBTransport& t) {
    return t.Protocol == ZEB_PROTOCOL_IPX || t.Protocol == ZEB_PROTOCOL_IP;
}

// The local address a device's socket is bound to: the transport's source address, or any.
uint32_t local_address(const ZEBTransport& t, uint8_t (&addr)[kIpAddressSize]) {
    std::memset(addr, 0, sizeof addr);
    const auto* source = static_cast<const uint8_t*>(t.SourceAddress);
    if (t.Protocol == ZEB_PROTOCOL_IPX) {
        if (source) {
            std::memcpy(addr, source, kIpxAddressSize);
        } else {
            frame::put_u16(addr, plat::kFamilyIpx);
        }
        return kIpxAddressSize;
    }
    if (source) {
        std::memcpy(addr, source, 8);  // family, port, IPv4 address; the rest stays zero
    } else {
        frame::put_u16(addr, plat::kFamilyInet);
    }
    return kIpAddressSize;
}

uint32_t open_socket(ZEBDevice& d, const ZEBTransport& t) {
    const bool ip = t.Protocol == ZEB_PROTOCOL_IP;
    if (ip && !d.Broadcast && d.Address.Ip.BroadcastOnly == 1) return ZEBERR_NEEDS_BROADCAST;
    uint8_t local[kIpAddressSize];
    const uint32_t addr_len = local_address(t, local);
    plat::Platform& p = platform();
    plat::Handle h = plat::kNoHandle;
    if (uint32_t err = p.socket_open(ip ? plat::kFamilyInet : plat::kFamilyIpx, &h)) return err;
    uint32_t err = p.socket_bind(h, local, addr_len);
    if (!err) {
        err = d.Broadcast
                  ? p.socket_allow_broadcast(h)
                  : p.socket_connect(h, d.Address.Raw, ip ? kIpAddressSize : kIpxAddressSize);
    }
    if (!err) err = p.socket_set_nonblocking(h);
    if (err) {
        p.socket_close(h);
        return err;
    }
    d.Socket = static_cast<uintptr_t>(h);
    own::flags(d) |= own::kSocket;
    return 0;
}

uint32_t open_serial(ZEBDevice& d) {
    plat::Platform& p = platform();
    const ZEBSerialAddress& s = d.Address.Serial;
    plat::Handle h = plat::kNoHandle;
    const uint32_t err = p.serial_open(s.ComPort, &h);
    own::set_port(d, h);
    if (err) return err;
    own::flags(d) |= own::kPort;
    return p.serial_configure(h, {s.BaudRate, s.DataBits, s.Parity, s.StopBits});
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBOpen(uint16_t version) {
    return version == ZEB_API_VERSION ? 0 : ZEBERR_BAD_VERSION;
}

uint32_t ZEBClose(void) {
    return 0;
}

uint32_t ZEBOpenTransport(ZEBTransport* transport, uint16_t version, void* source_address) {
    if (version != ZEB_API_VERSION) return ZEBERR_BAD_VERSION;
    if (!transport) return ZEBERR_NULL_TRANSPORT;
    transport->KeyMode = 0;
    transport->SourceAddress = source_address;
    switch (transport->Kind) {
        case ZEB_TRANSPORT_WINSOCK:
            if (!winsock_protocol_ok(*transport)) return ZEBERR_BAD_PROTOCOL;
            return state::acquire_socket_layer();
        case ZEB_TRANSPORT_SERIAL:
            return 0;
        default:
            return ZEBERR_BAD_TRANSPORT;
    }
}

uint32_t ZEBCloseTransport(ZEBTransport* transport) {
    if (!transport) return ZEBERR_NULL_TRANSPORT;
    switch (transport->Kind) {
        case ZEB_TRANSPORT_WINSOCK:
            if (!winsock_protocol_ok(*transport)) return ZEBERR_BAD_PROTOCOL;
            state::release_socket_layer();
            return 0;
        case ZEB_TRANSPORT_SERIAL:
            return 0;
        default:
            return ZEBERR_BAD_TRANSPORT;
    }
}

uint32_t ZEBOpenDevice(ZEBTransport* transport, ZEBDevice* device, uint16_t version,
                       uint16_t timeout, uint16_t retries, int32_t broadcast) {
    if (version != ZEB_API_VERSION) return ZEBERR_BAD_VERSION;
    if (!transport) return ZEBERR_NULL_TRANSPORT;
    if (!device) return ZEBERR_BAD_DEVICE;
    ZEBDevice& d = *device;
    d.Socket = 0;
    own::flags(d) = 0;
    d.Timeout = timeout;
    d.Retries = retries;
    d.ExtendedHeader = broadcast;
    d.Broadcast = broadcast;
    d.FromAddress = nullptr;
    d.FromAddressSize = 0;
    d.DataOffset = broadcast ? frame::kExtendedHeaderSize : frame::kHeaderSize;
    std::memset(d.Reserved2, 0, sizeof d.Reserved2);
    d.ResendCount = d.CrcErrorCount = d.LateReplyCount = 0;
    d.NoWait = 0;
    d.Transport = transport;
    switch (transport->Kind) {
        case ZEB_TRANSPORT_WINSOCK:
            if (!winsock_protocol_ok(*transport)) return ZEBERR_BAD_PROTOCOL;
            return open_socket(d, *transport);
        case ZEB_TRANSPORT_SERIAL:
            return open_serial(d);
        default:
            return ZEBERR_BAD_TRANSPORT;
    }
}

uint32_t ZEBCloseDevice(ZEBDevice* device) {
    if (!device) return ZEBERR_BAD_DEVICE;
    ZEBDevice& d = *device;
    if (!d.Transport) return 0;
    uint32_t result = 0;
    switch (d.Transport->Kind) {
        case ZEB_TRANSPORT_WINSOCK:
            if (!winsock_protocol_ok(*d.Transport)) {
                result = ZEBERR_BAD_PROTOCOL;
            } else if (own::owns(d, own::kSocket)) {
                result = platform().socket_close(own::socket_of(d));
            }
            break;
        case ZEB_TRANSPORT_SERIAL:
            if (own::owns(d, own::kPort)) platform().serial_close(own::port_of(d));
            break;
        default:
            result = ZEBERR_BAD_TRANSPORT;
    }
    // Once closed, the record owns nothing, whatever the close reported.
    if (result != ZEBERR_BAD_PROTOCOL && result != ZEBERR_BAD_TRANSPORT) own::flags(d) = 0;
    d.Transport = nullptr;
    return result;
}

}  // extern "C"
