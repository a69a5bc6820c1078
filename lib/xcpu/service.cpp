// Reading a service reply: status word, return value, then the member's output fields in order.
#include "xcpu/service.h"

#include <cstring>

#include "core/frame.h"

namespace zeb::xcpu {

size_t bounded_length(const char* text, size_t limit) noexcept {
    size_t n = 0;
    while (n < limit && text[n] != '\0') ++n;
    return n;
}

uint32_t ServiceReply::u32(size_t at) const noexcept {
    if (!has(at, kValueSize)) return 0;
    const uint8_t* p = body + at;
    return uint32_t(frame::get_u16(p)) | uint32_t(frame::get_u16(p + 2)) << 16;
}

uint16_t ServiceReply::status() const noexcept {
    return has(0, kStatusSize) ? frame::get_u16(body) : 0;
}

// A reply without every field the call reads: a refusal may come as the status word alone,
// and then it is the result; otherwise the outputs it promises are not there.
int32_t short_reply(const ServiceReply& reply) noexcept {
    return reply.status() ? status_as_result(reply) : as_result(ZEBERR_NO_DATA);
}

int32_t deliver(const ServiceReply& reply, uint32_t* returned,
                std::initializer_list<Output> outputs) noexcept {
    // Every field wanted must have arrived before any is written.
    bool whole = reply.has(0, kStatusSize) && (!returned || reply.has(kReturnValueAt, kValueSize));
    size_t at = kOutputsAt;
    for (const Output& out : outputs) {
        if (out.to && !reply.has(at, out.size)) whole = false;
        at += out.size;
    }
    if (!whole) return short_reply(reply);

    if (returned) *returned = reply.u32(kReturnValueAt);
    at = kOutputsAt;
    for (const Output& out : outputs) {
        if (out.to && out.number) {
            const uint32_t v = reply.u32(at);
            std::memcpy(out.to, &v, sizeof v);
        } else if (out.to) {
            std::memcpy(out.to, reply.body + at, out.size);
        }
        at += out.size;
    }
    return status_as_result(reply);
}

}  // namespace zeb::xcpu
