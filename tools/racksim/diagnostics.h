// What a module tells a host that watches it: the counters of its Ethernet interface, a
// keep-alive count and its status block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"

namespace racksim {

struct Module;

// Datagrams that reached the module's interface: sent to its address or broadcast. Counters
// are 32 bits and wrap, as an interface's do.
struct EthernetCounters {
    uint32_t frames_in = 0;
    uint32_t frames_out = 0;
    uint32_t bytes_in = 0;  // datagram bytes, header included
    uint32_t bytes_out = 0;
    uint32_t broadcast_in = 0;
    uint32_t crc_errors = 0;  // frames whose CRC did not match
    uint32_t bad_frames = 0;  // other frames that were no request (short, wrong magic or length)
    uint32_t missed = 0;      // requests lost before the module read them (a loss fault)
    uint64_t cleared_ms = 0;  // when the counters last started from zero
};

struct Diagnostics {
    EthernetCounters ethernet;
    uint64_t started_ms = 0;  // when the module began to play
    // The status block's counters, cleared on request.
    uint32_t requests = 0;  // requests read, loss faults included
    uint32_t lost = 0;      // of those, lost
    uint32_t pets = 0;      // keep-alives
    bool petted = false;
    uint64_t last_pet_ms = 0;
};

// The Ethernet statistics record (no status word), little-endian:
//   0 u16 record size, 2 u16 layout (1), 4 frames in, 8 frames out, 12 bytes in, 16 bytes out,
//   20 broadcast frames in, 24 CRC errors, 28 other bad frames, 32 frames missed, 36 seconds
//   since the counters were cleared (all u32), 40 hardware address (6), 46 u16 link Mbit/s.
inline constexpr size_t kEthernetStatsSize = 48;
Bytes ethernet_stats(const Module& m, uint64_t now_ms);

// The module status block (after the status word), little-endian:
//   0 u16 block size, 2 u16 layout (1), 4 u32 uptime ms, 8 u8 kind, 9 u8 base state (0: as
//   installed, 1: a base definition written by a host), 10 u8 base slots, 11 u8 occupied slots,
//   12 u32 requests, 16 u32 requests lost, 20 u32 keep-alives, 24 u32 ms since the last
//   keep-alive (0xFFFFFFFF: none yet), 28 u16 setup records, 30 u16 configuration bytes.
inline constexpr size_t kModuleStatusSize = 32;
Bytes module_status(const Module& m, uint64_t now_ms);

// Starts a module's clocks: uptime, and the age of its Ethernet counters.
void start_diagnostics(Module& m, uint64_t now_ms);

}  // namespace racksim
