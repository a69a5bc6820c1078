// What a host takes and sends, as whole datagrams with the 9-byte header. A module's replies
// must fit the buffers a host receives them in, so RackSim refuses to hold anything whose reply
// would not fit.
#pragma once

#include <cstddef>

#include "frame.h"

namespace racksim {

inline constexpr size_t kIoReplyCapacity = 1200;       // read and write I/O
inline constexpr size_t kIoRequestCapacity = 1200;     // write I/O
inline constexpr size_t kBaseDefReplyCapacity = 1000;  // read base definition, rescan
inline constexpr size_t kInitReplyCapacity = 600;      // init base definition
inline constexpr size_t kSetupReplyCapacity = 600;     // read a setup record, list the types
inline constexpr size_t kConfigReplyCapacity = 1200;   // read and write the configuration block
inline constexpr size_t kStatsReplyCapacity = 200;     // Ethernet statistics
inline constexpr size_t kStatusReplyCapacity = 600;    // module status
// The smallest buffer a host takes any reply in (identity blocks, keep-alive, serial ports,
// acknowledged writes, the controller's own functions): bytes a module adds after the fields a
// host reads never take a reply past it.
inline constexpr size_t kSmallestReplyCapacity = 200;

inline constexpr size_t kStatusWordSize = 2;

// A setup record travels after the status word; the list of types after the status word and
// a 16-bit count.
inline constexpr size_t kMaxSetupRecord = kSetupReplyCapacity - kHeaderSize - kStatusWordSize;
inline constexpr size_t kMaxSetupTypes =
    (kSetupReplyCapacity - kHeaderSize - kStatusWordSize - 2) / 2;
inline constexpr size_t kMaxConfigBlock = kConfigReplyCapacity - kHeaderSize - kStatusWordSize;
inline constexpr size_t kMaxStatsRecord = kStatsReplyCapacity - kHeaderSize;
inline constexpr size_t kMaxStatusBlock = kStatusReplyCapacity - kHeaderSize - kStatusWordSize;

}  // namespace racksim
