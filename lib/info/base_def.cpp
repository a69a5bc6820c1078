// The base definition: which slots hold I/O modules and how many points each has.
#include "core/request.h"
#include "vocab/capacities.h"

namespace zeb {
namespace {

constexpr size_t kRequestCapacity = vocab::capacity::kBaseDefRequest;
constexpr size_t kReadReplyCapacity = vocab::capacity::kBaseDefReply;
constexpr size_t kInitReplyCapacity = vocab::capacity::kInitBaseDefReply;
constexpr size_t kWriteReplyCapacity = vocab::capacity::kWriteBaseDefReply;
constexpr uint16_t kWriteExtraMs = 30000;

using BaseRequest = Request<kRequestCapacity>;

// Runs a request whose whole reply body is the delivered data.
template <size_t ReplyCapacity>
uint32_t read_into(ZEBDevice* device, BaseRequest& request, uint8_t* buffer,
                   uint16_t* size) noexcept {
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
    BaseRequest request(device);
    request.u8(fn::kReadBaseDef);
    if (wants_extended_format(buffer, size)) request.u8(kExtendedFormat);
    return read_into<kReadReplyCapacity>(device, request, buffer, size);
}

uint32_t ZEBInitBaseDef(ZEBDevice* device, uint8_t* buffer, uint16_t* size) {
    BaseRequest request(device);
    request.u8(fn::kInitBaseDef);
    return read_into<kInitReplyCapacity>(device, request, buffer, size);
}

uint32_t ZEBRescanBase(ZEBDevice* device, uint32_t value, uint8_t* buffer, uint16_t* size) {
    BaseRequest request(device);
    request.u8(fn::kInitBaseDef).u32(value);
    return read_into<kReadReplyCapacity>(device, request, buffer, size);
}

uint32_t ZEBWriteBaseDef(ZEBDevice* device, const uint8_t* source, uint32_t length, uint8_t* buffer,
                         uint16_t* size) {
    if (!source && length) return ZEBERR_BAD_PARAMETER;
    BaseRequest request(device);
    // A length too large for the request fails in bytes(), whatever its 16-bit field says.
    request.u8(fn::kWriteBaseDef).u8(0).u16(static_cast<uint16_t>(length)).bytes(source, length);
    Reply<kWriteReplyCapacity> reply;
    const uint32_t result = exchange_acknowledged(device, request, reply, {}, kWriteExtraMs);
    if (failed(result)) return result;
    // Unlike the I/O replies, a refusal delivers nothing and leaves the size alone.
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    if (!in.complete()) return buffer ? no_data(size) : ZEBERR_NO_DATA;
    if (status) return status_result(status, StatusRule::signed_word);
    if (!buffer) return result;
    return copy_cut(in.rest(), in.rest_size(), buffer, size, result);
}

}  // extern "C"
