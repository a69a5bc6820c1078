// Requests answered by a status word and an item stream: the I/O image, and the configuration
// block, which has exactly the same shape under its own function codes.
#pragma once

#include "core/request.h"
#include "vocab/capacities.h"

namespace zeb::io {

inline constexpr size_t kRequestCapacity = vocab::capacity::kIoRequest;
inline constexpr size_t kReplyCapacity = vocab::capacity::kIoReply;
using IoRequest = Request<kRequestCapacity>;
using IoReply = Reply<kReplyCapacity>;

// Delivers a stream reply: the stream cut to the caller's buffer (nothing for a null buffer),
// then a nonzero status word, with bit 15 set, as the result.
inline uint32_t deliver_inputs(const IoReply& reply, uint32_t result, uint8_t* buffer,
                               uint16_t* size) noexcept {
    return deliver_status_and_data(reply, result, StatusRule::io_word, buffer, size);
}

// Reads a stream. A buffer that begins with the extended-format marker asks for that format.
inline uint32_t read_stream(ZEBDevice* device, uint8_t function, uint8_t* buffer,
                            uint16_t* size) noexcept {
    IoRequest request(device);
    request.u8(function);
    if (wants_extended_format(buffer, size)) request.u8(kExtendedFormat);
    IoReply reply;
    const uint32_t result = exchange(device, request, reply, Wait::unless_no_wait, Warn::yes);
    return failed(result) ? result : deliver_inputs(reply, result, buffer, size);
}

// Sends a stream; the reply (or ZEBERR_NO_PACKET in no-wait mode) is left in `reply`. The
// length is checked whole against the request buffer, never cut to 16 bits first.
inline uint32_t send_stream(ZEBDevice* device, uint8_t function, const uint8_t* source,
                            uint32_t length, IoReply& reply) noexcept {
    if (!source && length) return ZEBERR_BAD_PARAMETER;
    IoRequest request(device);
    request.u8(function).bytes(source, length);
    return exchange(device, request, reply, Wait::unless_no_wait, Warn::yes);
}

// Sends a stream and delivers the reply's stream when both buffer and size are given;
// otherwise only the status counts, and an empty reply still empties the size.
inline uint32_t write_stream(ZEBDevice* device, uint8_t function, const uint8_t* source,
                             uint32_t length, uint8_t* buffer, uint16_t* size) noexcept {
    IoReply reply;
    const uint32_t result = send_stream(device, function, source, length, reply);
    if (failed(result)) return result;
    if (buffer && size) return deliver_inputs(reply, result, buffer, size);
    if (!reply.has(0, kStatusSize)) return no_data(size);
    return status_only(reply, result, StatusRule::io_word);
}

}  // namespace zeb::io
