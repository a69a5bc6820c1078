// Reading and writing one module's I/O image as an item stream.
#include "io_reply.h"

namespace zeb::io {
namespace {

constexpr uint8_t kWriteIo = 0x06;
constexpr uint8_t kReadIo = 0x07;
constexpr uint8_t kWriteIoNoRead = 0x30;

// Sends an output stream; the reply (or ZEBERR_NO_PACKET in no-wait mode) is left in `reply`.
uint32_t send_outputs(ZEBDevice& device, uint8_t function, const uint8_t* source, uint32_t length,
                      IoReply& reply) noexcept {
    const uint16_t count = static_cast<uint16_t>(length);
    if (!source && count) return ZEBERR_BAD_PARAMETER;
    Request<kRequestCapacity> request(device);
    request.u8(function).bytes(source, count);
    if (!request.fits()) return ZEBERR_PACKET_TOO_LARGE;
    return exchange(device, request, reply, Wait::unless_no_wait, Warn::yes);
}

}  // namespace
}  // namespace zeb::io

using namespace zeb;
using namespace zeb::io;

extern "C" {

uint32_t ZEBReadIO(ZEBDevice* device, uint8_t* buffer, uint16_t* size) {
    if (!device) return ZEBERR_BAD_DEVICE;
    Request<kRequestCapacity> request(*device);
    request.u8(kReadIo);
    if (wants_extended_format(buffer)) request.u8(kExtendedFormat);
    if (!request.fits()) return ZEBERR_PACKET_TOO_LARGE;
    IoReply reply;
    const uint32_t result = exchange(*device, request, reply, Wait::unless_no_wait, Warn::yes);
    if (failed(result)) return result;
    return deliver_inputs(reply, result, buffer, size);
}

uint32_t ZEBWriteIO(ZEBDevice* device, const uint8_t* source, uint32_t length, uint8_t* buffer,
                    uint16_t* size) {
    if (!device) return ZEBERR_BAD_DEVICE;
    IoReply reply;
    const uint32_t result = send_outputs(*device, kWriteIo, source, length, reply);
    if (failed(result)) return result;
    if (buffer && size) return deliver_inputs(reply, result, buffer, size);
    if (size && !reply.has(0, kStatusSize)) *size = 0;
    return status_result(reply, result);
}

uint32_t ZEBWriteIONoRead(ZEBDevice* device, const uint8_t* source, uint32_t length) {
    if (!device) return ZEBERR_BAD_DEVICE;
    IoReply reply;
    const uint32_t result = send_outputs(*device, kWriteIoNoRead, source, length, reply);
    if (failed(result)) return result;
    return status_result(reply, result);
}

}  // extern "C"
