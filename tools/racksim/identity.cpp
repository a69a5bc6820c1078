#include "identity.h"

#include <algorithm>
#include <cstring>

#include "functions.h"

namespace racksim {

void append_discovery_answer(const Module& m, const Faults& faults, Bytes& out) {
    const Identity& id = m.identity;
    out.push_back(0x55);
    out.push_back(0xAA);
    out.insert(out.end(), id.hw.begin(), id.hw.end());
    out.push_back(faults.broadcast_only ? 1 : 0);
    out.push_back(id.kind);
    put_u32(out, m.number());
}

Bytes discovery_answer(const Module& m, const Faults& faults) {
    Bytes b;
    append_discovery_answer(m, faults, b);
    return b;
}

bool query_applies(const Module& m, uint16_t type, const uint8_t* data, size_t len) {
    return store_matches(m.setup, type, data, len);
}

Bytes version_block(const Module& m) {
    if (!m.identity.version_block.empty()) return m.identity.version_block;
    // Firmware 1.0, hardware revision 1, then the producer's text.
    Bytes b{1, 0, 1, 0};
    const char text[] = "RackSim";
    b.insert(b.end(), text, text + sizeof text);
    return b;
}

Bytes support_block(const Module& m) {
    if (!m.identity.support_block.empty()) return m.identity.support_block;
    // A bitmap of the function codes the module serves: bit n of byte n / 8. A controller
    // module's own codes only where there is one.
    Bytes b(32, 0);
    for (uint8_t fn : served_functions()) {
        if (is_controller_function(fn) && !m.controller_os.enabled()) continue;
        b[fn / 8] |= static_cast<uint8_t>(1u << (fn % 8));
    }
    return b;
}

Bytes device_definition(const Module& m) {
    const Identity& id = m.identity;
    if (!id.device_def.empty()) return id.device_def;
    // Size, revision, kind, base slots, module number, hardware address, name (28 bytes,
    // zero-terminated).
    Bytes b{static_cast<uint8_t>(kDeviceDefSize), 1, id.kind,
            static_cast<uint8_t>(m.base.base_slots)};
    put_u32(b, m.number());
    b.insert(b.end(), id.hw.begin(), id.hw.end());
    Bytes name(kDeviceDefSize - b.size(), 0);
    const std::string text = m.name();
    std::memcpy(name.data(), text.data(), std::min(text.size(), name.size() - 1));
    b.insert(b.end(), name.begin(), name.end());
    return b;
}

}  // namespace racksim
