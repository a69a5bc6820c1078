// Single bytes that change how what follows them is read.
#pragma once

#include <cstdint>

namespace zeb::vocab {

// The first byte behind a request's 9-byte header when the header is the 16-byte one: the
// module's hardware address follows, then the body.
inline constexpr uint8_t kExtendedHeader = 0x15;

// A caller asks for the extended item format by starting its buffer with this byte (and a zero
// byte); the request then carries it after the function code.
inline constexpr uint8_t kExtendedFormat = 0xB1;

}  // namespace zeb::vocab
