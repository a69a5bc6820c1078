// Finding modules: one broadcast query, then every answer that arrives within the query time.
#include <algorithm>
#include <cstring>

#include "core/link.h"
#include "core/platform/clock.h"
#include "core/request.h"
#include "core/state.h"
#include "vocab/capacities.h"

namespace zeb {
namespace {

constexpr uint16_t kMaxDataItem = vocab::kMaxQueryItem;
constexpr uint16_t kProtocolNone = 4;  // a transport on which nothing is to be found

constexpr uint16_t kQueryTimeoutMs = 20;
constexpr size_t kRequestCapacity = frame::kHeaderSize + 6 + kMaxDataItem;
constexpr size_t kReplyCapacity = vocab::capacity::kQueryReply;
constexpr size_t kSenderAddressSize = 20;
constexpr size_t kSocketAddressSize = 16;  // what the socket layer reports at most

// An answer: magic, header, 0x55 0xAA, hardware address, broadcast-only byte.
constexpr size_t kAnswerSize = 18;
constexpr size_t kNodeAt = 2;
constexpr size_t kBroadcastOnlyAt = 8;

using DiscoveryRequest = Request<kRequestCapacity>;
using DiscoveryReply = Reply<kReplyCapacity>;

// The query's request is built before the temporary device exists: all it needs is the plain
// header's DataOffset.
const ZEBDevice& query_shape() {
    static const ZEBDevice shape = [] {
        ZEBDevice d{};
        d.DataOffset = frame::kHeaderSize;
        return d;
    }();
    return shape;
}

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

constexpr uint32_t kMessageTooLarge = 10040;  // WSAEMSGSIZE

// Whether a result lets the collection go on: an answer or nothing, or one bad datagram that
// any host on the network could send (a wrong CRC, a datagram too large for the buffer, a
// sender address cut short). Such a datagram is skipped like a malformed answer; only a
// failure of the socket itself ends the query.
bool collection_goes_on(uint32_t result) {
    switch (result) {
        case 0:
        case ZEBERR_TIMEOUT:
        case ZEBERR_BAD_CRC:
        case ZEBERR_BUFFER_TOO_SMALL:
        case kMessageTooLarge:
            return true;
        default:
            return false;
    }
}

// Whether the sender is already among the listed entries: UDP may deliver an answer twice,
// and a module is listed once.
bool already_listed(const ZEBDevice* list, uint32_t listed,
                    const uint8_t (&sender)[kSenderAddressSize]) {
    for (uint32_t i = 0; i < listed; ++i) {
        if (std::memcmp(list[i].Address.Raw, sender, kSocketAddressSize) == 0) return true;
    }
    return false;
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
    // The query and a wait of up to 20 ms for the first answer; the listening time is counted
    // from the end of that wait.
    uint32_t last = exchange(&probe, request, reply, Wait::always, Warn::no);
    const uint32_t start = ClockMs();
    const uint32_t listen_ms = state::query_timeout_ms();
    uint32_t found = 0;
    uint32_t result = 0;
    for (;;) {
        if (!collection_goes_on(last)) {
            ZEBCloseDevice(&probe);
            return last;
        }
        const uint32_t listed = std::min<uint32_t>(found, capacity);
        if (last == 0 && is_answer(reply) && !already_listed(list, listed, sender)) {
            if (found < capacity) {
                list_answer(*transport, reply, sender, list[found]);
            } else {
                result = ZEBERR_BUFFER_TOO_SMALL;
            }
            found = std::min<uint32_t>(found + 1, UINT16_MAX);
        }
        const uint32_t listened = ClockMs() - start;
        if (listened >= listen_ms) break;
        // One wait for whatever time is left, ended early by each answer: the query ends at
        // its time-out, not at the end of a slice.
        probe.FromAddressSize = sizeof sender;
        reply.set_capacity();
        last = get_response_within(probe, reply.data(), reply.length_slot(), listen_ms - listened);
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
    DiscoveryRequest request(&query_shape());
    request.u8(fn::kQueryDevices);
    return query(transport, list, count, version, request);
}

uint32_t ZEBQueryDeviceData(ZEBTransport* transport, ZEBDevice* list, uint16_t* count,
                            uint16_t version, uint16_t data_type, const void* data,
                            uint16_t data_length) {
    const uint16_t length = data ? std::min(data_length, kMaxDataItem) : 0;
    DiscoveryRequest request(&query_shape());
    request.u8(fn::kQueryDeviceData).u8(0).u16(data_type).u16(length).bytes(data, length);
    return query(transport, list, count, version, request);
}

uint32_t ZEBSetQueryTimeout(uint32_t milliseconds) {
    return state::exchange_query_timeout_ms(milliseconds);
}

uint32_t ZEBGetQueryTimeout(void) {
    return state::query_timeout_ms();
}

}  // extern "C"
