// Finding modules: one broadcast query, then every answer that arrives within the query time.
#include <algorithm>
#include <cstring>

#include "link.h"
#include "request.h"
#include "state.h"

namespace zeb {
namespace {

constexpr uint8_t kQueryDevices = 0x05;
constexpr uint8_t kQueryDeviceData = 0x09;
constexpr uint16_t kMaxDataItem = 512;
constexpr uint16_t kProtocolNone = 4;  // a transport on which nothing is to be found

constexpr uint16_t kQueryTimeoutMs = 20;
constexpr size_t kRequestCapacity = frame::kHeaderSize + 6 + kMaxDataItem;
constexpr size_t kReplyCapacity = 600;
constexpr size_t kSenderAddressSize = 20;

// An answer: magic, header, 0x55 0xAA, hardware address, broadcast-only byte.
constexpr size_t kAnswerSize = 18;
constexpr size_t kNodeAt = 2;
constexpr size_t kBroadcastOnlyAt = 8;

using DiscoveryRequest = Request<kRequestCapacity>;
using DiscoveryReply = Reply<kReplyCapacity>;

bool is_answer(DiscoveryReply& reply) {
    const uint8_t* p = reply.data();
    const bool magic = std::memcmp(p, "ZQK", 3) == 0 || std::memcmp(p, "ZQQ", 3) == 0;
    return reply.has(0, kAnswerSize - frame::kHeaderSize) && magic && reply.body()[0] == 0x55 &&
           reply.body()[1] == 0xAA;
}

void list_answer(const ZEBTransport& transport, const DiscoveryReply& reply,
                 const uint8_t (&sender)[kSenderAddressSize], ZEBDevice& entry) {
    std::memcpy(entry.Address.Raw, sender, sizeof sender);
    std::memcpy(entry.NodeAddress, reply.body(kNodeAt), sizeof entry.NodeAddress);
    if (transport.Protocol == ZEB_PROTOCOL_IP) {
        entry.Address.Ip.BroadcastOnly = reply.body()[kBroadcastOnlyAt] == 1 ? 1 : 0;
    }
}

// Sends the query on a temporary broadcast device and lists the answers until the query
// time-out has passed.
uint32_t query(ZEBTransport* transport, ZEBDevice* list, uint16_t* count, uint16_t version,
               DiscoveryRequest& request) {
    if (!count) return ZEBERR_BAD_PARAMETER;
    ZEBDevice probe{};
    if (uint32_t err = ZEBOpenDevice(transport, &probe, version, kQueryTimeoutMs, 0, 1)) {
        ZEBCloseDevice(&probe);
        return err;
    }
    // A plain broadcast device: the query names no module.
    probe.DataOffset = frame::kHeaderSize;
    probe.ExtendedHeader = 0;

    uint8_t sender[kSenderAddressSize] = {};
    probe.FromAddress = sender;
    probe.FromAddressSize = sizeof sender;
    const uint16_t capacity = list ? *count : 0;
    DiscoveryReply reply;
    uint32_t last = exchange(probe, request, reply, Wait::always, Warn::no);
    const uint32_t start = ClockMs();
    const uint32_t listen_ms = state::query_timeout_ms();
    uint32_t found = 0;
    uint32_t result = 0;
    for (;;) {
        if (last == 0 && is_answer(reply)) {
            if (found < capacity) {
                list_answer(*transport, reply, sender, list[found]);
            } else {
                result = ZEBERR_BUFFER_TOO_SMALL;
            }
            found = std::min<uint32_t>(found + 1, UINT16_MAX);
        } else if (last != 0 && last != ZEBERR_TIMEOUT) {
            ZEBCloseDevice(&probe);
            return last;
        }
        if (ClockMs() - start >= listen_ms) break;
        probe.FromAddressSize = sizeof sender;
        reply.set_capacity();
        last = GetResponse(&probe, reply.data(), reply.length_slot(), 0, 1, 1);
    }
    *count = static_cast<uint16_t>(found);
    ZEBCloseDevice(&probe);
    return result;
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBQueryDevices(ZEBTransport* transport, ZEBDevice* list, uint16_t* count,
                         uint16_t version) {
    if (!transport) return ZEBERR_NULL_TRANSPORT;
    if (transport->Protocol == kProtocolNone) {
        if (count) *count = 0;
        return 0;
    }
    ZEBDevice shape{};  // the request only needs the plain header's DataOffset
    shape.DataOffset = frame::kHeaderSize;
    DiscoveryRequest request(shape);
    request.u8(kQueryDevices);
    return query(transport, list, count, version, request);
}

uint32_t ZEBQueryDeviceData(ZEBTransport* transport, ZEBDevice* list, uint16_t* count,
                            uint16_t version, uint16_t data_type, const void* data,
                            uint16_t data_length) {
    const uint16_t length = data ? std::min(data_length, kMaxDataItem) : 0;
    ZEBDevice shape{};
    shape.DataOffset = frame::kHeaderSize;
    DiscoveryRequest request(shape);
    request.u8(kQueryDeviceData).u8(0).u16(data_type).u16(length).bytes(data, length);
    return query(transport, list, count, version, request);
}

uint32_t ZEBSetQueryTimeout(uint32_t milliseconds) {
    return state::exchange_query_timeout_ms(milliseconds);
}

uint32_t ZEBGetQueryTimeout(void) {
    return state::query_timeout_ms();
}

}  // extern "C"
