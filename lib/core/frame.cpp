#include "frame.h"

#include <cstring>

#include "crc16.h"
#include "ownership.h"
#include "state.h"

namespace zeb::frame {

uint16_t header_size(const ZEBDevice& device) noexcept {
    return device.ExtendedHeader ? kExtendedHeaderSize : kHeaderSize;
}

void prepare(const ZEBDevice& device, uint8_t* frame, uint16_t length) noexcept {
    if (device.ExtendedHeader) {
        frame[kHeaderSize] = kExtendedMarker;
        std::memcpy(frame + kHeaderSize + 1, device.NodeAddress, sizeof(device.NodeAddress));
    }
    std::memcpy(frame, "ZQK", 3);
    const uint16_t body = static_cast<uint16_t>(length - kHeaderSize);
    put_u16(frame + kCrcAt, state::crc_enabled() ? crc16(frame + kHeaderSize, body) : 0);
    put_u16(frame + kLengthAt, body);
    const ZEBTransport* transport = device.Transport;
    if (transport && transport->KeyMode == 1) {
        apply_key(transport->Key, frame + kCrcAt, length - kCrcAt);
    }
}

void stamp_sequence(ZEBDevice& device, uint8_t* frame) noexcept {
    const uint16_t sequence = state::take_sequence();
    device.LastSequence = sequence;
    put_u16(frame + kSequenceAt, sequence);
}

bool reply_crc_ok(const uint8_t* frame, int32_t length) noexcept {
    if (!state::crc_enabled()) return true;
    if (length < kHeaderSize) return false;
    const uint16_t field = get_u16(frame + kCrcAt);
    if (field == 0) return true;
    return crc16(frame + kHeaderSize, static_cast<size_t>(length - kHeaderSize)) == field;
}

bool reply_crc_ok(ZEBDevice& device, const uint8_t* frame, int32_t length) noexcept {
    if (!state::crc_enabled()) return true;
    if (length < kHeaderSize) return false;
    const uint16_t field = get_u16(frame + kCrcAt);
    const uint16_t actual = crc16(frame + kHeaderSize, static_cast<size_t>(length - kHeaderSize));
    uint8_t& flags = own::flags(device);
    if (field != 0) {
        if (actual != field) return false;
        if (!device.Broadcast) flags |= own::kModuleSendsCrc;
        return true;
    }
    return actual == 0 || !(flags & own::kModuleSendsCrc);
}

void apply_key(const char (&key)[kKeyFieldSize], uint8_t* bytes, size_t count) noexcept {
    const size_t key_length = strnlen(key, kKeyFieldSize);
    if (key_length == 0) return;
    for (size_t i = 0; i < count; ++i) {
        bytes[i] ^= static_cast<uint8_t>(key[i % key_length]);
    }
}

}  // namespace zeb::frame
