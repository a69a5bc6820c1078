// The reply every I/O request gets: a status word, then the module's input stream.
#pragma once

#include "core/request.h"

namespace zeb::io {

inline constexpr size_t kRequestCapacity = 1200;
inline constexpr size_t kReplyCapacity = 1200;
using IoRequest = Request<kRequestCapacity>;
using IoReply = Reply<kReplyCapacity>;

// Delivers an I/O reply: the input stream cut to the caller's buffer (nothing for a null
// buffer), then a nonzero status word, with bit 15 set, as the result.
inline uint32_t deliver_inputs(const IoReply& reply, uint32_t result, uint8_t* buffer,
                               uint16_t* size) noexcept {
    return deliver_status_and_data(reply, result, StatusRule::io_word, buffer, size);
}

}  // namespace zeb::io
