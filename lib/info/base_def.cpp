// The base definition: which slots hold I/O modules and how many points each has.
#include "core/request.h"

namespace zeb {
namespace {

constexpr uint8_t kReadBaseDef = 0x08;
constexpr uint8_t kWriteBaseDef = 0x0F;
constexpr uint8_t kInitBaseDef = 0x18;

constexpr size_t kRequestCapacity = 600;
constexpr size_t kReadReplyCapacity = 1000;
constexpr size_t kInitReplyCapacity = 600;
constexpr size_t kWriteReplyCapacity = 600;
constexpr uint16_t kWriteExtraMs = 30000;

// Runs a request whose reply body is the delivered data.
template <size_t ReplyCapacity>
uint32_t read_into(ZEBDevice& device, Request<kRequestCapacity>& request, uint8_t* buffer,
                   uint16_t* size) noexcept {
    if (!request.fits()) return ZEBERR_PACKET_TOO_LARGE;
    Reply<ReplyCapacity> reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    if (failed(result)) return result;
    return deliver_body(reply, result, buffer, size);
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBReadBaseDef(ZEBDevice* device, uint8_t* buffer, uint16_t* size) {
    if (!device) return ZEBERR_BAD_DEVICE;
    Request<kRequestCapacity> request(*device);
    request.u8(kReadBaseDef);
    if (wants_extended_format(buffer)) request.u8(kExtendedFormat);
    return read_into<kReadReplyCapacity>(*device, request, buffer, size);
}

uint32_t ZEBInitBaseDef(ZEBDevice* device, uint8_t* buffer, uint16_t* size) {
    if (!device) return ZEBERR_BAD_DEVICE;
    Request<kRequestCapacity> request(*device);
    request.u8(kInitBaseDef);
    return read_into<kInitReplyCapacity>(*device, request, buffer, size);
}

uint32_t ZEBRescanBase(ZEBDevice* device, uint32_t value, uint8_t* buffer, uint16_t* size) {
    if (!device) return ZEBERR_BAD_DEVICE;
    Request<kRequestCapacity> request(*device);
    request.u8(kInitBaseDef).u32(value);
    return read_into<kReadReplyCapacity>(*device, request, buffer, size);
}

uint32_t ZEBWriteBaseDef(ZEBDevice* device, const uint8_t* source, uint32_t length, uint8_t* buffer,
                         uint16_t* size) {
    if (!device) return ZEBERR_BAD_DEVICE;
    const uint16_t count = static_cast<uint16_t>(length);
    if (!source && count) return ZEBERR_BAD_PARAMETER;
    Request<kRequestCapacity> request(*device);
    request.u8(kWriteBaseDef).u8(0).u16(count).bytes(source, count);
    if (!request.fits()) return ZEBERR_PACKET_TOO_LARGE;
    Reply<kWriteReplyCapacity> reply;
    const uint32_t result = exchange_acknowledged(*device, request, reply, kWriteExtraMs);
    if (failed(result)) return result;
    // A final reply without a whole status word carries no answer.
    if (!reply.has(0, kStatusSize)) {
        if (buffer && size) *size = 0;
        return ZEBERR_NO_DATA;
    }
    if (uint16_t status = reply.u16(0)) return status_signed(status);
    if (!buffer) return result;
    return copy_cut(reply.body(kStatusSize), reply.body_size_from(kStatusSize), buffer, size,
                    result);
}

}  // extern "C"
