// Calling the engine's entry points with a payload instead of a hand-built request buffer.
#pragma once

#include <cstdint>

#include "endpoint.h"
#include "zeb.h"

namespace zebtest {

struct Outcome {
    uint32_t result;
    int32_t length;  // the reply length the call left
    Bytes reply;     // the reply buffer cut to that length
    Bytes request;   // the request buffer after the call (prepared and keyed)
};

struct SendOptions {
    int32_t capacity = 600;
    int32_t want_reply = 1;
    int32_t warn = 1;
};

// _SendPacket with `payload` at the device's DataOffset.
Outcome send_packet(ZEBDevice& device, const Bytes& payload, SendOptions options = {});

struct TwoReplyOptions {
    SendOptions send;
    Bytes echo;
    uint16_t extra_timeout = 0;
    int32_t wait = 1;
    int32_t check_sequence = 1;
};

// SendPacketTwoResponses with `payload` at the device's DataOffset.
Outcome send_two_responses(ZEBDevice& device, const Bytes& payload, TwoReplyOptions options);

// GetResponse into a buffer of `capacity` bytes.
Outcome get_response(ZEBDevice& device, int32_t capacity, uint16_t extra_timeout, int32_t wait,
                     int32_t check_sequence);

}  // namespace zebtest
