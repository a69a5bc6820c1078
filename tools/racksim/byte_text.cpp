#include "byte_text.h"

#include <cstdio>

namespace racksim {

namespace {

constexpr size_t kShown = 16;  // bytes shown in a log line

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

bool is_text(const Bytes& b) {
    for (uint8_t c : b) {
        if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return true;
}

std::string hex_text(const uint8_t* data, size_t len) {
    std::string s;
    s.reserve(len * 3);
    for (size_t i = 0; i < len; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", data[i]);
        s += pair;
    }
    return s;
}

bool parse_hex(const std::string& text, Bytes* out, std::string* why) {
    for (size_t i = 0; i < text.size();) {
        if (is_space(text[i])) {
            ++i;
            continue;
        }
        auto fail = [&](const std::string& reason) {
            if (why) *why = reason;
            return false;
        };
        auto not_hex = [&](size_t at) {
            return fail("\"" + text.substr(at, 1) + "\" at " + std::to_string(at) +
                        " is not a hex digit");
        };
        const int hi = hex_digit(text[i]);
        if (hi < 0) return not_hex(i);
        if (i + 1 >= text.size() || is_space(text[i + 1])) {
            return fail("a byte needs two hex digits (at " + std::to_string(i) + ")");
        }
        const int lo = hex_digit(text[i + 1]);
        if (lo < 0) return not_hex(i + 1);
        out->push_back(static_cast<uint8_t>(hi * 16 + lo));
        i += 2;
    }
    return true;
}

std::string short_text(const Bytes& b) {
    std::string s = std::to_string(b.size()) + (b.size() == 1 ? " byte" : " bytes");
    if (b.empty()) return s;
    const bool cut = b.size() > kShown;
    const Bytes head(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(cut ? kShown : b.size()));
    if (is_text(b)) {
        std::string t(head.begin(), head.end());
        for (char& c : t) {
            if (c < 0x20) c = ' ';
        }
        return s + " \"" + t + (cut ? "...\"" : "\"");
    }
    return s + " " + hex_text(head) + (cut ? " ..." : "");
}

}  // namespace racksim
