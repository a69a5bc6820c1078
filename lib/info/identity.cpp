// The module's version block, support block and device definition: one-byte requests whose
// reply body is delivered as it comes.
#include "core/request.h"
#include "vocab/capacities.h"

namespace zeb {
namespace {

constexpr size_t kRequestCapacity = vocab::capacity::kShortRequest;
constexpr size_t kReplyCapacity = vocab::capacity::kIdentityReply;

// `size` is a 16-bit capacity passed in a 32-bit slot: only its low 16 bits count. The number
// of bytes delivered is not reported back.
uint32_t read_block(ZEBDevice* device, uint8_t function, uint8_t* buffer, uint32_t size) noexcept {
    Request<kRequestCapacity> request(device);
    request.u8(function);
    Reply<kReplyCapacity> reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    if (failed(result)) return result;
    uint16_t capacity = static_cast<uint16_t>(size);
    return deliver_body(reply, result, buffer, &capacity);
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBReadVersionInfo(ZEBDevice* device, uint8_t* buffer, uint32_t size) {
    return read_block(device, fn::kVersionInfo, buffer, size);
}

uint32_t ZEBReadSupportInfo(ZEBDevice* device, uint8_t* buffer, uint32_t size) {
    return read_block(device, fn::kSupportInfo, buffer, size);
}

uint32_t ZEBReadDeviceDef(ZEBDevice* device, uint8_t* buffer, uint32_t size) {
    return read_block(device, fn::kDeviceDef, buffer, size);
}

}  // extern "C"
