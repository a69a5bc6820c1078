// The device definition (function code 0x04): the one byte of it that hosts read is the
// module's kind.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb::vocab::device_def {

inline constexpr size_t kKindAt = 2;
// Hosts read the definition into this many bytes.
inline constexpr size_t kReadSize = 42;

inline constexpr uint8_t kKindQxRio = 0;  // an I/O module of the Qx-RIO family
inline constexpr uint8_t kKindNode = 6;   // a networked node

}  // namespace zeb::vocab::device_def
