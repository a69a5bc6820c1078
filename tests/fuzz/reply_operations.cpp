// The operations the reply-path target calls, one entry each. Arguments come from the input;
// the typical values (used when seeds are recorded) fit the seed rack of make_seeds.cpp.
//
// A new operation is one more entry at the end of the table: its name, its bound, and the call.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reply_harness.h"
#include "zeb_points.h"

namespace zebfuzz {

namespace {

const Bytes kBlock = {0x5A, 0xA5, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF0, 0x0F};
const Bytes kOutputs = {0xB1, 0x00, 0x00, 0x03, 0x04, 0x01, 0x5A, 0xFF};
const Bytes kSetup = {0x00, 0x4B, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};

// Callers' helpers: each takes its arguments from the input, one statement at a time (the
// order in which a call's arguments are worked out is the compiler's, and seeds replay the
// same choices in every build).
using Reader = uint32_t (*)(ZEBDevice*, uint8_t*, uint16_t*);
uint32_t sized(Call& c, Reader read) {
    uint16_t* n = c.room();
    return read(c.dev, c.buffer(*n), n);
}

using FixedReader = uint32_t (*)(ZEBDevice*, uint8_t*, uint32_t);
uint32_t fixed(Call& c, FixedReader read) {
    const uint32_t n = c.number(2048, 1200);
    return read(c.dev, c.buffer(n), n);
}

uint32_t write_then_read(Call& c,
                         uint32_t (*call)(ZEBDevice*, const uint8_t*, uint32_t, uint8_t*,
                                          uint16_t*),
                         const Bytes& typical) {
    uint32_t length = 0;
    const uint8_t* source = c.data(1500, typical, &length);
    uint16_t* n = c.room();
    return call(c.dev, source, length, c.buffer(*n), n);
}

uint32_t with_option(Call& c, uint32_t (*call)(ZEBDevice*, uint8_t*, uint16_t*, uint32_t)) {
    const uint32_t option = c.number(3, 0);
    uint16_t* n = c.room();
    return call(c.dev, c.buffer(*n), n, option);
}

uint32_t port(Call& c) {
    return c.number(4, 2);
}

uint32_t count_of(Call& c, uint32_t (*call)(ZEBDevice*, uint16_t*)) {
    uint16_t out = 0xCCCC;
    return call(c.dev, &out);
}

uint32_t count_of_ex(Call& c, uint32_t (*call)(ZEBDevice*, uint32_t, uint16_t*)) {
    uint16_t out = 0xCCCC;
    return call(c.dev, port(c), &out);
}

ZEBSerialSetup* serial_setup(Call& c) {
    auto* setup = reinterpret_cast<ZEBSerialSetup*>(c.buffer(sizeof(ZEBSerialSetup)));
    const Bytes b = c.in.bytes(sizeof(ZEBSerialSetup), kSetup);
    std::copy(b.begin(), b.end(), setup->Data);
    return setup;
}

// The controller services return a signed result, compared here as the library's unsigned one.
uint32_t u32(int32_t r) {
    return static_cast<uint32_t>(r);
}

// Outputs in buffers of exactly their size, so that a write past them is caught.
uint32_t* out32(Call& c) {
    return reinterpret_cast<uint32_t*>(c.buffer(sizeof(uint32_t)));
}

template <class Record>
Record* record(Call& c) {
    return reinterpret_cast<Record*>(c.buffer(sizeof(Record)));
}

uint32_t xcpu_read_file(Call& c) {
    const uint32_t file = c.number(64, 1);
    const uint32_t count = c.number(1600, 100);
    uint8_t* buffer = c.buffer(count);
    uint32_t* got = out32(c);
    return u32(XCPUReadFile(c.dev, file, buffer, count, got, out32(c)));
}

uint32_t xcpu_file_time(Call& c) {
    const uint32_t file = c.number(64, 1);
    auto* creation = record<ZEBFileTime>(c);
    auto* access = record<ZEBFileTime>(c);
    auto* write = record<ZEBFileTime>(c);
    return u32(XCPUGetFileTime(c.dev, file, creation, access, write, out32(c)));
}

// A Vireo transfer goes in 256-byte chunks of three exchanges and a poll phase each.
Bound vireo_chunks(uint32_t count) {
    const uint32_t chunks = (count + 255) / 256;
    return {3 * chunks, 0, chunks, false};
}

uint32_t vireo_write(Call& c, uint32_t (*call)(ZEBDevice*, uint32_t, uint32_t, uint32_t,
                                               const uint8_t*, uint16_t, uint16_t)) {
    uint32_t length = 0;
    const uint8_t* source = c.data(1200, kBlock, &length);
    c.add(vireo_chunks(length));
    const uint32_t area = c.number(255, 2);
    const auto offset = static_cast<uint16_t>(c.number(0xFFFF, 0x20));
    return call(c.dev, 0, 0, area, source, uint16_t(length), offset);
}

uint32_t vireo_read(Call& c, uint32_t (*call)(ZEBDevice*, uint32_t, uint32_t, uint32_t, uint8_t*,
                                              uint16_t, uint16_t)) {
    const auto count = static_cast<uint16_t>(c.number(1200, 12));
    c.add(vireo_chunks(count));
    const uint32_t area = c.number(255, 2);
    return call(c.dev, 0, 0, area, c.buffer(count), count, uint16_t(c.number(0xFFFF, 0x20)));
}

uint32_t vireo_command_ex(Call& c, uint32_t (*call)(ZEBDevice*, uint32_t, uint32_t, uint16_t,
                                                    const uint8_t*, uint16_t)) {
    uint32_t length = 0;
    const uint8_t* params = c.data(300, {0x99, 0, 0, 0, 4, 0, 0, 0, 0, 8}, &length);
    return call(c.dev, 0, 0, 3, params, uint16_t(length));
}

uint32_t access_memory(Call& c) {
    const uint32_t count = c.number(4, 2);
    auto* items = reinterpret_cast<ZEBMemoryItem*>(c.buffer(count * sizeof(ZEBMemoryItem)));
    for (uint32_t i = 0; i < count; ++i) {
        ZEBMemoryItem item{};
        item.Direction = static_cast<uint8_t>(c.number(2, i == 0 ? 1 : 0));
        item.MemoryType = static_cast<uint16_t>(c.number(3, 1));
        item.Address = c.number(0xFFFF, 0x100);
        item.Count = static_cast<uint16_t>(c.number(600, 12));
        item.Buffer = c.buffer(item.Count);
        std::memcpy(&items[i], &item, sizeof item);
    }
    return ZEBAccessMemory(c.dev, items, count);
}

uint32_t enum_memory(Call& c) {
    uint16_t* n = c.room(8, 64);
    return ZEBENumMemory(c.dev, n,
                         reinterpret_cast<ZEBMemoryArea*>(c.buffer(*n * sizeof(ZEBMemoryArea))));
}

uint32_t enum_setup(Call& c) {
    uint16_t* n = c.room(16, 512);
    return ZEBEnumSetupData(c.dev, reinterpret_cast<uint16_t*>(c.buffer(*n * 2u)), n);
}

uint32_t read_io_ex(Call& c) {
    ZEBDevice* devices[] = {c.dev};
    uint16_t* n = c.room();
    uint8_t* buffers[] = {c.buffer(*n)};
    uint32_t results[1] = {};
    return ZEBReadIOEx(devices, buffers, n, results, 1) | results[0];
}

uint32_t write_io_ex(Call& c) {
    ZEBDevice* devices[] = {c.dev};
    uint32_t length = 0;
    const uint8_t* sources[] = {c.data(1500, {0x03, 0x41, 0xA5, 0xFF}, &length)};
    const uint16_t lengths[] = {uint16_t(length)};
    uint16_t* n = c.room();
    uint8_t* buffers[] = {c.buffer(*n)};
    uint32_t results[1] = {};
    return ZEBWriteIOEx(devices, sources, lengths, buffers, n, results, 1) | results[0];
}

uint32_t kseq(Call& c) {
    uint16_t* n = c.room(300, 600);
    uint8_t* buffer = c.buffer(*n);
    const Bytes message = c.in.bytes(*n, {0x4E, 0x21, 0x10, 0x00, 0x17});
    std::copy(message.begin(), message.end(), buffer);
    return ZEBKSEQRequest(c.dev, uint32_t(message.size()), buffer, n);
}

uint32_t ccm(Call& c) {
    const uint32_t write = c.number(1, 0);
    const uint32_t type = c.number(9, 1);
    const uint32_t address = c.number(0xFFFF, 0x20);
    const uint32_t count = c.number(300, 12);
    return ZEBCCMRequest(c.dev, int32_t(write), type, address, count, c.buffer(count));
}

uint32_t memory_read(Call& c) {
    const auto type = static_cast<uint16_t>(c.number(3, 3));
    const uint32_t address = c.number(0xFFFFFFFF, 0x8020);
    const uint32_t count = c.number(1200, 16);
    return ZEBReadMemory(c.dev, type, address, count, c.buffer(count));
}

uint32_t memory_write(Call& c) {
    const auto type = static_cast<uint16_t>(c.number(3, 1));
    const uint32_t address = c.number(0xFFFFFFFF, 0x100);
    uint32_t length = 0;
    const uint8_t* source = c.data(1200, kBlock, &length);
    return ZEBWriteMemory(c.dev, type, address, length, source);
}

uint32_t shared_read(Call& c) {
    const auto address = static_cast<uint16_t>(c.number(0xFFFF, 0x10));
    const uint32_t count = c.number(1200, 12);
    return ZEBReadSharedRAM(c.dev, 0, 0, address, count, c.buffer(count));
}

uint32_t shared_write(Call& c) {
    const auto address = static_cast<uint16_t>(c.number(0xFFFF, 0x8010));
    uint32_t length = 0;
    const uint8_t* source = c.data(600, kBlock, &length);
    return ZEBWriteSharedRAM(c.dev, 0, 0, address, length, source);
}

uint32_t comm_write(Call& c) {
    uint32_t length = 0;
    const uint8_t* source = c.data(400, kBlock, &length);
    return ZEBWriteComm(c.dev, length, source);
}

uint32_t comm_write_ex(Call& c) {
    const uint32_t p = port(c);
    uint32_t length = 0;
    const uint8_t* source = c.data(400, kBlock, &length);
    return ZEBWriteCommEx(c.dev, p, length, source);
}

uint32_t comm_read(Call& c) {
    uint16_t* n = c.room(64, 2048);
    return ZEBReadComm(c.dev, n, c.buffer(*n));
}

uint32_t comm_read_ex(Call& c) {
    const uint32_t p = port(c);
    uint16_t* n = c.room(64, 2048);
    return ZEBReadCommEx(c.dev, p, n, c.buffer(*n));
}

uint32_t comm_access(Call& c) {
    uint32_t length = 0;
    const uint8_t* source = c.data(1600, kBlock, &length);
    uint16_t* n = c.room(64, 2048);
    return ZEBAccessComm(c.dev, length, source, n, c.buffer(*n));
}

uint32_t setup_port(Call& c) {
    const bool wait = c.in.flag(false);
    if (wait) c.add(acknowledged(30000));
    return ZEBSetupSerialPort(c.dev, serial_setup(c), wait);
}

uint32_t setup_port_ex(Call& c) {
    const uint32_t p = port(c);
    const bool wait = c.in.flag(true);
    if (wait) c.add(acknowledged(30000));
    return ZEBSetupSerialPortEx(c.dev, p, serial_setup(c), wait);
}

uint32_t program_space(Call& c) {
    uint32_t length = 0;
    const uint8_t* source = c.data(400, kBlock, &length);
    return ZEBWriteTaviethernetPgmSpace(c.dev, source, uint16_t(length));
}

uint32_t send_packet_to_node(Call& c) {
    uint32_t length = 0;
    const uint8_t* packet = c.data(460, Bytes(72, 0x11), &length);
    const uint32_t behind = length > 60 ? length - 60 : 0;
    uint8_t status = 0xCC;
    return uint32_t(TaviSendPacket(c.dev, packet, &status,
                                   uint16_t(std::min<uint32_t>(behind, c.number(400, 12)))));
}

// A raw request: a header's room, then the body from the input.
uint8_t* raw_request(Call& c, uint16_t* length) {
    const Bytes body = c.in.bytes(600, {0x01});
    *length = static_cast<uint16_t>(c.number(16, 9) + body.size());
    uint8_t* request = c.buffer(*length);
    std::copy(body.begin(), body.end(), request + (*length - body.size()));
    return request;
}

uint32_t send_packet(Call& c) {
    uint16_t length = 0;
    uint8_t* request = raw_request(c, &length);
    int32_t* n = c.reply_room();
    const bool want_reply = c.in.flag(true);
    const bool warn = c.in.flag(true);
    return _SendPacket(c.dev, request, length, c.buffer(size_t(std::max(*n, 0))), n, want_reply,
                       warn);
}

uint32_t send_two(Call& c) {
    uint16_t length = 0;
    uint8_t* request = raw_request(c, &length);
    int32_t* n = c.reply_room();
    uint8_t* reply = c.buffer(size_t(std::max(*n, 0)));
    uint32_t echo_length = 0;
    const uint8_t* echo = c.data(64, {}, &echo_length);
    const auto extra = static_cast<uint16_t>(c.number(0xFFFF, 100));
    c.add(acknowledged(extra));
    const bool wait = c.in.flag(true);
    const bool check_sequence = c.in.flag(true);
    return SendPacketTwoResponses(c.dev, request, length, reply, n, 1, 1, uint16_t(echo_length),
                                  echo, extra, wait, check_sequence);
}

uint32_t get_response(Call& c) {
    int32_t* n = c.reply_room();
    uint8_t* reply = c.buffer(size_t(std::max(*n, 0)));
    const auto extra = static_cast<uint16_t>(c.number(0xFFFF, 0));
    c.add({0, extra, 0, false});
    const bool wait = c.in.flag(true);
    const bool check_sequence = c.in.flag(true);
    return GetResponse(c.dev, reply, n, extra, wait, check_sequence);
}

uint32_t poll_response(Call& c) {
    int32_t* n = c.reply_room();
    return ZEBGetResponse(c.dev, c.buffer(size_t(std::max(*n, 0))), n, c.in.flag(true));
}

uint32_t query(Call& c) {
    uint16_t* n = c.answers_room(4, 64);
    return ZEBQueryDevices(c.transport,
                           reinterpret_cast<ZEBDevice*>(c.buffer(*n * sizeof(ZEBDevice))), n,
                           ZEB_API_VERSION);
}

uint32_t query_data(Call& c) {
    uint16_t* n = c.answers_room(4, 64);
    auto* list = reinterpret_cast<ZEBDevice*>(c.buffer(*n * sizeof(ZEBDevice)));
    const auto type = static_cast<uint16_t>(c.number(0xFFFF, 2));
    uint32_t length = 0;
    const uint8_t* data = c.data(600, {7, 0, 0, 0}, &length);
    return ZEBQueryDeviceData(c.transport, list, n, ZEB_API_VERSION, type, data, uint16_t(length));
}

// The caller's image, in a buffer of exactly its size, laid out from a definition in the input
// (a small one when seeds are recorded).
const Bytes kDefinition = {0xB1, 0x00, 0x00, 0, 0x01, 4,    0x01, 0x22, 8, 0, 1,   0,
                           0x00, 3,    0x01, 4, 0x01, 0x24, 0,    8,    0, 0, 0xF0};

ZEBImage* image_of(Call& c) {
    uint32_t length = 0;
    const uint8_t* definition = c.data(1200, kDefinition, &length);
    auto* image = record<ZEBImage>(c);
    ZEBImageFromBaseDef(image, definition, static_cast<uint16_t>(length));
    return image;
}

// Whatever a reply held, an image keeps to its bounds: every slot's values within the values
// in use, and those within the room.
void check_image(const char* operation, const ZEBImage& image) {
    const auto broken = [operation](const char* what) {
        std::fprintf(stderr, "%s: %s\n", operation, what);
        std::abort();
    };
    if (image.SlotCount > ZEB_IMAGE_SLOTS) broken("more slots than an image holds");
    if (image.ValueBytes > ZEB_IMAGE_VALUE_BYTES) broken("more values than an image holds");
    for (size_t i = 0; i < image.SlotCount; ++i) {
        const ZEBSlotPoints& s = image.Slots[i];
        if (i > 0 && s.Slot <= image.Slots[i - 1].Slot) broken("slots out of order");
        for (size_t g = 0; g < 6; ++g) {
            const size_t width = g < 2 ? 0 : g < 4 ? 2 : 4;
            const size_t bytes = width ? s.Count[g] * width : (s.Count[g] + 7u) / 8u;
            if (s.At[g] + bytes > image.ValueBytes) broken("a slot's values past those in use");
        }
    }
}

uint32_t read_image_layout(Call& c) {
    auto* image = record<ZEBImage>(c);
    std::memset(image, 0xCC, sizeof *image);
    const uint32_t result = ZEBReadImageLayout(c.dev, image);
    if (image->SlotCount != 0xCCCC) check_image("ZEBReadImageLayout", *image);
    return result;
}

// A reply changes the image's values, never its layout.
uint32_t exchange_image(Call& c, const char* name, uint32_t (*call)(ZEBDevice*, ZEBImage*)) {
    ZEBImage* image = image_of(c);
    const size_t layout = offsetof(ZEBImage, Values);
    Bytes before(reinterpret_cast<const uint8_t*>(image),
                 reinterpret_cast<const uint8_t*>(image) + layout);
    const uint32_t result = call(c.dev, image);
    if (std::memcmp(before.data(), image, layout) != 0) {
        std::fprintf(stderr, "%s: the reply changed the image's layout\n", name);
        std::abort();
    }
    check_image(name, *image);
    return result;
}

}  // namespace

// clang-format off
const std::vector<ReplyOperation>& reply_operations() {
    static const std::vector<ReplyOperation> table = {
        {"ZEBReadVersionInfo", kSingle, [](Call& c) { return fixed(c, ZEBReadVersionInfo); }},
        {"ZEBReadSupportInfo", kSingle, [](Call& c) { return fixed(c, ZEBReadSupportInfo); }},
        {"ZEBReadDeviceDef", kSingle, [](Call& c) { return fixed(c, ZEBReadDeviceDef); }},
        {"ZEBReadBaseDef", kSingle, [](Call& c) { return sized(c, ZEBReadBaseDef); }},
        {"ZEBInitBaseDef", kSingle, [](Call& c) { return sized(c, ZEBInitBaseDef); }},
        {"ZEBRescanBase", kSingle, [](Call& c) { const uint32_t v = c.number(3, 1); uint16_t* n = c.room(); return ZEBRescanBase(c.dev, v, c.buffer(*n), n); }},
        {"ZEBWriteBaseDef", acknowledged(30000), [](Call& c) { return write_then_read(c, ZEBWriteBaseDef, {0x00, 0x01, 0x01, 0x25, 0x08, 0x00, 0x00, 0x00}); }},
        {"ZEBReadSetupData", kSingle, [](Call& c) { const auto t = uint16_t(c.number(0xFFFF, 0x30)); uint16_t* n = c.room(); return ZEBReadSetupData(c.dev, t, c.buffer(*n), n); }},
        {"ZEBWriteSetupData", acknowledged(30000), [](Call& c) { const auto t = uint16_t(c.number(0xFFFF, 0x40)); uint32_t n = 0; const uint8_t* s = c.data(1500, kBlock, &n); return ZEBWriteSetupData(c.dev, t, s, n); }},
        {"ZEBDeleteSetupData", acknowledged(30000), [](Call& c) { return ZEBDeleteSetupData(c.dev, uint16_t(c.number(0xFFFF, 0x30))); }},
        {"ZEBEnumSetupData", kSingle, enum_setup},
        {"ZEBReadConfigData", kSingle, [](Call& c) { return sized(c, ZEBReadConfigData); }},
        {"ZEBWriteConfigData", kSingle, [](Call& c) { return write_then_read(c, ZEBWriteConfigData, {0xB1, 0x00, 0x7E, 0x7F}); }},
        {"ZEBPetDevice", kSingle, [](Call& c) { return ZEBPetDevice(c.dev); }},
        {"ZEBReadEthernetStats", kSingle, [](Call& c) { return with_option(c, ZEBReadEthernetStats); }},
        {"ZEBReadModuleStatus", kSingle, [](Call& c) { return with_option(c, ZEBReadModuleStatus); }},
        {"ZEBReadIO", kSingle, [](Call& c) { return sized(c, ZEBReadIO); }},
        {"ZEBWriteIO", kSingle, [](Call& c) { return write_then_read(c, ZEBWriteIO, kOutputs); }},
        {"ZEBWriteIONoRead", kSingle, [](Call& c) { uint32_t n = 0; const uint8_t* s = c.data(1500, kOutputs, &n); return ZEBWriteIONoRead(c.dev, s, n); }},
        {"ZEBReadIOEx", kSingle, read_io_ex},
        {"ZEBWriteIOEx", kSingle, write_io_ex},
        {"ZEBCCMRequest", acknowledged(0), ccm},
        {"ZEBKSEQRequest", acknowledged(0), kseq},
        {"ZEBReadMemory", kSingle, memory_read},
        {"ZEBWriteMemory", kSingle, memory_write},
        {"ZEBAccessMemory", kSingle, access_memory},
        {"ZEBENumMemory", kSingle, enum_memory},
        {"ZEBReadSharedRAM", kSingle, shared_read},
        {"ZEBWriteSharedRAM", kSingle, shared_write},
        {"ZEBWriteComm", kSingle, comm_write},
        {"ZEBReadComm", kSingle, comm_read},
        {"ZEBGetRXAvailable", kSingle, [](Call& c) { return count_of(c, ZEBGetRXAvailable); }},
        {"ZEBFlushRXQueue", kSingle, [](Call& c) { return ZEBFlushRXQueue(c.dev); }},
        {"ZEBSetupSerialPort", kSingle, setup_port},
        {"ZEBReadSerialPortSetup", kSingle, [](Call& c) { return ZEBReadSerialPortSetup(c.dev, serial_setup(c)); }},
        {"ZEBGetTXLeft", kSingle, [](Call& c) { return count_of(c, ZEBGetTXLeft); }},
        {"ZEBWriteCommEx", kSingle, comm_write_ex},
        {"ZEBReadCommEx", kSingle, comm_read_ex},
        {"ZEBGetRXAvailableEx", kSingle, [](Call& c) { return count_of_ex(c, ZEBGetRXAvailableEx); }},
        {"ZEBFlushRXQueueEx", kSingle, [](Call& c) { return ZEBFlushRXQueueEx(c.dev, port(c)); }},
        {"ZEBFlushTXQueueEx", kSingle, [](Call& c) { return ZEBFlushTXQueueEx(c.dev, port(c)); }},
        {"ZEBSetupSerialPortEx", kSingle, setup_port_ex},
        {"ZEBReadSerialPortSetupEx", kSingle, [](Call& c) { const uint32_t p = port(c); return ZEBReadSerialPortSetupEx(c.dev, p, serial_setup(c)); }},
        {"ZEBGetTXLeftEx", kSingle, [](Call& c) { return count_of_ex(c, ZEBGetTXLeftEx); }},
        {"ZEBAccessComm", kSingle, comm_access},
        {"ZEBWriteVireoData", kNone, [](Call& c) { return vireo_write(c, ZEBWriteVireoData); }},
        {"ZEBReadVireoData", kNone, [](Call& c) { return vireo_read(c, ZEBReadVireoData); }},
        {"ZEBDoVireoCommand", {2, 0, 1, false}, [](Call& c) { return ZEBDoVireoCommand(c.dev, 0, 0, uint16_t(c.number(0xFFFF, 3))); }},
        {"ZEBDoVireoCommandEx", {2, 0, 1, false}, [](Call& c) { return vireo_command_ex(c, ZEBDoVireoCommandEx); }},
        {"XCPUWriteVireoData", kNone, [](Call& c) { return vireo_write(c, XCPUWriteVireoData); }},
        {"XCPUReadVireoData", kNone, [](Call& c) { return vireo_read(c, XCPUReadVireoData); }},
        {"XCPUDoVireoCommand", {2, 0, 1, false}, [](Call& c) { return XCPUDoVireoCommand(c.dev, 0, 0, uint16_t(c.number(0xFFFF, 3))); }},
        {"XCPUDoVireoCommandEx", {2, 0, 1, false}, [](Call& c) { return vireo_command_ex(c, XCPUDoVireoCommandEx); }},
        {"ZEBWriteTaviethernetPgmSpace", acknowledged(30000), program_space},
        {"TaviSendPacket", acknowledged(30000), send_packet_to_node},
        {"_SendPacket", kSingle, send_packet},
        {"SendPacketTwoResponses", kNone, send_two},
        {"GetResponse", kSingle, get_response},
        {"ZEBGetResponse", kSingle, poll_response},
        {"ZEBQueryDevices", kDiscovery, query},
        {"ZEBQueryDeviceData", kDiscovery, query_data},
        {"XCPUGetLastError", kSingle, [](Call& c) { return u32(XCPUGetLastError(c.dev, out32(c))); }},
        {"XCPUReadFile", kSingle, xcpu_read_file},
        {"XCPUCreateFile", kSingle, [](Call& c) { return u32(XCPUCreateFile(c.dev, "a\\b.txt", 0x80000000, 0, 3, 0, out32(c))); }},
        {"XCPUGetFileSize", kSingle, [](Call& c) { const uint32_t f = c.number(64, 1); uint32_t* high = out32(c); return u32(XCPUGetFileSize(c.dev, f, high, out32(c))); }},
        {"XCPUSetFilePointer", kSingle, [](Call& c) { const uint32_t f = c.number(64, 1); auto* high = reinterpret_cast<int32_t*>(out32(c)); return u32(XCPUSetFilePointer(c.dev, f, 10, high, 0, out32(c))); }},
        {"XCPUGetFileTime", kSingle, xcpu_file_time},
        {"XCPUFindFirstFile", kSingle, [](Call& c) { auto* d = record<ZEBFindData>(c); return u32(XCPUFindFirstFile(c.dev, "*", d, out32(c))); }},
        {"XCPUFindNextFile", kSingle, [](Call& c) { const uint32_t f = c.number(64, 1); auto* d = record<ZEBFindData>(c); return u32(XCPUFindNextFile(c.dev, f, d, out32(c))); }},
        {"XCPUGetFileInformationByHandle", kSingle, [](Call& c) { const uint32_t f = c.number(64, 1); auto* d = record<ZEBFileInfo>(c); return u32(XCPUGetFileInformationByHandle(c.dev, f, d, out32(c))); }},
        {"XCPUClearCommError", kSingle, [](Call& c) { const uint32_t p = c.number(64, 1); uint32_t* errors = out32(c); auto* st = record<ZEBCommStatus>(c); return u32(XCPUClearCommError(c.dev, p, errors, st, out32(c))); }},
        {"XCPUGetCommProperties", kSingle, [](Call& c) { const uint32_t p = c.number(64, 1); auto* d = record<ZEBCommProperties>(c); return u32(XCPUGetCommProperties(c.dev, p, d, out32(c))); }},
        {"XCPURunProgram", kSingle, [](Call& c) { return u32(XCPURunProgram(c.dev, "prog.exe -v")); }},
        {"ZEBReadImageLayout", kSingle, read_image_layout},
        {"ZEBReadInputs", kSingle, [](Call& c) { return exchange_image(c, "ZEBReadInputs", ZEBReadInputs); }},
        {"ZEBWriteOutputs", kSingle, [](Call& c) { return exchange_image(c, "ZEBWriteOutputs", ZEBWriteOutputs); }},
    };
    return table;
}
// clang-format on

}  // namespace zebfuzz
