// Which system resources a device record really owns. A record whose open failed, or that was
// never opened, holds Socket 0 (on POSIX: standard input) and must never close it; so the
// device keeps its own note in a reserved byte, set only when an open succeeded.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "zeb.h"

namespace zeb::own {

inline constexpr uint8_t kSocket = 0x01;
inline constexpr uint8_t kPort = 0x02;
// Not a resource, but kept in the same byte for the same reason (cleared by every open): the
// device's module has sent a reply with a CRC in it.
inline constexpr uint8_t kModuleSendsCrc = 0x04;

inline uint8_t& flags(ZEBDevice& d) noexcept {
    return d.Reserved3[0];
}
inline bool owns(const ZEBDevice& d, uint8_t what) noexcept {
    return (d.Reserved3[0] & what) != 0;
}

inline plat::Handle socket_of(const ZEBDevice& d) noexcept {
    return static_cast<plat::Handle>(d.Socket);
}
inline plat::Handle port_of(const ZEBDevice& d) noexcept {
    return reinterpret_cast<plat::Handle>(d.Address.Serial.PortHandle);
}
inline void set_port(ZEBDevice& d, plat::Handle h) noexcept {
    d.Address.Serial.PortHandle = reinterpret_cast<void*>(h);
}

}  // namespace zeb::own
