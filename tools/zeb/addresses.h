// Addresses as people write them: IPv4 dotted quads, hardware addresses, and the MODULE
// argument that names a module by address, number, name or hardware address.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "zeb.h"

namespace zeb::cli {

using HwAddress = std::array<uint8_t, 6>;

// "a.b.c.d", four decimal parts of 0 to 255 and nothing else; host byte order.
std::optional<uint32_t> parse_ipv4(std::string_view text);
std::string ipv4_text(uint32_t ip);

// Six pairs of hex digits separated by ':' or '-' (or none at all).
std::optional<HwAddress> parse_hw(std::string_view text);
std::string hw_text(const HwAddress& hw);  // "02:52:53:00:00:01"

// The library's IPv4 socket address: family 2, port and address in network order.
void put_socket_address(uint8_t* out16, uint32_t ip, uint16_t port);
// The IPv4 address of a device record's socket address (host order).
uint32_t device_ip(const ZEBDevice& device);
HwAddress device_hw(const ZEBDevice& device);

struct ByAddress {
    uint32_t ip;
};
struct ByNumber {
    uint32_t number;
};
struct ByName {
    std::string name;
};
struct ByHardware {
    HwAddress hw;
};
using ModuleRef = std::variant<ByAddress, ByNumber, ByName, ByHardware>;

// IPv4 address, "#N", hardware address, or else a name (at most 255 bytes). Nothing for an
// empty text, a bad number after '#' or an overlong name.
std::optional<ModuleRef> parse_module_ref(std::string_view text);
std::string module_ref_text(const ModuleRef& ref);

}  // namespace zeb::cli
