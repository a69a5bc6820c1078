// Networked nodes: modules whose device definition names them as kind 6. The node list finds
// them by discovery and keeps them open; the program-space write sends a block of bytes into a
// node's program, acknowledged first and answered with a status word.
#include "remote/nodes.h"

#include <cstring>

#include "core/request.h"
#include "vocab/capacities.h"
#include "vocab/setup_types.h"

namespace zeb {
namespace {

constexpr size_t kDeviceTable = 100;
constexpr size_t kNodeTable = 200;

constexpr uint16_t kNodeTimeoutMs = 100;
constexpr uint16_t kNodeRetries = 2;
constexpr size_t kDeviceDefSize = 42;
constexpr size_t kKindAt = 2;
constexpr uint8_t kKindNode = 6;
constexpr uint16_t kNumberRecord = vocab::setup::kNumberRecord;
constexpr uint16_t kNameRecord = vocab::setup::kNameRecord;

constexpr size_t kPgmRequestCapacity = vocab::capacity::kProgramSpaceRequest;
constexpr size_t kPgmReplyCapacity = vocab::capacity::kProgramSpaceReply;
constexpr uint32_t kPgmDataMax = 316;
constexpr uint16_t kTimeoutRaiseMs = 10;
constexpr uint16_t kFinalReplyExtraMs = 30000;
// Bytes of the caller's packet that precede the data TaviSendPacket writes.
constexpr size_t kPacketHeadSkipped = 60;

// The library's own transport and tables, reused by every list.
struct NodeList {
    ZEBTransport transport;
    bool transport_open;
    ZEBDevice devices[kDeviceTable];
    bool device_open[kDeviceTable];
    TaviNode nodes[kNodeTable];
};
NodeList g_list{};

void close_device(size_t k) noexcept {
    if (!g_list.device_open[k]) return;
    ZEBCloseDevice(&g_list.devices[k]);
    g_list.device_open[k] = false;
}

// A read that delivered what fits counts: only the leading bytes are wanted.
bool read_ok(uint32_t result) noexcept {
    return !failed(result) || result == ZEBERR_BUFFER_TOO_SMALL;
}

// Reads one node's number and name into its entry.
bool describe_node(ZEBDevice& device, TaviNode& entry) noexcept {
    uint8_t number[2] = {};
    uint16_t size = sizeof number;
    if (!read_ok(ZEBReadSetupData(&device, kNumberRecord, number, &size))) return false;
    uint8_t name[sizeof entry.Name];
    size = sizeof name;
    if (!read_ok(ZEBReadSetupData(&device, kNameRecord, name, &size))) return false;
    entry.Number = static_cast<uint16_t>(number[0] | number[1] << 8);
    // The name is the record's bytes as delivered; what follows a shorter one is left alone.
    std::memcpy(entry.Name, name, size);
    entry.Device = &device;
    return true;
}

TaviNode* fail_list(uint16_t* count) noexcept {
    release_node_list();
    put(count, uint16_t{0});
    return nullptr;
}

}  // namespace

void release_node_list() noexcept {
    for (size_t k = 0; k < kDeviceTable; ++k) close_device(k);
    if (g_list.transport_open) ZEBCloseTransport(&g_list.transport);
    g_list.transport_open = false;
}

TaviNode* build_node_list(uint16_t protocol, void* source_address, uint16_t* count) noexcept {
    put(count, uint16_t{0});
    release_node_list();

    ZEBTransport& transport = g_list.transport;
    transport = ZEBTransport{};
    transport.Kind = ZEB_TRANSPORT_WINSOCK;
    transport.Protocol = protocol;
    if (ZEBOpenTransport(&transport, ZEB_API_VERSION, source_address) != 0) return nullptr;
    g_list.transport_open = true;

    std::memset(g_list.devices, 0, sizeof g_list.devices);
    uint16_t found = kDeviceTable;
    if (ZEBQueryDevices(&transport, g_list.devices, &found, ZEB_API_VERSION) != 0) {
        return fail_list(count);
    }

    size_t nodes = 0;
    for (size_t k = 0; k < found && k < kDeviceTable; ++k) {
        ZEBDevice& device = g_list.devices[k];
        device.ExtendedHeader = 0;
        if (ZEBOpenDevice(&transport, &device, ZEB_API_VERSION, kNodeTimeoutMs, kNodeRetries, 0) !=
            0) {
            return fail_list(count);
        }
        g_list.device_open[k] = true;

        uint8_t definition[kDeviceDefSize] = {};
        if (!read_ok(ZEBReadDeviceDef(&device, definition, sizeof definition))) {
            return fail_list(count);
        }
        if (definition[kKindAt] != kKindNode || nodes >= kNodeTable) {
            close_device(k);
            continue;
        }
        if (!describe_node(device, g_list.nodes[nodes])) return fail_list(count);
        ++nodes;
    }
    if (nodes == 0) return fail_list(count);
    put(count, static_cast<uint16_t>(nodes));
    return g_list.nodes;
}

}  // namespace zeb

using namespace zeb;

extern "C" {

TaviNode* TaviGetNodeList(uint16_t* count) {
    return build_node_list(ZEB_PROTOCOL_IPX, nullptr, count);
}

uint32_t ZEBWriteTaviethernetPgmSpace(ZEBDevice* device, const uint8_t* buffer, uint16_t count) {
    if (!device) return ZEBERR_BAD_DEVICE;
    if (count > kPgmDataMax) return ZEBERR_PACKET_TOO_LARGE;
    if (!buffer && count) return ZEBERR_BAD_PARAMETER;
    // Function code, a zero byte, two reserved bytes sent as zeros, then the data.
    Request<kPgmRequestCapacity> request(device);
    request.u8(fn::kWritePgmSpace).u8(0).u16(0).bytes(buffer, count);
    Reply<kPgmReplyCapacity> reply;
    uint32_t result;
    {
        RaisedTimeout raised(device, kTimeoutRaiseMs);
        result = exchange_acknowledged(device, request, reply, {}, kFinalReplyExtraMs);
    }
    return failed(result) ? result : status_only(reply, result, StatusRule::signed_word);
}

int32_t TaviSendPacket(ZEBDevice* device, const uint8_t* packet, uint8_t* status, uint16_t count) {
    if (!packet) return 0;
    if (ZEBWriteTaviethernetPgmSpace(device, packet + kPacketHeadSkipped, count) != 0) return 0;
    put(status, uint8_t{0});
    return 1;
}

}  // extern "C"
