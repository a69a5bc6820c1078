// The shape every operation shares: write a body at the device's DataOffset, run the engine,
// check the result, read the reply through bounds checks, deliver with the cut-to-fit rule.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine.h"
#include "frame.h"
#include "zeb.h"

namespace zeb {

// A request in an operation's fixed buffer. Writes past the buffer are refused and remembered,
// so an operation checks once, before sending, with fits().
template <size_t Capacity>
class Request {
  public:
    explicit Request(const ZEBDevice& device) noexcept
        : at_(device.DataOffset), fits_(device.DataOffset <= Capacity) {}

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

    bool fits() const noexcept { return fits_; }
    uint8_t* data() noexcept { return buf_; }
    uint16_t length() const noexcept { return static_cast<uint16_t>(at_); }

  private:
    uint8_t buf_[Capacity];
    size_t at_;
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

enum class Wait { always, unless_no_wait };
enum class Warn { no, yes };

// Runs one request/reply exchange with the engine.
template <size_t RequestCapacity, size_t ReplyCapacity>
uint32_t exchange(ZEBDevice& device, Request<RequestCapacity>& request, Reply<ReplyCapacity>& reply,
                  Wait wait, Warn warn) noexcept {
    reply.set_capacity();
    const bool want_reply = wait == Wait::always || device.NoWait == 0;
    return _SendPacket(&device, request.data(), request.length(), reply.data(), reply.length_slot(),
                       want_reply, warn == Warn::yes);
}

// The acknowledged exchange: an acknowledgement, then the final reply `extra_ms` later at most.
template <size_t RequestCapacity, size_t ReplyCapacity>
uint32_t exchange_acknowledged(ZEBDevice& device, Request<RequestCapacity>& request,
                               Reply<ReplyCapacity>& reply, uint16_t extra_ms) noexcept {
    reply.set_capacity();
    return SendPacketTwoResponses(&device, request.data(), request.length(), reply.data(),
                                  reply.length_slot(), 1, 0, 0, nullptr, extra_ms, 1, 1);
}

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

// Delivers a reply's whole body: the shape of replies that carry no status word.
template <size_t ReplyCapacity>
uint32_t deliver_body(const Reply<ReplyCapacity>& reply, uint32_t result, uint8_t* buffer,
                      uint16_t* capacity) noexcept {
    if (reply.empty()) {
        if (capacity) *capacity = 0;
        return ZEBERR_NO_DATA;
    }
    return copy_cut(reply.body(), reply.body_size(), buffer, capacity, result);
}

// A module status word as a result, sign-extended from 16 to 32 bits (0x8003 -> 0xFFFF8003).
inline uint32_t status_signed(uint16_t status) noexcept {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(status)));
}

// An I/O status word as a result: sign-extended, then bit 15 set (0x0005 -> 0x8005,
// 0x8012 -> 0xFFFF8012).
inline uint32_t status_io(uint16_t status) noexcept {
    return status_signed(status) | 0x8000u;
}

// A caller asks for the extended item format by starting its buffer with this marker; the
// request then carries it after the function code.
inline constexpr uint8_t kExtendedFormat = 0xB1;
inline bool wants_extended_format(const uint8_t* buffer) noexcept {
    return buffer && buffer[0] == kExtendedFormat;
}

// Offsets in a reply body that starts with a status word.
inline constexpr size_t kStatusSize = 2;

}  // namespace zeb
