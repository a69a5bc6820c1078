#include "describe.h"

#include <cstdio>

namespace racksim {

std::string kind_text(uint8_t kind) {
    if (kind == kKindQxRio) return "Qx-RIO";
    if (kind == kKindNode) return "node";
    return "kind " + std::to_string(kind);
}

std::string describe_slot(int number, const Slot& slot) {
    char head[64];
    std::snprintf(head, sizeof head, "slot %d: record kind %u, id 0x%02X", number, slot.record.kind,
                  slot.record.ident);
    std::string s = head;
    const IoCounts& c = slot.counts();
    auto add = [&](unsigned n, const char* what) {
        if (n) s += ", " + std::to_string(n) + " " + what;
    };
    add(c.bit_in, "bit in");
    add(c.bit_out, "bit out");
    add(c.word_in, "word in");
    add(c.word_out, "word out");
    add(c.dword_in, "32-bit in");
    add(c.dword_out, "32-bit out");
    if (slot.behaviour.counter) s += ", counter";
    if (slot.behaviour.wired_from >= 0) {
        s += ", inputs wired from slot " + std::to_string(slot.behaviour.wired_from);
    }
    return s;
}

std::string describe_rack(const Rack& rack) {
    std::string s;
    for (const Module& m : rack.modules()) {
        const Identity& id = m.identity;
        s += "  " + printable(m.name()) + ": number " + std::to_string(m.number()) + ", " +
             kind_text(id.kind) + ", at " + ip_text(id.ip) + ", hardware " + hw_text(id.hw) + "\n";
        for (const auto& [n, slot] : m.base.slots) s += "    " + describe_slot(n, slot) + "\n";
        if (m.controller_os.enabled()) {
            s += "    controller module, files in " + m.controller_os.root + "\n";
        }
    }
    const RackSettings& set = rack.settings();
    s += std::string("  CRC ") + (set.crc ? "on" : "off") + ", key " +
         (set.key.empty() ? "none" : "\"" + set.key + "\"") + "\n";
    return s;
}

std::string first_remote_module(const Rack& rack) {
    for (const Module& m : rack.modules()) {
        const Identity& id = m.identity;
        if ((id.ip >> 24) != 127) return printable(m.name()) + " (" + ip_text(id.ip) + ")";
    }
    return "";
}

}  // namespace racksim
