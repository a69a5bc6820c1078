// Request and reply frames: the 9-byte header ("ZQK", sequence, CRC-16, length), the optional
// extended header naming a module by hardware address, and the request XOR key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "bytes.h"
#include "vocab/frame.h"

namespace racksim {

using HwAddress = std::array<uint8_t, 6>;

// The header's layout, as the vocabulary declares it.
namespace header = zeb::vocab::frame;
inline constexpr size_t kHeaderSize = header::kHeaderSize;
inline constexpr size_t kExtendedHeaderSize = header::kExtendedHeaderSize;
// Largest payload a reply may carry: the length field is 16 bits.
inline constexpr size_t kMaxReplyPayload = 0xFFFF;

struct Request {
    uint16_t sequence = 0;
    bool extended = false;  // carried the extended header
    HwAddress node{};       // the addressed hardware address when extended
    Bytes payload;          // function code first
};

// Undoes (or applies: XOR is its own inverse) the key on bytes 5 onward of a frame.
void apply_key(uint8_t* frame, size_t len, const std::string& key);

// Checks and decodes one request datagram. Returns nullopt for anything that must be dropped
// (too short, wrong magic, length field disagreeing with the datagram, bad CRC, no function
// code) and says why in *why; *bad_crc tells a CRC mismatch from the rest.
std::optional<Request> parse_request(const uint8_t* data, size_t len, const std::string& key,
                                     std::string* why, bool* bad_crc = nullptr);

// The same into a request kept from one datagram to the next, so that a server reuses its
// storage: `keyed` holds the unkeyed copy of a keyed frame. *why says why a datagram is
// dropped (a constant text).
bool parse_request_into(const uint8_t* data, size_t len, const std::string& key, Request* req,
                        Bytes* keyed, const char** why, bool* bad_crc = nullptr);

// Starts a reply frame in `out` (storage reused): the header with the CRC and length fields 0,
// for the payload to be appended and the frame sealed.
void start_reply(uint16_t sequence, Bytes* out);
// Fills in the length field and, with crc, the CRC of everything after the header.
void seal_reply(Bytes* frame, bool crc);

// Builds a reply frame; crc=false leaves the CRC field 0. The payload must not exceed
// kMaxReplyPayload.
Bytes make_reply(uint16_t sequence, const Bytes& payload, bool crc);
// The same into `out`, whose storage is reused.
void make_reply_into(uint16_t sequence, const Bytes& payload, bool crc, Bytes* out);

// Builds a request frame the way a host does (for tests and tools).
Bytes make_request(uint16_t sequence, const Bytes& payload, bool crc, const std::string& key = {},
                   const HwAddress* node = nullptr);

}  // namespace racksim
