// Sending a request, waiting for the reply with the matching sequence number, re-sending on
// time-out, and the acknowledged two-reply exchange.
#include "engine.h"

#include <algorithm>
#include <cstring>

#include "frame.h"
#include "link.h"
#include "platform/clock.h"
#include "state.h"

namespace zeb {
namespace {

// A packet that cannot be a reply to the awaited request: a runt without a whole header, or
// one whose sequence number is another's.
bool is_stray(const uint8_t* packet, int32_t length, uint16_t awaited, bool check_sequence) {
    if (length < frame::kHeaderSize) return true;
    const uint16_t sequence = frame::get_u16(packet + frame::kSequenceAt);
    return check_sequence && awaited != 0 && sequence != awaited;
}

// Whether the acknowledgement's body starts with the expected bytes; bytes that never arrived
// do not match.
bool echo_matches(const uint8_t* reply, int32_t length, const Acknowledgement& ack) {
    if (ack.echo_count == 0) return true;
    if (!ack.echo || length < frame::kHeaderSize + ack.echo_count) return false;
    return std::memcmp(reply + frame::kHeaderSize, ack.echo, ack.echo_count) == 0;
}

// How long a packet identical to an acknowledgement without echo bytes is held before it is
// taken as the final reply: a different packet with the same number within this time shows
// that the held one was a copy made by the network.
constexpr uint32_t kIdenticalFinalGraceMs = 20;

// How many packets a wait that does not wait takes from the queue before it gives up. What is
// queued is drained by count, not by the clock, so a device whose time-out is 0 still reaches
// a reply queued behind stray packets, and a stream of them cannot hold the call.
constexpr int kMaxQueuedPackets = 256;

// The acknowledgement of a two-reply exchange, kept while the final reply is awaited. With
// echo bytes, a packet that begins with them is the acknowledgement again (a final reply never
// does). Without, a packet identical to it may well be the module's final reply: a module may
// acknowledge with the very status word it then answers with.
class HeldAcknowledgement {
  public:
    static constexpr size_t kKept = 1600;

    void keep(const uint8_t* packet, int32_t n, const Acknowledgement& ack) {
        length_ = std::clamp<int32_t>(n, 0, int32_t(kKept));
        std::memcpy(bytes_, packet, size_t(length_));
        ack_ = ack;
    }

    enum class Packet { answer, acknowledgement_again, maybe_answer };
    Packet classify(const uint8_t* packet, int32_t n) const {
        if (ack_.echo_count > 0) {
            return echo_matches(packet, n, ack_) ? Packet::acknowledgement_again : Packet::answer;
        }
        const bool same = n == length_ && std::memcmp(bytes_, packet, size_t(n)) == 0;
        return same ? Packet::maybe_answer : Packet::answer;
    }

    // Puts the kept packet back into a buffer of `capacity` bytes; returns its length there.
    int32_t restore(uint8_t* packet, int32_t capacity) const {
        const int32_t n = std::min(length_, capacity);
        std::memcpy(packet, bytes_, size_t(n));
        return n;
    }
    uint8_t* bytes() { return bytes_; }
    int32_t length() const { return length_; }

