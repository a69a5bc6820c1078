#include "report.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>

namespace racktap {

namespace {

[[gnu::format(printf, 2, 3)]] void appendf(std::string& out, const char* format, ...) {
    std::array<char, 256> line{};
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line.data(), line.size(), format, args);
    va_end(args);
    if (n > 0) out.append(line.data(), std::min<std::size_t>(std::size_t(n), line.size() - 1));
}

// "0x00008006 (ZEBERR_TIMEOUT: no reply, after every re-send)"
std::string result_text(uint32_t result) {
    std::array<char, 256> text{};
    ZEBResultText(result, text.data(), static_cast<uint32_t>(text.size()));
    std::array<char, 16> code{};
    std::snprintf(code.data(), code.size(), "0x%08X", result);
    return std::string(code.data()) + " (" + text.data() + ")";
}

void append_address(std::string& out, uint16_t protocol, const ZEBDevice& module) {
    const uint8_t* a = module.Address.Raw;
    if (protocol == ZEB_PROTOCOL_IP) {
        appendf(out, "Module: IP address %u.%u.%u.%u", a[4], a[5], a[6], a[7]);
    } else {
        appendf(out, "Module: IPX address %02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X", a[2], a[3],
                a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]);
    }
    const uint8_t* h = module.NodeAddress;
    appendf(out, ", hardware address %02X-%02X-%02X-%02X-%02X-%02X\n", h[0], h[1], h[2], h[3], h[4],
            h[5]);
}

void append_counts(std::string& out, int slot, const Counts& c) {
    appendf(out,
            "Slot %d: bit inputs %u, bit outputs %u, word inputs %u, word outputs %u, "
            "32-bit inputs %u, 32-bit outputs %u\n",
            slot, c.bit_inputs, c.bit_outputs, c.word_inputs, c.word_outputs, c.dword_inputs,
            c.dword_outputs);
}

void append_bits(std::string& out, int slot, const char* what,
                 const std::array<uint8_t, kMaxBits / 8>& image, uint8_t count) {
    const int n = held(count, kMaxBits);
    if (n == 0) return;
    appendf(out, "  slot %d %s:", slot, what);
    for (int i = 0; i < n; ++i) {
        if (i % 8 == 0) out += ' ';
        out += get_bit(image, count, i).value_or(false) ? '1' : '0';
    }
    out += '\n';
}

template <typename T, std::size_t N>
void append_values(std::string& out, int slot, const char* what, const std::array<T, N>& image,
                   uint8_t count) {
    const int n = held(count, static_cast<int>(N));
    if (n == 0) return;
    appendf(out, "  slot %d %s:", slot, what);
    for (int i = 0; i < n; ++i) {
        if constexpr (sizeof(T) == 2) {
            appendf(out, " 0x%04X", static_cast<unsigned>(image[i]));
        } else {
            appendf(out, " 0x%08X", static_cast<unsigned>(image[i]));
        }
    }
    out += '\n';
}

}  // namespace

std::string format_report(uint16_t protocol, const ZEBDevice& module,
                          const TransactionRecord& record) {
    std::string out;
    append_address(out, protocol, module);

    bool any = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!record.map[slot]) continue;
        append_counts(out, slot, record.map[slot]->counts);
        any = true;
    }
    if (!any) out += "No modules described: result " + result_text(record.base_def_result) + "\n";

    out += "Inputs read: result " + result_text(record.read_result) + "\n";
    for (int slot = 0; slot < kSlotCount && record.inputs_delivered; ++slot) {
        if (!record.map[slot]) continue;
        const SlotDescriptor& d = *record.map[slot];
        append_bits(out, slot, "bit inputs", d.bit_inputs, d.counts.bit_inputs);
        append_values(out, slot, "word inputs", d.word_inputs, d.counts.word_inputs);
        append_values(out, slot, "32-bit inputs", d.dword_inputs, d.counts.dword_inputs);
    }

    appendf(out, "Outputs written: %u bytes, result ", static_cast<unsigned>(record.output_length));
    out += result_text(record.write_result) + "\n";
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!record.sent[slot]) continue;
        const SlotDescriptor& d = *record.sent[slot];
        append_bits(out, slot, "bit outputs", d.bit_outputs, d.counts.bit_outputs);
        append_values(out, slot, "word outputs", d.word_outputs, d.counts.word_outputs);
        append_values(out, slot, "32-bit outputs", d.dword_outputs, d.counts.dword_outputs);
    }
    return out;
}

}  // namespace racktap
