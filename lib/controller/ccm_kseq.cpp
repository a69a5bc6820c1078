// Requests of two controller protocols carried through the module: a CCM read or write of a
// block of controller data, and a K-sequence message that the caller has composed. The module
// acknowledges each request at once and answers it later. Both honour no-wait mode, and a
// success after re-sends is reported as plain success (ResendCount still shows the re-sends).
#include <algorithm>
#include <cstring>

#include "core/request.h"
#include "vocab/capacities.h"
#include "vocab/ccm.h"

namespace zeb {
namespace {

constexpr size_t kRequestCapacity = vocab::capacity::kControllerRequest;
constexpr size_t kReplyCapacity = vocab::capacity::kControllerReply;
constexpr size_t kMaxCount = vocab::kMaxControllerData;

// Both replies begin with a marker and the request's function code; the answer then carries a
// status word and the answer data.
constexpr uint8_t kAcknowledged = vocab::ccm::kAcknowledged;
constexpr uint8_t kAnswered = vocab::ccm::kAnswered;
constexpr size_t kAnswerHeadSize = 4;

constexpr uint8_t kCcmWrite = vocab::ccm::kWrite;
constexpr uint8_t kCcmRead = vocab::ccm::kRead;

using ControllerRequest = Request<kRequestCapacity>;
using ControllerReply = Reply<kReplyCapacity>;

// Sends the request and checks the answer's head. Returns 0 when the reply holds an accepted
// answer, whose data starts at body offset 4; otherwise the result for the caller.
uint32_t run(ZEBDevice* device, ControllerRequest& request, uint8_t function,
             ControllerReply& reply) noexcept {
    const uint8_t echo[] = {kAcknowledged, function};
    const uint32_t result =
        exchange_acknowledged(device, request, reply, {echo, 2, true}, 0, Wait::unless_no_wait);
    ReplyReader in(reply);
    if (result == ZEBERR_MISMATCHED_REPLY) {
        // A refusal stands in for the acknowledgement, with the module's status after the marker
        // and code. A reply without a nonzero status there refuses nothing: it is just wrong.
        in.block(2);
        const uint16_t status = in.u16();
        return in.complete() && status ? status_signed(status) : ZEBERR_MISMATCHED_REPLY;
    }
    if (failed(result)) return result;
    if (reply.empty()) return ZEBERR_NO_DATA;
    const uint8_t marker = in.u8();
    const uint8_t code = in.u8();
    const uint16_t status = in.u16();
    if (!in.complete() || marker != kAnswered || code != function) return ZEBERR_MISMATCHED_REPLY;
    return status_result(status, StatusRule::signed_word);
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

// A read delivers exactly `count` bytes or nothing. After a write, the answer bytes the module
// sent (at most `count`) are copied back over the written block.
uint32_t ZEBCCMRequest(ZEBDevice* device, int32_t write, uint32_t data_type, uint32_t address,
                       uint32_t count, uint8_t* buffer) {
    if (count > kMaxCount || (!buffer && count)) return ZEBERR_BAD_PARAMETER;
    ControllerRequest request(device);
    request.u8(fn::kCcmRequest).u8(0).u8(1).u8(write ? kCcmWrite : kCcmRead);
    // A count of 256 goes out as 0.
    request.u8(uint8_t(count)).u16(uint16_t(address)).u8(uint8_t(data_type));
    if (write) request.bytes(buffer, count);
    ControllerReply reply;
    if (uint32_t refused = run(device, request, fn::kCcmRequest, reply)) return refused;
    const size_t arrived = reply.body_size_from(kAnswerHeadSize);
    if (!write && arrived != count) return ZEBERR_BAD_PARAMETER;
    const size_t n = std::min<size_t>(arrived, count);
    if (n) std::memcpy(buffer, reply.body(kAnswerHeadSize), n);
    return 0;
}

// The answer replaces the message in `buffer`, cut to *buffer_size.
uint32_t ZEBKSEQRequest(ZEBDevice* device, uint32_t count, uint8_t* buffer, uint16_t* buffer_size) {
    if (count > kMaxCount || (!buffer && count)) return ZEBERR_BAD_PARAMETER;
    ControllerRequest request(device);
    request.u8(fn::kKseqRequest).u8(0).u8(uint8_t(count)).u8(0).bytes(buffer, count);
    ControllerReply reply;
    if (uint32_t refused = run(device, request, fn::kKseqRequest, reply)) return refused;
    return copy_cut(reply.body(kAnswerHeadSize), reply.body_size_from(kAnswerHeadSize), buffer,
                    buffer_size, 0);
}

}  // extern "C"
