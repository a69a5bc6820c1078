// The buffers a host receives each reply in and builds a request in, in bytes with the 9-byte
// header. A module's replies must fit them: what a reply's payload may hold follows by taking
// the header away (vocab/frame.h).
#pragma once

#include <cstddef>

namespace zeb::vocab::capacity {

// Replies, by the requests they answer.
inline constexpr size_t kIdentityReply = 200;       // version, support, device definition
inline constexpr size_t kIoReply = 1200;            // read and write I/O
inline constexpr size_t kBaseDefReply = 1000;       // read base definition, rescan
inline constexpr size_t kInitBaseDefReply = 600;    // init base definition
inline constexpr size_t kSetupReply = 600;          // read a setup record, list the types
inline constexpr size_t kConfigReply = 1200;        // read and write the configuration block
inline constexpr size_t kStatsReply = 200;          // Ethernet statistics
inline constexpr size_t kStatusReply = 600;         // module status
inline constexpr size_t kQueryReply = 600;          // discovery answers
inline constexpr size_t kControllerReply = 320;     // CCM and K-sequence answers
inline constexpr size_t kMemoryReply = 600;         // memory and shared-RAM reads, listing, access
inline constexpr size_t kMemoryWriteReply = 200;    // memory and shared-RAM writes
inline constexpr size_t kSerialReply = 200;         // the serial pass-through
inline constexpr size_t kSerialAccessReply = 1500;  // its write-and-read exchange
inline constexpr size_t kServiceReadReply = 1600;   // a controller's file read, the largest
// The smallest of all (identity blocks, keep-alive, serial ports, acknowledged writes, the
// controller module's own functions): bytes a module adds after the fields a host reads never
// take a reply past it.
inline constexpr size_t kSmallestReply = 200;

// Requests.
inline constexpr size_t kIoRequest = 1200;  // write I/O with its output stream

}  // namespace zeb::vocab::capacity
