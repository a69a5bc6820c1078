#include "blocks.h"

#include <cstdio>
#include <string>

#include "addresses.h"
#include "module_facts.h"
#include "values.h"
#include "vocab/module_kinds.h"

namespace zeb::cli {

namespace {

constexpr uint16_t kLayout = 1;
constexpr std::size_t kStatsSize = 48;
constexpr std::size_t kStatusSize = 32;

std::string hex_byte(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value);
    return buf;
}

// A block whose layout is unknown: its bytes.
Decoded raw(std::span<const uint8_t> block) {
    Decoded d;
    d.fields.emplace_back("bytes", hex_text(block));
    d.json["bytes"] = hex_text(block);
    return d;
}

bool has_layout(std::span<const uint8_t> block, std::size_t size) {
    return block.size() >= size && le16(block, 0) >= size && le16(block, 2) == kLayout;
}

// Counter fields: little-endian u32 at `at`, named.
void counter(Decoded& d, std::span<const uint8_t> b, std::size_t at, const char* label,
             const char* key) {
    const uint32_t v = le32(b, at);
    d.fields.emplace_back(label, std::to_string(v));
    d.json[key] = v;
}

}  // namespace

Decoded decode_version(std::span<const uint8_t> b) {
    if (b.size() < 4) return raw(b);
    Decoded d;
    const std::string firmware = std::to_string(b[0]) + "." + std::to_string(b[1]);
    const std::string producer = text_up_to_zero(b.subspan(4));
    d.fields = {{"firmware", firmware},
                {"hardware revision", std::to_string(le16(b, 2))},
                {"producer", producer}};
    d.json["firmware"] = firmware;
    d.json["hardware_revision"] = le16(b, 2);
    d.json["producer"] = producer;
    return d;
}

Decoded decode_support(std::span<const uint8_t> b) {
    Decoded d;
    std::string list;
    Json codes = Json::array();
    for (std::size_t code = 0; code < b.size() * 8; ++code) {
        if (!((b[code / 8] >> (code % 8)) & 1)) continue;
        list += (list.empty() ? "" : " ") + hex_byte(static_cast<unsigned>(code));
        codes.push_back(code);
    }
    d.fields.emplace_back("functions served", list.empty() ? "none listed" : list);
    d.json["functions"] = codes;
    return d;
}

Decoded decode_device_def(std::span<const uint8_t> b) {
    if (b.size() < 14) return raw(b);
    Decoded d;
    HwAddress hw{};
    for (std::size_t i = 0; i < hw.size(); ++i) hw[i] = b[kHardwareAddressAt + i];
    const std::string name = text_up_to_zero(b.subspan(14));
    const uint8_t kind = b[vocab::device_def::kKindAt];
    d.fields = {{"kind", std::to_string(kind) + " (" + kind_name(kind) + ")"},
                {"definition revision", std::to_string(b[1])},
                {"base slots", std::to_string(b[3])},
                {"number", std::to_string(le32(b, 4))},
                {"hardware address", hw_text(hw)},
                {"name", name}};
    d.json["kind"] = kind;
    d.json["kind_name"] = kind_name(kind);
    d.json["revision"] = b[1];
    d.json["base_slots"] = b[3];
    d.json["number"] = le32(b, 4);
    d.json["hardware_address"] = hw_text(hw);
    d.json["name"] = name;
    return d;
}

Decoded decode_ethernet_stats(std::span<const uint8_t> b) {
    if (!has_layout(b, kStatsSize)) return raw(b);
    Decoded d;
    counter(d, b, 4, "frames in", "frames_in");
    counter(d, b, 8, "frames out", "frames_out");
    counter(d, b, 12, "bytes in", "bytes_in");
    counter(d, b, 16, "bytes out", "bytes_out");
    counter(d, b, 20, "broadcast frames in", "broadcast_in");
    counter(d, b, 24, "CRC errors", "crc_errors");
    counter(d, b, 28, "other bad frames", "bad_frames");
    counter(d, b, 32, "frames missed", "missed");
    counter(d, b, 36, "seconds since cleared", "seconds_since_cleared");
    HwAddress hw{};
    for (std::size_t i = 0; i < hw.size(); ++i) hw[i] = b[40 + i];
    d.fields.emplace_back("hardware address", hw_text(hw));
    d.fields.emplace_back("link", std::to_string(le16(b, 46)) + " Mbit/s");
    d.json["hardware_address"] = hw_text(hw);
    d.json["link_mbits"] = le16(b, 46);
    return d;
}

Decoded decode_module_status(std::span<const uint8_t> b) {
    if (!has_layout(b, kStatusSize)) return raw(b);
    Decoded d;
    const uint32_t uptime = le32(b, 4);
    char up[32];
    std::snprintf(up, sizeof up, "%u.%03u s", uptime / 1000, uptime % 1000);
    d.fields.emplace_back("uptime", up);
    d.json["uptime_ms"] = uptime;
    d.fields.emplace_back("kind", std::to_string(b[8]) + " (" + kind_name(b[8]) + ")");
    d.json["kind"] = b[8];
    d.fields.emplace_back("base", b[9] == 0 ? "as installed" : "written by a host");
    d.json["base_written"] = b[9] != 0;
    d.fields.emplace_back("slots",
                          std::to_string(b[11]) + " of " + std::to_string(b[10]) + " occupied");
    d.json["base_slots"] = b[10];
    d.json["occupied_slots"] = b[11];
    counter(d, b, 12, "requests", "requests");
    counter(d, b, 16, "requests lost", "requests_lost");
    counter(d, b, 20, "keep-alives", "keep_alives");
    const uint32_t since = le32(b, 24);
    d.fields.emplace_back("last keep-alive",
                          since == 0xFFFFFFFFu ? "none" : std::to_string(since) + " ms ago");
    if (since == 0xFFFFFFFFu) {
        d.json["ms_since_keep_alive"] = nullptr;
    } else {
        d.json["ms_since_keep_alive"] = since;
    }
    d.fields.emplace_back("setup records", std::to_string(le16(b, 28)));
    d.json["setup_records"] = le16(b, 28);
    d.fields.emplace_back("configuration bytes", std::to_string(le16(b, 30)));
    d.json["configuration_bytes"] = le16(b, 30);
    return d;
}

}  // namespace zeb::cli
