// What a module is: the kind byte of its device definition (function code 0x04), which hosts
// read to tell the modules they serve from the others. The rest of the definition is the
// module's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocab/named.h"

namespace zeb::vocab {

namespace device_def {
inline constexpr size_t kKindAt = 2;     // the byte that gives the module's kind
inline constexpr size_t kReadSize = 42;  // what the readers of the kind ask for
}  // namespace device_def

namespace kind {
inline constexpr uint8_t kQxRio = 0;  // a base controller of the Qx-RIO family
inline constexpr uint8_t kNode = 6;   // a networked node, reached through a remote master
}  // namespace kind

// The kinds hosts tell apart, in the order of their number.
inline constexpr Named<uint8_t> kModuleKinds[] = {
    {kind::kQxRio, "Qx-RIO"},
    {kind::kNode, "node"},
};
static_assert(ascending(kModuleKinds));

}  // namespace zeb::vocab
