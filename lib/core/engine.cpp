// Sending a request, waiting for the reply with the matching sequence number, re-sending on
// time-out, and the acknowledged two-reply exchange.
#include "engine.h"

#include <algorithm>
#include <cstring>

#include "frame.h"
#include "link.h"
#include "state.h"
#include "tunnel.h"

namespace zeb {
namespace {

// A packet that cannot be a reply to the awaited request: a runt without a whole header, or
// one whose sequence number is another's.
bool is_stray(const uint8_t* packet, int32_t length, uint16_t awaited, bool check_sequence) {
    if (length < frame::kHeaderSize) return true;
    const uint16_t sequence = frame::get_u16(packet + frame::kSequenceAt);
    return check_sequence && awaited != 0 && sequence != awaited;
}

// A copy of the acknowledgement of a two-reply exchange. UDP may deliver a datagram twice, so
// while the final reply is awaited a packet identical to the acknowledgement is a duplicate,
// not the answer. Acknowledgements are short; a longer one is compared by its length and the
// bytes kept.
struct AckCopy {
    static constexpr size_t kKept = 1600;
    uint8_t bytes[kKept];
    int32_t length = -1;

    void keep(const uint8_t* packet, int32_t n) {
        length = n;
        std::memcpy(bytes, packet, std::min<size_t>(size_t(n), kKept));
    }
    bool same_as(const uint8_t* packet, int32_t n) const {
        return n == length && std::memcmp(bytes, packet, std::min<size_t>(size_t(n), kKept)) == 0;
    }
};

// Hands a packet that is not the awaited reply to the asynchronous handler and counts it.
void pass_on_stray(ZEBDevice& d, uint8_t* packet, int32_t length) {
    if (ZEBAsyncHandler handler = state::async_handler()) handler(&d, packet, length);
    ++d.LateReplyCount;
}

// Takes the reply to the device's last request, waiting at most `limit` ms with `wait` on.
uint32_t await_reply(ZEBDevice& d, uint8_t* reply, int32_t* length, uint32_t limit, bool wait,
                     bool check_sequence, const AckCopy* duplicate_of) {
    const uint16_t awaited = d.LastSequence;
    const int32_t capacity = *length;
    const uint32_t start = ClockMs();
    for (;;) {
        *length = capacity;
        // The receive itself waits, for at most what is left of the limit: it spins briefly,
        // then sleeps until the socket or port is readable.
        const uint32_t spent = ClockMs() - start;
        const uint32_t wait_ms = wait && spent < limit ? limit - spent : 0;
        const uint32_t received = ReceiveFrame(&d, reply, length, wait_ms);
        if (received != 0 && received != ZEBERR_NO_PACKET) return received;
        const bool arrived = received == 0 && *length != 0;
        const bool awaited_reply = arrived && !is_stray(reply, *length, awaited, check_sequence) &&
                                   !(duplicate_of && duplicate_of->same_as(reply, *length));
        if (awaited_reply) {
            if (!check_sequence) d.LastSequence = frame::get_u16(reply + frame::kSequenceAt);
            if (!frame::reply_crc_ok(d, reply, *length)) {
                ++d.CrcErrorCount;
                return ZEBERR_BAD_CRC;
            }
            return 0;
        }
        if (arrived) pass_on_stray(d, reply, *length);
        // The deadline holds on every path, so a stream of stray packets cannot stall a call.
        const uint32_t elapsed = ClockMs() - start;
        if (!wait) {
            if (arrived && elapsed < limit) continue;  // drain what is queued
            *length = capacity;
            return ZEBERR_NO_PACKET;
        }
        if (elapsed >= limit) {
            *length = 0;
            return ZEBERR_TIMEOUT;
        }
    }
}

uint32_t limit_of(const ZEBDevice& d, uint16_t extra_timeout) {
    return static_cast<uint32_t>(d.Timeout) + extra_timeout;
}

// Whether the acknowledgement's body starts with the expected bytes; bytes that never arrived
// do not match.
bool echo_matches(const uint8_t* reply, int32_t length, const Acknowledgement& ack) {
    if (ack.echo_count == 0) return true;
    if (!ack.echo || length < frame::kHeaderSize + ack.echo_count) return false;
    return std::memcmp(reply + frame::kHeaderSize, ack.echo, ack.echo_count) == 0;
}

}  // namespace

uint32_t get_response(ZEBDevice& d, uint8_t* reply, int32_t* length, uint16_t extra_timeout,
                      bool wait, bool check_sequence) noexcept {
    return await_reply(d, reply, length, limit_of(d, extra_timeout), wait, check_sequence, nullptr);
}

uint32_t get_response_within(ZEBDevice& d, uint8_t* reply, int32_t* length,
                             uint32_t limit_ms) noexcept {
    return await_reply(d, reply, length, limit_ms, true, true, nullptr);
}

uint32_t send_packet(ZEBDevice& d, uint8_t* request, uint16_t request_length, uint8_t* reply,
                     int32_t* reply_length, bool want_reply, bool warn) noexcept {
    if (d.Tunnel == 1) return tunnel_exchange(&d, request, request_length, reply, reply_length);
    if (request_length < frame::header_size(d)) {
        *reply_length = 0;
        return ZEBERR_BAD_PARAMETER;
    }
    frame::prepare(d, request, request_length);
    const int32_t capacity = *reply_length;
    for (uint32_t tries = 0;; ++tries) {
        frame::stamp_sequence(d, request);
        if (tries > 0) ++d.ResendCount;
        if (uint32_t err = SendFrame(&d, request, request_length)) {
            *reply_length = 0;
            return err;
        }
        if (!want_reply) {
            *reply_length = 0;
            return ZEBERR_NO_PACKET;
        }
        *reply_length = capacity;
        const uint32_t result = get_response(d, reply, reply_length, 0, true, true);
        if (result == 0) return (tries > 0 && warn) ? ZEBWARN_RETRIED : 0;
        if (result != ZEBERR_TIMEOUT || tries + 1 > d.Retries) {
            *reply_length = 0;
            return result;
        }
    }
}

uint32_t send_two_responses(ZEBDevice& d, uint8_t* request, uint16_t request_length, uint8_t* reply,
                            int32_t* reply_length, bool want_reply, const Acknowledgement& ack,
                            uint16_t extra_timeout, bool wait, bool check_sequence) noexcept {
    const uint16_t start_count = d.ResendCount;
    const uint16_t budget = d.Retries;
    const int32_t capacity = *reply_length;
    if (d.Tunnel == 1) return tunnel_exchange(&d, request, request_length, reply, reply_length);
    struct RestoreRetries {
        ZEBDevice& d;
        uint16_t budget;
        ~RestoreRetries() { d.Retries = budget; }
    } restore{d, budget};
    AckCopy acknowledgement;
    for (bool first = true;; first = false) {
        if (!first && d.Transport && d.Transport->KeyMode == 1) {
            // The frame was keyed in place by the last pass; undo it so that it is prepared
            // from the clear body again.
            frame::apply_key(d.Transport->Key, request + frame::kCrcAt,
                             request_length - frame::kCrcAt);
        }
        uint32_t result =
            send_packet(d, request, request_length, reply, reply_length, want_reply, ack.warn);
        // A socket or port error leaves no acknowledgement: waiting for a final reply to a
        // request that never arrived would only run out the extra time on every re-send.
        if (!succeeded(result)) return result;
        if (first && !echo_matches(reply, *reply_length, ack)) return ZEBERR_MISMATCHED_REPLY;
        acknowledgement.keep(reply, *reply_length);
        *reply_length = capacity;
        result = await_reply(d, reply, reply_length, limit_of(d, extra_timeout), wait,
                             check_sequence, &acknowledgement);
        if (result != ZEBERR_TIMEOUT) {
            if (result) return result;
            return d.ResendCount != start_count ? ZEBWARN_RETRIED : 0;
        }
        ++d.ResendCount;
        const uint16_t used = static_cast<uint16_t>(d.ResendCount - start_count);
        if (used >= budget) return ZEBERR_TIMEOUT;
        *reply_length = capacity;
        d.Retries = static_cast<uint16_t>(budget - used);
    }
}

}  // namespace zeb

