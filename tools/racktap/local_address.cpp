#include "local_address.h"

#include <cstddef>

namespace racktap {

std::optional<SocketAddress> parse_local_address(std::string_view text) {
    std::array<uint8_t, 4> parts{};
    std::size_t pos = 0;
    for (std::size_t part = 0; part < parts.size(); ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        parts[part] = static_cast<uint8_t>(value);
    }
    if (pos != text.size()) return std::nullopt;

    SocketAddress address{};
    address[0] = 2;  // family, little-endian; the port (bytes 2 and 3) stays 0
    for (std::size_t i = 0; i < parts.size(); ++i) address[4 + i] = parts[i];
    return address;
}

}  // namespace racktap
