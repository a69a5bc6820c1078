#include "frame.h"

#include <cstring>
#include <iterator>

#include "core/crc16.h"
#include "vocab/markers.h"

namespace racksim {

void apply_key(uint8_t* frame, size_t len, const std::string& key) {
    if (key.empty()) return;
    size_t k = 0;
    for (size_t i = header::kKeyedFrom; i < len; ++i) {
        frame[i] ^= static_cast<uint8_t>(key[k]);
        if (++k == key.size()) k = 0;
    }
}

bool parse_request_into(const uint8_t* data, size_t len, const std::string& key, Request* req,
                        Bytes* keyed, const char** why, bool* bad_crc) {
    if (bad_crc) *bad_crc = false;
    auto fail = [&](const char* reason) {
        *why = reason;
        return false;
    };
    if (len < kHeaderSize) return fail("shorter than a header");
    if (std::memcmp(data, header::kMagic, sizeof header::kMagic) != 0) return fail("wrong magic");

    const uint8_t* frame = data;
    if (!key.empty()) {
        keyed->assign(data, data + len);
        apply_key(keyed->data(), keyed->size(), key);
        frame = keyed->data();
    }
    const uint16_t crc_field = get_u16(&frame[header::kCrcAt]);
    const uint16_t length = get_u16(&frame[header::kLengthAt]);
    if (length != len - kHeaderSize) return fail("length field disagrees with datagram");
    if (crc_field != 0 && zeb::crc16(&frame[kHeaderSize], len - kHeaderSize) != crc_field) {
        if (bad_crc) *bad_crc = true;
        return fail("bad CRC");
    }

    req->sequence = get_u16(&frame[header::kSequenceAt]);
    req->extended = false;
    req->node = {};
    size_t start = kHeaderSize;
    if (len > kHeaderSize && frame[kHeaderSize] == zeb::vocab::kExtendedHeader) {
        if (len < kExtendedHeaderSize) return fail("extended header cut short");
        req->extended = true;
        std::memcpy(req->node.data(), &frame[kHeaderSize + 1], req->node.size());
        start = kExtendedHeaderSize;
    }
    if (start >= len) return fail("no function code");
    req->payload.assign(frame + start, frame + len);
    return true;
}

std::optional<Request> parse_request(const uint8_t* data, size_t len, const std::string& key,
                                     std::string* why, bool* bad_crc) {
    Request req;
    Bytes keyed;
    const char* reason = "";
    if (parse_request_into(data, len, key, &req, &keyed, &reason, bad_crc)) return req;
    if (why) *why = reason;
    return std::nullopt;
}

void start_reply(uint16_t sequence, Bytes* out) {
    out->clear();
    out->insert(out->end(), std::begin(header::kMagic), std::end(header::kMagic));
    put_u16(*out, sequence);
    put_u16(*out, 0);
    put_u16(*out, 0);
}

void seal_reply(Bytes* frame, bool crc) {
    const uint8_t* body = frame->data() + kHeaderSize;
    const size_t n = frame->size() - kHeaderSize;
    set_u16(&(*frame)[header::kCrcAt], crc ? zeb::crc16(body, n) : 0);
    set_u16(&(*frame)[header::kLengthAt], static_cast<uint16_t>(n));
}

void make_reply_into(uint16_t sequence, const Bytes& payload, bool crc, Bytes* out) {
    start_reply(sequence, out);
    out->insert(out->end(), payload.begin(), payload.end());
    seal_reply(out, crc);
}

Bytes make_reply(uint16_t sequence, const Bytes& payload, bool crc) {
    Bytes out;
    out.reserve(kHeaderSize + payload.size());
    make_reply_into(sequence, payload, crc, &out);
    return out;
}

Bytes make_request(uint16_t sequence, const Bytes& payload, bool crc, const std::string& key,
                   const HwAddress* node) {
    Bytes body;
    if (node) {
        body.push_back(zeb::vocab::kExtendedHeader);
        body.insert(body.end(), node->begin(), node->end());
    }
    body.insert(body.end(), payload.begin(), payload.end());
    Bytes out = make_reply(sequence, body, crc);
    apply_key(out.data(), out.size(), key);
    return out;
}

}  // namespace racksim
