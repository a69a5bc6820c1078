// The reply every I/O request gets: a status word, then the module's input stream.
#pragma once

#include "core/request.h"

namespace zeb::io {

inline constexpr size_t kRequestCapacity = 1200;
inline constexpr size_t kReplyCapacity = 1200;
using IoReply = Reply<kReplyCapacity>;

// The result an I/O reply gives without delivering its inputs: a nonzero status word, or the
// exchange's own result. A reply without a whole status word carries no answer.
inline uint32_t status_result(const IoReply& reply, uint32_t result) noexcept {
    if (!reply.has(0, kStatusSize)) return ZEBERR_NO_DATA;
    if (uint16_t status = reply.u16(0)) return status_io(status);
    return result;
}

// Delivers an I/O reply: the input stream cut to the caller's buffer (nothing for a null
// buffer), then a nonzero status word as the result, which overrides a cut or a warning.
inline uint32_t deliver_inputs(const IoReply& reply, uint32_t result, uint8_t* buffer,
                               uint16_t* size) noexcept {
    if (!reply.has(0, kStatusSize)) {
        if (size) *size = 0;
        return ZEBERR_NO_DATA;
    }
    result =
        copy_cut(reply.body(kStatusSize), reply.body_size_from(kStatusSize), buffer, size, result);
    return status_result(reply, result);
}

}  // namespace zeb::io
