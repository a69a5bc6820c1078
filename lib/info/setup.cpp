// The module's setup-data store: records of bytes filed under 16-bit types. Every exchange
// waits 10 ms longer than the device's usual time-out.
#include "core/request.h"
#include "vocab/capacities.h"

namespace zeb {
namespace {

constexpr size_t kRequestCapacity = vocab::capacity::kSetupRequest;
constexpr size_t kReadReplyCapacity = vocab::capacity::kSetupReply;
constexpr size_t kChangeReplyCapacity = vocab::capacity::kSetupChangeReply;
constexpr uint16_t kTimeoutRaiseMs = 10;
constexpr uint16_t kFinalReplyExtraMs = 30000;

using SetupRequest = Request<kRequestCapacity>;
using ReadReply = Reply<kReadReplyCapacity>;

uint32_t read_exchange(ZEBDevice* device, SetupRequest& request, ReadReply& reply) noexcept {
    RaisedTimeout raised(device, kTimeoutRaiseMs);
    return exchange(device, request, reply, Wait::always, Warn::no);
}

// Writes and deletes are acknowledged first; the final reply is a status word alone.
uint32_t change(ZEBDevice* device, SetupRequest& request) noexcept {
    Reply<kChangeReplyCapacity> reply;
    uint32_t result;
    {
        RaisedTimeout raised(device, kTimeoutRaiseMs);
        result = exchange_acknowledged(device, request, reply, {}, kFinalReplyExtraMs);
    }
    return failed(result) ? result : status_only(reply, result, StatusRule::signed_word);
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBReadSetupData(ZEBDevice* device, uint16_t type, uint8_t* buffer, uint16_t* size) {
    SetupRequest request(device);
    request.u8(fn::kReadSetup).u8(0).u16(type);
    ReadReply reply;
    const uint32_t result = read_exchange(device, request, reply);
    if (failed(result)) return result;
    // Unlike the I/O reads, a reply without its status word leaves the size as it was.
    if (!reply.has(0, kStatusSize)) return ZEBERR_NO_DATA;
    return deliver_status_and_data(reply, result, StatusRule::signed_word, buffer, size);
}

uint32_t ZEBWriteSetupData(ZEBDevice* device, uint16_t type, const uint8_t* source,
                           uint32_t length) {
    if (!source && length) return ZEBERR_BAD_PARAMETER;
    SetupRequest request(device);
    request.u8(fn::kWriteSetup).u8(0).u16(type).bytes(source, length);
    return change(device, request);
}

uint32_t ZEBDeleteSetupData(ZEBDevice* device, uint16_t type) {
    SetupRequest request(device);
    request.u8(fn::kDeleteSetup).u8(0).u16(type);
    return change(device, request);
}

// The reply: status word, the number of types n, then n types. Only whole entries that
// arrived are delivered; a list shorter than its count is reported as ZEBERR_NO_DATA. A refusal
// may come as the status word alone: it is the result, and the count is left alone.
uint32_t ZEBEnumSetupData(ZEBDevice* device, uint16_t* types, uint16_t* count) {
    SetupRequest request(device);
    request.u8(fn::kEnumSetup);
    ReadReply reply;
    const uint32_t result = read_exchange(device, request, reply);
    if (failed(result)) return result;
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    const uint16_t claimed = in.u16();
    if (!in.complete()) return status_or(status, StatusRule::signed_word, ZEBERR_NO_DATA);
    const ListCut cut =
        cut_list(claimed, in.rest_size() / 2, (types && count) ? *count : 0, result);
    for (size_t i = 0; i < cut.count; ++i) types[i] = in.u16();
    put(count, static_cast<uint16_t>(cut.count));
    return status ? status_result(status, StatusRule::signed_word) : cut.result;
}

}  // extern "C"
