// Reading and writing one module's I/O image as an item stream.
#include "io_reply.h"

namespace zeb::io {
namespace {

// Sends an output stream; the reply (or ZEBERR_NO_PACKET in no-wait mode) is left in `reply`.
// The length is checked whole against the request buffer, never cut to 16 bits first.
uint32_t send_outputs(ZEBDevice* device, uint8_t function, const uint8_t* source, uint32_t length,
                      IoReply& reply) noexcept {
    if (!source && length) return ZEBERR_BAD_PARAMETER;
    IoRequest request(device);
    request.u8(function).bytes(source, length);
    return exchange(device, request, reply, Wait::unless_no_wait, Warn::yes);
}

}  // namespace
}  // namespace zeb::io

using namespace zeb;
using namespace zeb::io;

extern "C" {

uint32_t ZEBReadIO(ZEBDevice* device, uint8_t* buffer, uint16_t* size) {
    IoRequest request(device);
    request.u8(fn::kReadIo);
    if (wants_extended_format(buffer, size)) request.u8(kExtendedFormat);
    IoReply reply;
    const uint32_t result = exchange(device, request, reply, Wait::unless_no_wait, Warn::yes);
    return failed(result) ? result : deliver_inputs(reply, result, buffer, size);
}

uint32_t ZEBWriteIO(ZEBDevice* device, const uint8_t* source, uint32_t length, uint8_t* buffer,
                    uint16_t* size) {
    IoReply reply;
    const uint32_t result = send_outputs(device, fn::kWriteIo, source, length, reply);
    if (failed(result)) return result;
    if (buffer && size) return deliver_inputs(reply, result, buffer, size);
    // Inputs not wanted: only the status counts, and an empty reply still empties the size.
    if (!reply.has(0, kStatusSize)) return no_data(size);
    return status_only(reply, result, StatusRule::io_word);
}

uint32_t ZEBWriteIONoRead(ZEBDevice* device, const uint8_t* source, uint32_t length) {
    IoReply reply;
    const uint32_t result = send_outputs(device, fn::kWriteIoNoRead, source, length, reply);
    return failed(result) ? result : status_only(reply, result, StatusRule::io_word);
}

}  // extern "C"
