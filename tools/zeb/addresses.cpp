#include "addresses.h"

#include <cstdio>

#include "values.h"
#include "vocab/setup_types.h"

namespace zeb::cli {

namespace {

// A name query carries the name zero-ended.
constexpr std::size_t kMaxNameLength = vocab::setup::kNameQuerySize - 1;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<uint32_t> parse_ipv4(std::string_view text) {
    uint32_t ip = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        int digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        ip = ip << 8 | value;
    }
    if (pos != text.size()) return std::nullopt;
    return ip;
}

std::string ipv4_text(uint32_t ip) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                  ip & 0xFF);
    return buf;
}

std::optional<HwAddress> parse_hw(std::string_view text) {
    HwAddress hw{};
    const bool separated = text.size() == 17;
    if (!separated && text.size() != 12) return std::nullopt;
    const char separator = separated ? text[2] : 0;
    if (separated && separator != ':' && separator != '-') return std::nullopt;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < hw.size(); ++i) {
        if (i > 0 && separated) {
            if (text[pos] != separator) return std::nullopt;
            ++pos;
        }
        const int hi = hex_digit(text[pos]);
        const int lo = hex_digit(text[pos + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        hw[i] = static_cast<uint8_t>(hi << 4 | lo);
        pos += 2;
    }
    return hw;
}

std::string hw_text(const HwAddress& hw) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", hw[0], hw[1], hw[2], hw[3],
                  hw[4], hw[5]);
    return buf;
}

void put_socket_address(uint8_t* out, uint32_t ip, uint16_t port) {
    for (int i = 0; i < 16; ++i) out[i] = 0;
    out[0] = 2;  // AF_INET, as the library reads it
    out[2] = static_cast<uint8_t>(port >> 8);
    out[3] = static_cast<uint8_t>(port);
    out[4] = static_cast<uint8_t>(ip >> 24);
    out[5] = static_cast<uint8_t>(ip >> 16);
    out[6] = static_cast<uint8_t>(ip >> 8);
    out[7] = static_cast<uint8_t>(ip);
}

uint32_t device_ip(const ZEBDevice& device) {
    const uint8_t* a = device.Address.Raw;
    return uint32_t{a[4]} << 24 | uint32_t{a[5]} << 16 | uint32_t{a[6]} << 8 | a[7];
}

HwAddress device_hw(const ZEBDevice& device) {
    HwAddress hw{};
    for (std::size_t i = 0; i < hw.size(); ++i) hw[i] = device.NodeAddress[i];
    return hw;
}

std::optional<ModuleRef> parse_module_ref(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (const auto ip = parse_ipv4(text)) return ByAddress{*ip};
    if (text[0] == '#') {
        const auto number = parse_unsigned(text.substr(1), 0xFFFFFFFFu);
        if (!number) return std::nullopt;
        return ByNumber{static_cast<uint32_t>(*number)};
    }
    if (const auto hw = parse_hw(text)) return ByHardware{*hw};
    if (text.size() > kMaxNameLength) return std::nullopt;
    return ByName{std::string(text)};
}

std::string module_ref_text(const ModuleRef& ref) {
    if (const auto* a = std::get_if<ByAddress>(&ref)) return ipv4_text(a->ip);
    if (const auto* n = std::get_if<ByNumber>(&ref)) return "#" + std::to_string(n->number);
    if (const auto* h = std::get_if<ByHardware>(&ref)) return hw_text(h->hw);
    return std::get<ByName>(ref).name;
}

}  // namespace zeb::cli
