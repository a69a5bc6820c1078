// What a module does with one request: the function codes it serves and their replies.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "context.h"
#include "frame.h"
#include "module.h"
#include "vocab/functions.h"

namespace racksim {

// The function codes, as the vocabulary declares them.
namespace fn = zeb::vocab::fn;

// Status words at the start of the replies that carry one. The refusals of setup records and
// the configuration block have bit 15 set: a host sign-extends them to results 0xFFFF81xx,
// which no result code of its own, Winsock or system error number shares. None of them is
// 0x0C or 0x0D, so a final reply never repeats an acknowledgement's bytes (0x0C 0x00 or
// 0x0D 0x00), which a host would take for a duplicate of it.
enum Status : uint16_t {
    kStatusOk = 0,
    kStatusUnknownFunction = 0x0001,
    kStatusMalformed = 0x0002,
    kStatusBadBaseDef = 0x0003,
    kStatusNoSuchRecord = 0x8101,    // read or delete of a type the store does not hold
    kStatusRecordTooLarge = 0x8102,  // a record a host could not read back whole
    kStatusStoreFull = 0x8103,       // a new type the list of types has no room for
    kStatusShortRequest = 0x8104,    // a setup request too short to name its type
    kStatusConfigTooLarge = 0x8105,  // a configuration block a host could not read back
    kStatusNoProgramSpace = 0x8106,  // a program-space write to a module that is no node
};

// What a host reads of a reply, which bounds how a module's manner may vary it.
enum class Reading : uint8_t {
    to_the_end,  // every byte after the header is the host's: nothing may be added
    fields,      // fields at fixed places: bytes may follow them unread
    unread,      // nothing: an acknowledgement taken whatever it holds, or a reply only waited for
};

inline constexpr int kNoRefusal = -1;

// One reply payload, how much later than the request's other replies it leaves, what a host
// reads of it, and, for a refusal, where its status word is.
struct Answer {
    Bytes payload;
    uint32_t extra_delay_ms = 0;
    Reading reading = Reading::to_the_end;
    int refusal_at = kNoRefusal;  // the status word's offset in a refusal
};

// A reply whose fields a host reads at fixed places.
inline Answer field_reply(Bytes payload, uint32_t extra_delay_ms = 0) {
    return {std::move(payload), extra_delay_ms, Reading::fields};
}
// A reply a host does not look inside.
inline Answer unread_reply(Bytes payload, uint32_t extra_delay_ms = 0) {
    return {std::move(payload), extra_delay_ms, Reading::unread};
}
// A refusal: its status word at `status_at`, perhaps with fields behind it.
inline Answer refusal_reply(Bytes payload, Reading reading, int status_at = 0,
                            uint32_t extra_delay_ms = 0) {
    return {std::move(payload), extra_delay_ms, reading, status_at};
}

struct Execution {
    std::vector<Answer> answers;  // empty: the module stays silent
    std::string log;              // what was read or written
};

// An execution for a handler to fill, with the storage of the context's spare one when there
// is one: one answer with an empty payload, an empty log.
Execution reuse_execution(Context& ctx);

// Carries out a request on the context's module.
Execution execute(Context& ctx, const Request& req);

// Refuses a request with `status` without carrying it out, answering in the shape of the
// function's replies (acknowledged first where the function is). False, with nothing done, for
// a function whose replies carry no status word: it is carried out as usual.
bool refuse(Context& ctx, const Request& req, uint16_t status, Execution* ex);

// The function codes that `execute` serves.
const std::vector<uint8_t>& served_functions();

// Codes that only a controller module (one with a root directory) serves.
inline bool is_controller_function(uint8_t code) {
    return code == fn::kXcpuRunProgram || code == fn::kXcpuService || code == fn::kXcpuSetOsLoad ||
           code == fn::kXcpuReboot;
}

}  // namespace racksim
