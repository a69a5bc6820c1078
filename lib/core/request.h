// The shape every operation shares: write a body at the device's DataOffset, run the engine,
// check the result, read the reply through bounds checks, deliver with the cut-to-fit rule.
//
//     Request<kRequestCapacity> request(device);
//     request.u8(fn::kReadIo);
//     Reply<kReplyCapacity> reply;
//     const uint32_t result = exchange(device, request, reply, Wait::unless_no_wait, Warn::yes);
//     if (failed(result)) return result;
//     return deliver_status_and_data(reply, result, StatusRule::io, buffer, size);
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine.h"
#include "frame.h"
#include "functions.h"
#include "vocab/markers.h"
#include "zeb.h"

namespace zeb {

// A request in an operation's fixed buffer. Writes past the buffer are refused and remembered,
// and exchange() refuses the whole request before anything is sent. Counts are size_t, so no
// length reaches the limit check cut to 16 bits.
template <size_t Capacity>
class Request {
  public:
    explicit Request(const ZEBDevice* device) noexcept {
        const uint16_t offset = device ? device->DataOffset : 0;
        offset_ok_ = offset == frame::kHeaderSize || offset == frame::kExtendedHeaderSize;
        at_ = offset_ok_ ? offset : 0;
        fits_ = offset_ok_ && at_ <= Capacity;
        // The engine fills the header; whatever of it stays unwritten goes out as zeros, never
        // as stack contents.
        if (fits_) std::memset(buf_, 0, at_);
    }

    Request& u8(uint8_t v) noexcept { return bytes(&v, 1); }
    Request& u16(uint16_t v) noexcept {
        const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        return bytes(b, 2);
    }
    Request& u32(uint32_t v) noexcept {
        const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        return bytes(b, 4);
    }
    Request& bytes(const void* data, size_t count) noexcept {
        if (!fits_ || count > Capacity - at_ || (count && !data)) {
            fits_ = false;
            return *this;
        }
        if (count) std::memcpy(buf_ + at_, data, count);
        at_ += count;
        return *this;
    }

    // 0 when the request may be sent; otherwise why not.
    uint32_t refusal() const noexcept {
        if (!offset_ok_) return ZEBERR_BAD_DEVICE;
        return fits_ ? 0 : ZEBERR_PACKET_TOO_LARGE;
    }
    uint8_t* data() noexcept { return buf_; }
    uint16_t length() const noexcept { return static_cast<uint16_t>(at_); }

  private:
    uint8_t buf_[Capacity];
    size_t at_;
    bool offset_ok_;
    bool fits_;
};

// A reply datagram in an operation's fixed buffer. Its body starts at byte 9 whatever header
// the request used; reads never go past the bytes that arrived.
template <size_t Capacity>
class Reply {
  public:
    uint8_t* data() noexcept { return buf_; }
    int32_t* length_slot() noexcept { return &length_; }
    void set_capacity() noexcept { length_ = static_cast<int32_t>(Capacity); }

    bool empty() const noexcept { return length_ <= 0; }
    // Body bytes that arrived (the length counts the 9 header bytes).
    size_t body_size() const noexcept {
        return length_ > frame::kHeaderSize ? size_t(length_) - frame::kHeaderSize : 0;
    }
    // Body bytes from `offset` on; empty when the body is shorter.
    const uint8_t* body(size_t offset = 0) const noexcept {
        return buf_ + frame::kHeaderSize + std::min(offset, body_size());
    }
    size_t body_size_from(size_t offset) const noexcept {
        return body_size() > offset ? body_size() - offset : 0;
    }
    bool has(size_t offset, size_t count) const noexcept {
        return offset <= body_size() && count <= body_size() - offset;
    }
    uint16_t u16(size_t offset) const noexcept {
        return has(offset, 2) ? frame::get_u16(body(offset)) : 0;
    }

  private:
    uint8_t buf_[Capacity];
    int32_t length_ = 0;
};

// Reads a reply body field by field. A read past the bytes that arrived gives zeros and is
// remembered, so an operation reads what it needs and then asks complete() once.
class ReplyReader {
  public:
    ReplyReader(const uint8_t* body, size_t size) noexcept : body_(body), size_(size) {}
    template <size_t Capacity>
    explicit ReplyReader(const Reply<Capacity>& reply, size_t from = 0) noexcept
        : ReplyReader(reply.body(from), reply.body_size_from(from)) {}

