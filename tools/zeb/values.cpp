#include "values.h"

#include <cstdio>

namespace zeb::cli {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool printable(uint8_t c) {
    return c >= 0x20 && c < 0x7F;
}

}  // namespace

std::optional<uint64_t> parse_unsigned(std::string_view text, uint64_t max) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        const int digit = hex_digit(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
        if (static_cast<uint64_t>(digit) > max ||
            value > (max - static_cast<uint64_t>(digit)) / base) {
            return std::nullopt;
        }
        value = value * base + static_cast<uint64_t>(digit);
    }
    return value;
}

std::optional<int64_t> parse_signed(std::string_view text, int64_t min, int64_t max) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    const uint64_t limit =
        negative ? static_cast<uint64_t>(-(min + 1)) + 1 : static_cast<uint64_t>(max);
    const auto magnitude = parse_unsigned(text, limit);
    if (!magnitude) return std::nullopt;
    if (!negative) return static_cast<int64_t>(*magnitude);
    return *magnitude == 0 ? 0 : -static_cast<int64_t>(*magnitude - 1) - 1;
}

std::optional<Bytes> parse_hex_bytes(std::string_view text) {
    Bytes out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == ' ' || c == ':' || c == '-' || c == '\t') {
            ++pos;
            continue;
        }
        if (pos + 1 >= text.size()) return std::nullopt;
        const int hi = hex_digit(c);
        const int lo = hex_digit(text[pos + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
        pos += 2;
    }
    return out;
}

std::optional<Bytes> parse_escaped_text(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(static_cast<uint8_t>(text[i]));
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '0':
                out.push_back(0);
                break;
            case '\\':
                out.push_back('\\');
                break;
            case 'x': {
                if (i + 2 >= text.size()) return std::nullopt;
                const int hi = hex_digit(text[i + 1]);
                const int lo = hex_digit(text[i + 2]);
                if (hi < 0 || lo < 0) return std::nullopt;
                out.push_back(static_cast<uint8_t>(hi << 4 | lo));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

bool is_printable_text(std::span<const uint8_t> bytes) {
    std::size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0) --end;
    if (end == 0) return false;
    for (std::size_t i = 0; i < end; ++i) {
        if (!printable(bytes[i])) return false;
    }
    return true;
}

std::string text_up_to_zero(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (b == 0) break;
        text += static_cast<char>(b);
    }
    return text;
}

std::string hex_text(std::span<const uint8_t> bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i > 0) out += ' ';
        out += buf;
    }
    return out;
}

std::string escaped_text(std::span<const uint8_t> bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        switch (b) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (printable(b)) {
                    out += static_cast<char>(b);
                } else {
                    char buf[5];
                    std::snprintf(buf, sizeof buf, "\\x%02X", b);
                    out += buf;
                }
        }
    }
    return out;
}

std::string hex_dump(std::span<const uint8_t> bytes, uint64_t first_address) {
    std::string out;
    char buf[16];
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        std::snprintf(buf, sizeof buf, "%08llX ",
                      static_cast<unsigned long long>(first_address + line));
        out += buf;
        std::string chars;
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < bytes.size()) {
                std::snprintf(buf, sizeof buf, " %02X", bytes[i]);
                out += buf;
                chars += printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
            } else {
                out += "   ";
            }
        }
        out += "  " + chars + "\n";
    }
    return out;
}

uint16_t le16(std::span<const uint8_t> b, std::size_t at) {
    if (at + 2 > b.size()) return 0;
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

uint32_t le32(std::span<const uint8_t> b, std::size_t at) {
    if (at + 4 > b.size()) return 0;
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

}  // namespace zeb::cli