using namespace zeb;

extern "C" {

int32_t SetCRCMode(int32_t mode) {
    return state::exchange_crc_mode(mode);
}

uint32_t _SendPacket(ZEBDevice* device, uint8_t* request, uint16_t request_length, uint8_t* reply,
                     int32_t* reply_length, int32_t want_reply, int32_t warn) {
    if (!device) return ZEBERR_BAD_DEVICE;
    if (!request || !reply_length || (want_reply && !reply)) return ZEBERR_BAD_PARAMETER;
    return send_packet(*device, request, request_length, reply, reply_length, want_reply != 0,
                       warn != 0);
}

uint32_t SendPacketTwoResponses(ZEBDevice* device, uint8_t* request, uint16_t request_length,
                                uint8_t* reply, int32_t* reply_length, int32_t want_reply,
                                int32_t warn, uint16_t echo_count, const uint8_t* echo,
                                uint16_t extra_timeout, int32_t wait, int32_t check_sequence) {
    if (!device) return ZEBERR_BAD_DEVICE;
    if (!request || !reply_length || !reply) return ZEBERR_BAD_PARAMETER;
    const Acknowledgement ack{echo, echo_count, warn != 0};
    return send_two_responses(*device, request, request_length, reply, reply_length,
                              want_reply != 0, ack, extra_timeout, wait != 0, check_sequence != 0);
}

uint32_t GetResponse(ZEBDevice* device, uint8_t* reply, int32_t* reply_length,
                     uint16_t extra_timeout, int32_t wait, int32_t check_sequence) {
    if (!device) return ZEBERR_BAD_DEVICE;
    if (!reply || !reply_length) return ZEBERR_BAD_PARAMETER;
    return get_response(*device, reply, reply_length, extra_timeout, wait != 0,
                        check_sequence != 0);
}

uint32_t ZEBGetResponse(ZEBDevice* device, uint8_t* buffer, int32_t* length,
                        int32_t check_sequence) {
    return GetResponse(device, buffer, length, 0, 0, check_sequence);
}

uint32_t ZEBSetAsyncHandler(ZEBAsyncHandler handler) {
    state::set_async_handler(handler);
    return 0;
}

uint32_t ZEBGetAsyncHandler(ZEBAsyncHandler* handler) {
    if (handler) *handler = state::async_handler();
    return 0;
}

}  // extern "C"