    uint8_t u8() noexcept {
        const uint8_t* p = block(1);
        return p ? p[0] : 0;
    }
    uint16_t u16() noexcept {
        const uint8_t* p = block(2);
        return p ? frame::get_u16(p) : 0;
    }
    uint32_t u32() noexcept {
        const uint8_t* p = block(4);
        return p ? uint32_t(frame::get_u16(p)) | uint32_t(frame::get_u16(p + 2)) << 16 : 0;
    }
    // The next `count` bytes, or null when fewer arrived (the reader then stands at the end).
    const uint8_t* block(size_t count) noexcept {
        if (count > size_ - at_) {
            at_ = size_;
            complete_ = false;
            return nullptr;
        }
        const uint8_t* p = body_ + at_;
        at_ += count;
        return p;
    }
    // Everything from the cursor on.
    const uint8_t* rest() const noexcept { return body_ + at_; }
    size_t rest_size() const noexcept { return size_ - at_; }
    // Whether every field read so far arrived whole.
    bool complete() const noexcept { return complete_; }

  private:
    const uint8_t* body_;
    size_t size_;
    size_t at_ = 0;
    bool complete_ = true;
};

enum class Wait { always, unless_no_wait };
enum class Warn { no, yes };

// Runs one request/reply exchange: refuses a null device, a header size other than 9 or 16 and
// a request that did not fit before anything is sent, then hands the request to the engine.
template <size_t RequestCapacity, size_t ReplyCapacity>
uint32_t exchange(ZEBDevice* device, Request<RequestCapacity>& request, Reply<ReplyCapacity>& reply,
                  Wait wait, Warn warn) noexcept {
    if (!device) return ZEBERR_BAD_DEVICE;
    if (uint32_t refused = request.refusal()) return refused;
    reply.set_capacity();
    const bool want_reply = wait == Wait::always || device->NoWait == 0;
    return send_packet(*device, request.data(), request.length(), reply.data(), reply.length_slot(),
                       want_reply, warn == Warn::yes);
}

// The acknowledged exchange: an acknowledgement beginning with ack's echo bytes, then the final
// reply `extra_ms` later at most, which the reply holds afterwards. When the echo does not
// match, the result is ZEBERR_MISMATCHED_REPLY and the reply holds the acknowledgement.
template <size_t RequestCapacity, size_t ReplyCapacity>
uint32_t exchange_acknowledged(ZEBDevice* device, Request<RequestCapacity>& request,
                               Reply<ReplyCapacity>& reply, const Acknowledgement& ack,
                               uint16_t extra_ms, Wait wait = Wait::always) noexcept {
    if (!device) return ZEBERR_BAD_DEVICE;
    if (uint32_t refused = request.refusal()) return refused;
    reply.set_capacity();
    const bool want_reply = wait == Wait::always || device->NoWait == 0;
    return send_two_responses(*device, request.data(), request.length(), reply.data(),
                              reply.length_slot(), want_reply, ack, extra_ms, true, true);
}

// Raises a device's Timeout for the length of one call, and gives the caller's value back on
// every path out. The raise stops at the field's largest value rather than wrapping round to
// a time-out of a few milliseconds.
class RaisedTimeout {
  public:
    RaisedTimeout(ZEBDevice* device, uint16_t ms) noexcept
        : device_(device), saved_(device ? device->Timeout : 0) {
        if (device_) device_->Timeout = static_cast<uint16_t>(std::min(saved_ + ms, 0xFFFF));
    }
    ~RaisedTimeout() {
        if (device_) device_->Timeout = saved_;
    }
    RaisedTimeout(const RaisedTimeout&) = delete;
    RaisedTimeout& operator=(const RaisedTimeout&) = delete;

