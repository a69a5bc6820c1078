// What a module says about itself: discovery answers and the version, support and
// device-definition blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytes.h"
#include "capacities.h"
#include "module.h"

namespace racksim {

// Discovery data item types: a search by any setup record, these two being what hosts use.
inline constexpr uint16_t kQueryByName = kSetupName;
inline constexpr uint16_t kQueryByNumber = kSetupNumber;

// Largest block a host reads: its reply less the header.
inline constexpr size_t kMaxIdentityBlock = capacity::kIdentityReply - kHeaderSize;
// Hosts read the device definition into 42 bytes and treat a longer one as an error.
inline constexpr size_t kDeviceDefSize = zeb::vocab::device_def::kReadSize;

// 0x55 0xAA, hardware address, broadcast-only byte (from the faults in force), then kind and
// module number.
Bytes discovery_answer(const Module& m, const Faults& faults);
// The same, added to the end of `out`.
void append_discovery_answer(const Module& m, const Faults& faults, Bytes& out);

// Whether a discovery data item (type, data) applies to the module: whether it names one of
// the module's setup records (see store_matches). Types the module holds no record of apply to
// nobody.
bool query_applies(const Module& m, uint16_t type, const uint8_t* data, size_t len);

Bytes version_block(const Module& m);
Bytes support_block(const Module& m);
Bytes device_definition(const Module& m);

}  // namespace racksim
