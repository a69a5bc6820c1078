#include "diagnostics.h"

#include <algorithm>

#include "capacities.h"
#include "module.h"

namespace racksim {

static_assert(kEthernetStatsSize <= kMaxStatsRecord);
static_assert(kModuleStatusSize <= kMaxStatusBlock);

namespace {

constexpr uint16_t kLayout = 1;
constexpr uint16_t kLinkMbits = 100;

uint32_t clamp_u32(uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

uint64_t since(uint64_t now, uint64_t then) {
    return now >= then ? now - then : 0;
}

// Whether the base holds the installed records, whatever its images hold.
bool base_as_installed(const BaseIo& base) {
    return std::equal(base.slots.begin(), base.slots.end(), base.installed.begin(),
                      base.installed.end(), [](const auto& a, const auto& b) {
                          return a.first == b.first && a.second.record == b.second.record;
                      });
}

}  // namespace

Bytes ethernet_stats(const Module& m, uint64_t now_ms) {
    const EthernetCounters& c = m.diagnostics.ethernet;
    Bytes b;
    put_u16(b, kEthernetStatsSize);
    put_u16(b, kLayout);
    for (uint32_t v : {c.frames_in, c.frames_out, c.bytes_in, c.bytes_out, c.broadcast_in,
                       c.crc_errors, c.bad_frames, c.missed}) {
        put_u32(b, v);
    }
    put_u32(b, clamp_u32(since(now_ms, c.cleared_ms) / 1000));
    b.insert(b.end(), m.identity.hw.begin(), m.identity.hw.end());
    put_u16(b, kLinkMbits);
    return b;
}

Bytes module_status(const Module& m, uint64_t now_ms) {
    const Diagnostics& d = m.diagnostics;
    Bytes b;
    put_u16(b, kModuleStatusSize);
    put_u16(b, kLayout);
    put_u32(b, clamp_u32(since(now_ms, d.started_ms)));
    b.push_back(m.identity.kind);
    b.push_back(base_as_installed(m.base) ? 0 : 1);
    b.push_back(static_cast<uint8_t>(m.base.base_slots));
    b.push_back(static_cast<uint8_t>(m.base.slots.size()));
    put_u32(b, d.requests);
    put_u32(b, d.lost);
    put_u32(b, d.pets);
    put_u32(b, d.petted ? clamp_u32(since(now_ms, d.last_pet_ms)) : UINT32_MAX);
    put_u16(b, static_cast<uint16_t>(m.setup.size()));
    put_u16(b, static_cast<uint16_t>(m.config.size()));
    return b;
}

void start_diagnostics(Module& m, uint64_t now_ms) {
    m.diagnostics.started_ms = now_ms;
    m.diagnostics.ethernet.cleared_ms = now_ms;
}

}  // namespace racksim
