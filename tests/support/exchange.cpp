#include "exchange.h"

#include <algorithm>

namespace zebtest {
namespace {

Bytes request_buffer(const ZEBDevice& device, const Bytes& payload) {
    Bytes request(device.DataOffset, 0);
    request.insert(request.end(), payload.begin(), payload.end());
    return request;
}

// The reply buffer: exactly the capacity, so that a write past it is caught by the sanitizer.
Outcome finish(uint32_t result, int32_t length, const Bytes& reply, Bytes request) {
    const size_t kept =
        std::min<size_t>(length > 0 ? static_cast<size_t>(length) : 0, reply.size());
    return {result, length, Bytes(reply.begin(), reply.begin() + static_cast<long>(kept)),
            std::move(request)};
}

}  // namespace

Outcome send_packet(ZEBDevice& device, const Bytes& payload, SendOptions o) {
    Bytes request = request_buffer(device, payload);
    Bytes reply(static_cast<size_t>(o.capacity));
    int32_t length = o.capacity;
    const uint32_t result =
        _SendPacket(&device, request.data(), static_cast<uint16_t>(request.size()), reply.data(),
                    &length, o.want_reply, o.warn);
    return finish(result, length, reply, std::move(request));
}

Outcome send_two_responses(ZEBDevice& device, const Bytes& payload, TwoReplyOptions o) {
    Bytes request = request_buffer(device, payload);
    Bytes reply(static_cast<size_t>(o.send.capacity));
    int32_t length = o.send.capacity;
    const uint32_t result = SendPacketTwoResponses(
        &device, request.data(), static_cast<uint16_t>(request.size()), reply.data(), &length,
        o.send.want_reply, o.send.warn, static_cast<uint16_t>(o.echo.size()), o.echo.data(),
        o.extra_timeout, o.wait, o.check_sequence);
    return finish(result, length, reply, std::move(request));
}

Outcome get_response(ZEBDevice& device, int32_t capacity, uint16_t extra_timeout, int32_t wait,
                     int32_t check_sequence) {
    Bytes reply(static_cast<size_t>(capacity));
    int32_t length = capacity;
    const uint32_t result =
        GetResponse(&device, reply.data(), &length, extra_timeout, wait, check_sequence);
    return finish(result, length, reply, {});
}

}  // namespace zebtest
