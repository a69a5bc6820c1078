// The request/response engine shared by every operation. The exported C entry points are thin
// wrappers over these functions; the request helpers call them directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zeb.h"

namespace zeb {

// A result counts as failure when it is nonzero and lacks the 0x2000 bit. Winsock numbers carry
// that bit, so a socket error passed through is not a failure by this test: the exchange then
// leaves an empty reply, which the operations report as no data.
inline bool failed(uint32_t result) noexcept {
    return result != 0 && !(result & ZEBWARN_RETRIED);
}

// Success proper: 0, or success after re-sends.
inline bool succeeded(uint32_t result) noexcept {
    return result == 0 || result == ZEBWARN_RETRIED;
}

// Frames and sends a request, waits for the reply with its sequence number, and re-sends after
// a time-out up to the device's Retries. *reply_length holds the capacity on entry and the
// reply's length (header included) or 0 on return.
uint32_t send_packet(ZEBDevice& device, uint8_t* request, uint16_t request_length, uint8_t* reply,
                     int32_t* reply_length, bool want_reply, bool warn) noexcept;

// What an acknowledgement must begin with, and whether re-sends inside it warn.
struct Acknowledgement {
    const uint8_t* echo = nullptr;
    uint16_t echo_count = 0;
    bool warn = false;
};

// The acknowledged exchange: an acknowledgement that must echo the given bytes, then the final
// reply within Timeout + extra_timeout ms. The re-send budget is shared by both waits.
uint32_t send_two_responses(ZEBDevice& device, uint8_t* request, uint16_t request_length,
                            uint8_t* reply, int32_t* reply_length, bool want_reply,
                            const Acknowledgement& ack, uint16_t extra_timeout, bool wait,
                            bool check_sequence) noexcept;

// Waits for the reply to the device's last request (or takes what is queued, with wait off).
uint32_t get_response(ZEBDevice& device, uint8_t* reply, int32_t* reply_length,
                      uint16_t extra_timeout, bool wait, bool check_sequence) noexcept;

// Waits at most `limit_ms` for the reply to the device's last request, whatever its Timeout.
uint32_t get_response_within(ZEBDevice& device, uint8_t* reply, int32_t* reply_length,
                             uint32_t limit_ms) noexcept;

}  // namespace zeb