  private:
    ZEBDevice* device_;
    uint16_t saved_;
};

// Runs step(offset, count) over a block of `total` bytes in pieces of at most `chunk`, for
// transfers larger than one request. Stops at the first result that is not a success proper
// and returns it; otherwise ZEBWARN_RETRIED when any piece needed re-sends, else 0.
template <class Step>
uint32_t for_each_chunk(size_t total, size_t chunk, Step step) noexcept {
    uint32_t result = 0;
    for (size_t at = 0; at < total; at += chunk) {
        const uint32_t r = step(at, std::min(chunk, total - at));
        if (!succeeded(r)) return r;
        result |= r;
    }
    return result;
}

// ---- Delivery --------------------------------------------------------------------------

// Copies `count` bytes into the caller's buffer of *capacity bytes, cutting what does not fit.
// Returns `result`, or ZEBERR_BUFFER_TOO_SMALL when something was cut; *capacity becomes the
// number of bytes delivered. A null buffer or capacity takes nothing.
inline uint32_t copy_cut(const uint8_t* source, size_t count, uint8_t* buffer, uint16_t* capacity,
                         uint32_t result) noexcept {
    const size_t room = (buffer && capacity) ? *capacity : 0;
    if (count > room) result = ZEBERR_BUFFER_TOO_SMALL;
    const size_t n = std::min(count, room);
    if (n && buffer) std::memcpy(buffer, source, n);
    if (capacity) *capacity = static_cast<uint16_t>(n);
    return result;
}

// How many entries of a counted list reach the caller: no more than the reply claims, than
// arrived whole, or than the caller has room for. A list cut to the room gives
// ZEBERR_BUFFER_TOO_SMALL, one shorter than its count ZEBERR_NO_DATA, otherwise `result`.
struct ListCut {
    size_t count;
    uint32_t result;
};
inline ListCut cut_list(size_t claimed, size_t arrived, size_t room, uint32_t result) noexcept {
    const size_t n = std::min(claimed, arrived);
    if (n > room) return {room, ZEBERR_BUFFER_TOO_SMALL};
    return {n, claimed > arrived ? ZEBERR_NO_DATA : result};
}

// The answer to a reply that carried nothing to deliver: nothing delivered, ZEBERR_NO_DATA.
inline uint32_t no_data(uint16_t* capacity) noexcept {
    if (capacity) *capacity = 0;
    return ZEBERR_NO_DATA;
}

// Typed outputs: a value into the caller's variable, never through a null pointer.
template <class T>
inline void put(T* out, T value) noexcept {
    if (out) *out = value;
}

// How a nonzero status word at the head of a reply becomes the result.
enum class StatusRule {
    signed_word,  // sign-extended from 16 to 32 bits: 0x8003 -> 0xFFFF8003
    io_word,      // sign-extended, then bit 15 set: 0x0005 -> 0x8005
};

inline uint32_t status_signed(uint16_t status) noexcept {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(status)));
}
inline uint32_t status_io(uint16_t status) noexcept {
    return status_signed(status) | 0x8000u;
}
// The result a status word gives: 0 for 0, else the word converted by the rule.
inline uint32_t status_result(uint16_t status, StatusRule rule) noexcept {
    if (status == 0) return 0;
    return rule == StatusRule::io_word ? status_io(status) : status_signed(status);
}

// A nonzero status word, converted by the rule, in place of `result`.
inline uint32_t status_or(uint16_t status, StatusRule rule, uint32_t result) noexcept {
    return status ? status_result(status, rule) : result;
}

inline constexpr size_t kStatusSize = 2;

// Delivers a reply's whole body: the shape of replies that carry no status word.
template <size_t ReplyCapacity>
uint32_t deliver_body(const Reply<ReplyCapacity>& reply, uint32_t result, uint8_t* buffer,
                      uint16_t* capacity) noexcept {
    if (reply.empty()) return no_data(capacity);
    return copy_cut(reply.body(), reply.body_size(), buffer, capacity, result);
}

// Delivers a "status word, then data" reply: the data cut to the caller's buffer, then a
// nonzero status word as the result, which overrides a cut or a warning. Data that came with a
// refusal is still delivered. A reply without a whole status word carries no answer.
template <size_t ReplyCapacity>
uint32_t deliver_status_and_data(const Reply<ReplyCapacity>& reply, uint32_t result,
                                 StatusRule rule, uint8_t* buffer, uint16_t* capacity) noexcept {
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    if (!in.complete()) return no_data(capacity);
    result = copy_cut(in.rest(), in.rest_size(), buffer, capacity, result);
    return status ? status_result(status, rule) : result;
}

// The result of a "status word, then data" reply whose data is not wanted.
template <size_t ReplyCapacity>
uint32_t status_only(const Reply<ReplyCapacity>& reply, uint32_t result, StatusRule rule) noexcept {
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    if (!in.complete()) return ZEBERR_NO_DATA;
    return status ? status_result(status, rule) : result;
}

// A caller asks for the extended item format by starting its buffer with this marker; the
// request then carries it after the function code. A buffer of no capacity holds no marker.
inline constexpr uint8_t kExtendedFormat = vocab::kExtendedFormat;
inline bool wants_extended_format(const uint8_t* buffer, const uint16_t* capacity) noexcept {
    return buffer && capacity && *capacity > 0 && buffer[0] == kExtendedFormat;
}

}  // namespace zeb
