// Watching a module: a keep-alive, its Ethernet statistics and its status block. None of them
// reports re-sends.
#include "core/request.h"
#include "vocab/capacities.h"

namespace zeb {
namespace {

constexpr size_t kRequestCapacity = vocab::capacity::kShortRequest;
constexpr size_t kShortReplyCapacity = vocab::capacity::kSmallestReply;
constexpr size_t kStatusReplyCapacity = vocab::capacity::kStatusReply;

uint8_t flag(bool on) noexcept {
    return on ? 1 : 0;
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

// Tells only whether the module answered.
uint32_t ZEBPetDevice(ZEBDevice* device) {
    Request<kRequestCapacity> request(device);
    request.u8(fn::kPetDevice).u8(0);
    Reply<kShortReplyCapacity> reply;
    return exchange(device, request, reply, Wait::always, Warn::no);
}

// The statistics record is the whole reply body: there is no status word.
uint32_t ZEBReadEthernetStats(ZEBDevice* device, uint8_t* buffer, uint16_t* size, uint32_t option) {
    Request<kRequestCapacity> request(device);
    request.u8(fn::kEthernetStats).u8(0).u8(flag(option != 0));
    Reply<kShortReplyCapacity> reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    return failed(result) ? result : deliver_body(reply, result, buffer, size);
}

// A status word, sign-extended alone, then the status block, which is delivered also when the
// status word is nonzero.
uint32_t ZEBReadModuleStatus(ZEBDevice* device, uint8_t* buffer, uint16_t* size, uint32_t option) {
    Request<kRequestCapacity> request(device);
    request.u8(fn::kModuleStatus).u8(flag(wants_extended_format(buffer, size)));
    request.u8(flag(option != 0));
    Reply<kStatusReplyCapacity> reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    if (failed(result)) return result;
    return deliver_status_and_data(reply, result, StatusRule::signed_word, buffer, size);
}

}  // extern "C"
