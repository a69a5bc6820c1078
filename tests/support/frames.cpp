#include "frames.h"

namespace zebtest {

uint16_t reference_crc(const uint8_t* data, size_t len) {
    uint16_t crc = 0;
    for (size_t i = 0; i < len; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

uint16_t reference_crc(const Bytes& data) {
    return reference_crc(data.data(), data.size());
}

Bytes text_bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

uint16_t u16_at(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

Bytes make_frame(uint16_t sequence, uint16_t crc_field, const Bytes& payload,
                 std::string_view magic) {
    Bytes f(magic.begin(), magic.end());
    const auto size = static_cast<uint16_t>(payload.size());
    for (uint16_t v : {sequence, crc_field, size}) {
        f.push_back(static_cast<uint8_t>(v));
        f.push_back(static_cast<uint8_t>(v >> 8));
    }
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

Bytes make_reply(uint16_t sequence, const Bytes& payload, bool crc_on) {
    return make_frame(sequence, crc_on ? reference_crc(payload) : 0, payload);
}

Bytes make_bad_crc_reply(uint16_t sequence, const Bytes& payload) {
    uint16_t wrong = static_cast<uint16_t>(reference_crc(payload) ^ 0x0101);
    if (wrong == 0) wrong = 0x1234;
    return make_frame(sequence, wrong, payload);
}

uint16_t sequence_of(const Bytes& frame) {
    return u16_at(frame, 3);
}

Bytes payload_of(const Bytes& frame) {
    return frame.size() > kHeader ? Bytes(frame.begin() + kHeader, frame.end()) : Bytes{};
}

Bytes unkey(Bytes frame, std::string_view key) {
    if (key.empty()) return frame;
    for (size_t i = 5; i < frame.size(); ++i) {
        frame[i] ^= static_cast<uint8_t>(key[(i - 5) % key.size()]);
    }
    return frame;
}

bool crc_field_ok(const Bytes& frame) {
    const uint16_t field = u16_at(frame, 5);
    return field == 0 || field == reference_crc(payload_of(frame));
}

}  // namespace zebtest