  private:
    uint8_t bytes_[kKept];
    int32_t length_ = 0;
    Acknowledgement ack_;
};

// Hands a packet that is not the awaited reply to the asynchronous handler and counts it.
void pass_on_stray(ZEBDevice& d, uint8_t* packet, int32_t length) {
    if (ZEBAsyncHandler handler = state::async_handler()) handler(&d, packet, length);
    ++d.LateReplyCount;
}

// Takes an accepted reply: its number with check sequence off, then its CRC.
uint32_t accept(ZEBDevice& d, const uint8_t* reply, int32_t length, bool check_sequence) {
    if (!check_sequence) d.LastSequence = frame::get_u16(reply + frame::kSequenceAt);
    if (!frame::reply_crc_ok(d, reply, length)) {
        ++d.CrcErrorCount;
        return ZEBERR_BAD_CRC;
    }
    return 0;
}

// Takes the reply to the device's last request, waiting at most `limit` ms with `wait` on;
// with it off, takes what is queued. While the final reply of a two-reply exchange is awaited,
// `held` is its acknowledgement.
uint32_t await_reply(ZEBDevice& d, uint8_t* reply, int32_t* length, uint32_t limit, bool wait,
                     bool check_sequence, HeldAcknowledgement* held) {
    using Packet = HeldAcknowledgement::Packet;
    const uint16_t awaited = d.LastSequence;
    const int32_t capacity = *length;
    const uint32_t start = ClockMs();
    bool candidate = false;  // a packet identical to the acknowledgement came: maybe the answer
    uint32_t candidate_at = 0;
    for (int taken = 0;; ++taken) {
        *length = capacity;
        // The receive itself waits, for at most what is left of the limit (or of the grace for
        // a held candidate): it spins briefly, then sleeps until the socket or port is readable.
        const uint32_t now = ClockMs();
        uint32_t wait_ms = wait && now - start < limit ? limit - (now - start) : 0;
        if (candidate) {
            const uint32_t held_for = now - candidate_at;
            wait_ms = std::min(wait_ms, held_for < kIdenticalFinalGraceMs
                                            ? kIdenticalFinalGraceMs - held_for
                                            : 0u);
        }
        const uint32_t received = ReceiveFrame(&d, reply, length, wait_ms);
        if (received != 0 && received != ZEBERR_NO_PACKET) return received;
        const bool arrived = received == 0 && *length != 0;
        if (arrived && !is_stray(reply, *length, awaited, check_sequence)) {
            const Packet kind = held ? held->classify(reply, *length) : Packet::answer;
            if (kind == Packet::answer) {
                // A copy of the acknowledgement held before the answer was the network's.
                if (candidate) pass_on_stray(d, held->bytes(), held->length());
                return accept(d, reply, *length, check_sequence);
            }
            if (kind == Packet::maybe_answer && !candidate) {
                candidate = true;
                candidate_at = ClockMs();
            } else {
                pass_on_stray(d, reply, *length);
            }
        } else if (arrived) {
            pass_on_stray(d, reply, *length);
        }
        // Nothing else came within the grace, the limit, or the queue: the packet identical to
        // the acknowledgement is the answer.
        const uint32_t elapsed = ClockMs() - start;
        const bool queue_done = !wait && (!arrived || taken + 1 >= kMaxQueuedPackets);
        if (candidate && (queue_done || elapsed >= limit ||
                          ClockMs() - candidate_at >= kIdenticalFinalGraceMs)) {
            *length = held->restore(reply, capacity);
            return accept(d, reply, *length, check_sequence);
        }
        if (!wait) {
            if (!queue_done) continue;  // drain what is queued
            *length = capacity;
            return ZEBERR_NO_PACKET;
        }
        // The deadline holds on every path, so a stream of stray packets cannot stall a call.
        if (elapsed >= limit) {
            *length = 0;
            return ZEBERR_TIMEOUT;
        }
    }
}

uint32_t limit_of(const ZEBDevice& d, uint16_t extra_timeout) {
    return static_cast<uint32_t>(d.Timeout) + extra_timeout;
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
    if (const StackedLink* above = stacked_link_of(d)) {
        return above->exchange(d, request, request_length, reply, reply_length);
    }
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
    // A stacked link carries one answer: no acknowledgement to wait for.
    if (const StackedLink* above = stacked_link_of(d)) {
        return above->exchange(d, request, request_length, reply, reply_length);
    }
    struct RestoreRetries {
        ZEBDevice& d;
        uint16_t budget;
        ~RestoreRetries() { d.Retries = budget; }
    } restore{d, budget};
    HeldAcknowledgement acknowledgement;
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
        acknowledgement.keep(reply, *reply_length, ack);
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
