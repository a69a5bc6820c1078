// The blocks a module reports about itself, decoded into named fields: version, support,
// device definition, Ethernet statistics and module status. The layouts are the modules'
// (RackSim's are these); a block that does not carry its expected layout is shown as bytes.
#pragma once

#include <cstdint>
#include <span>

#include "output.h"

namespace zeb::cli {

struct Decoded {
    Fields fields;  // for people
    Json json;      // for scripts
};

// [0] firmware major, [1] minor, [2-3] hardware revision, [4..] producer text.
Decoded decode_version(std::span<const uint8_t> block);
// A bitmap of the function codes served: bit n of byte n / 8.
Decoded decode_support(std::span<const uint8_t> block);
// [0] size, [1] revision, [2] kind, [3] base slots, [4-7] number, [8-13] hardware address,
// [14..] name.
Decoded decode_device_def(std::span<const uint8_t> block);
// Size and layout 1 first; see RackSim's diagnostics.
Decoded decode_ethernet_stats(std::span<const uint8_t> record);
Decoded decode_module_status(std::span<const uint8_t> block);

}  // namespace zeb::cli
