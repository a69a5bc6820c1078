// Prints what the dissector and the Python binding must agree with, one fact a line, fields
// separated by tabs: the vocabulary's named tables and constants, the public header's constants
// and record layouts, and the library's result codes with their names and texts.
//
//     table    function  7  Read I/O
//     constant extended_format  177
//     result   32774  ZEBERR_TIMEOUT  no reply, after every re-send
//     record   ZEBDevice  138
//     field    ZEBDevice  Timeout  26  2
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "vocab/capacities.h"
#include "vocab/ccm.h"
#include "vocab/functions.h"
#include "vocab/markers.h"
#include "vocab/memory.h"
#include "vocab/module_kinds.h"
#include "vocab/records.h"
#include "vocab/serial_ops.h"
#include "vocab/services.h"
#include "vocab/setup_types.h"
#include "zeb.h"
#include "zeb_points.h"

namespace {

using zeb::vocab::Named;

// The sizes of the records that travel whole are the public header's records' sizes.
namespace sizes = zeb::vocab::records;
static_assert(sizes::kFileTimeSize == sizeof(ZEBFileTime));
static_assert(sizes::kFileInfoSize == sizeof(ZEBFileInfo));
static_assert(sizes::kFindDataSize == sizeof(ZEBFindData));
static_assert(sizes::kSecurityAttributesSize == sizeof(ZEBSecurityAttributes));
static_assert(sizes::kCommStateSize == sizeof(ZEBCommState));
static_assert(sizes::kCommTimeoutsSize == sizeof(ZEBCommTimeouts));
static_assert(sizes::kCommStatusSize == sizeof(ZEBCommStatus));
static_assert(sizes::kCommPropertiesSize == sizeof(ZEBCommProperties));
static_assert(zeb::vocab::memory::kAreaEntrySize == sizeof(ZEBMemoryArea));

int g_bad = 0;

// A name or text that holds a tab or a line break would break the line format.
std::string_view checked(std::string_view text) {
    if (text.find_first_of("\t\r\n") != std::string_view::npos) ++g_bad;
    return text;
}

template <class Number, size_t N>
void table(const char* kind, const Named<Number> (&entries)[N]) {
    for (const Named<Number>& e : entries) {
        const std::string_view name = checked(e.name);
        std::printf("table\t%s\t%u\t%.*s\n", kind, static_cast<unsigned>(e.number),
                    static_cast<int>(name.size()), name.data());
    }
}

void constant(const char* name, unsigned long value) {
    std::printf("constant\t%s\t%lu\n", name, value);
}

// One of the library's own result codes, which ZEBResultText names "ZEB...: text".
void result(uint32_t code) {
    char text[256];
    ZEBResultText(code, text, sizeof text);
    const std::string_view all = checked(text);
    const size_t colon = all.find(": ");
    if (all.substr(0, 3) != "ZEB" || colon == std::string_view::npos) return;
    std::printf("result\t%u\t%.*s\t%s\n", static_cast<unsigned>(code), static_cast<int>(colon),
                all.data(), text + colon + 2);
}

// The warning and the range the library's failure codes are drawn from.
void results() {
    result(ZEBWARN_RETRIED);
    for (uint32_t code = 0x8000; code <= 0x80FF; ++code) result(code);
}

#define ZEB_RECORD(type) std::printf("record\t%s\t%zu\n", #type, sizeof(type))
#define ZEB_FIELD(type, field)                                                     \
    std::printf("field\t%s\t%s\t%zu\t%zu\n", #type, #field, offsetof(type, field), \
                sizeof(type::field))

// The records that controller service calls carry and the dissector reads.
void service_records() {
    ZEB_RECORD(ZEBFileTime);
    ZEB_RECORD(ZEBFileInfo);
    ZEB_RECORD(ZEBCommState);
    ZEB_RECORD(ZEBCommTimeouts);
    ZEB_RECORD(ZEBCommStatus);
    ZEB_RECORD(ZEBCommProperties);
}

void records() {
    ZEB_RECORD(ZEBTransport);
    ZEB_FIELD(ZEBTransport, Kind);
    ZEB_FIELD(ZEBTransport, Protocol);
    ZEB_FIELD(ZEBTransport, KeyMode);
    ZEB_FIELD(ZEBTransport, Reserved1);
    ZEB_FIELD(ZEBTransport, Key);
    ZEB_FIELD(ZEBTransport, SourceAddress);
    ZEB_FIELD(ZEBTransport, Reserved2);
    ZEB_RECORD(ZEBDevice);
    ZEB_FIELD(ZEBDevice, Address);
    ZEB_FIELD(ZEBDevice, Reserved1);
    ZEB_FIELD(ZEBDevice, Timeout);
    ZEB_FIELD(ZEBDevice, Retries);
    ZEB_FIELD(ZEBDevice, NodeAddress);
    ZEB_FIELD(ZEBDevice, ResendCount);
    ZEB_FIELD(ZEBDevice, CrcErrorCount);
    ZEB_FIELD(ZEBDevice, LateReplyCount);
    ZEB_FIELD(ZEBDevice, NoWait);
    ZEB_FIELD(ZEBDevice, ExtendedHeader);
    ZEB_FIELD(ZEBDevice, Broadcast);
    ZEB_FIELD(ZEBDevice, Socket);
    ZEB_FIELD(ZEBDevice, DataOffset);
    ZEB_FIELD(ZEBDevice, Transport);
    ZEB_FIELD(ZEBDevice, FromAddressSize);
    ZEB_FIELD(ZEBDevice, FromAddress);
    ZEB_FIELD(ZEBDevice, Reserved2);
    ZEB_FIELD(ZEBDevice, LastSequence);
    ZEB_FIELD(ZEBDevice, Tunnel);
    ZEB_FIELD(ZEBDevice, TunnelBase);
    ZEB_FIELD(ZEBDevice, TunnelSlot);
    ZEB_FIELD(ZEBDevice, TunnelNode);
    ZEB_FIELD(ZEBDevice, Reserved3);
    ZEB_RECORD(ZEBFindData);
    ZEB_FIELD(ZEBFindData, Attributes);
    ZEB_FIELD(ZEBFindData, CreationTime);
    ZEB_FIELD(ZEBFindData, LastAccessTime);
    ZEB_FIELD(ZEBFindData, LastWriteTime);
    ZEB_FIELD(ZEBFindData, SizeHigh);
    ZEB_FIELD(ZEBFindData, SizeLow);
    ZEB_FIELD(ZEBFindData, ObjectId);
    ZEB_FIELD(ZEBFindData, FileName);
    ZEB_RECORD(ZEBSecurityAttributes);
    ZEB_FIELD(ZEBSecurityAttributes, Length);
    ZEB_FIELD(ZEBSecurityAttributes, SecurityDescriptor);
    ZEB_FIELD(ZEBSecurityAttributes, InheritHandle);
    ZEB_RECORD(ZEBSerialSetup);
    ZEB_FIELD(ZEBSerialSetup, Data);
    ZEB_RECORD(ZEBSlotPoints);
    ZEB_FIELD(ZEBSlotPoints, Slot);
    ZEB_FIELD(ZEBSlotPoints, Kind);
    ZEB_FIELD(ZEBSlotPoints, Ident);
    ZEB_FIELD(ZEBSlotPoints, Reserved);
    ZEB_FIELD(ZEBSlotPoints, Count);
    ZEB_FIELD(ZEBSlotPoints, At);
    ZEB_RECORD(ZEBImage);
    ZEB_FIELD(ZEBImage, SlotCount);
    ZEB_FIELD(ZEBImage, ValueBytes);
    ZEB_FIELD(ZEBImage, Slots);
    ZEB_FIELD(ZEBImage, Values);
}

}  // namespace

int main() {
    namespace v = zeb::vocab;
    table("function", v::kFunctions);
    table("service", v::kServices);
    table("serial", v::kSerialOps);
    table("ccm", v::kCcmMarkers);
    table("kind", v::kModuleKinds);

    constant("extended_header", v::kExtendedHeader);
    constant("extended_format", v::kExtendedFormat);
    constant("name_record", v::setup::kNameRecord);
    constant("number_record", v::setup::kNumberRecord);
    constant("name_query_size", v::setup::kNameQuerySize);
    constant("device_def_size", v::device_def::kReadSize);
    constant("controller_data_max", v::kMaxControllerData);
    constant("serial_write_room", v::kSerialWriteRoom);
    constant("serial_port_write_room", v::kSerialPortWriteRoom);
    constant("serial_read_max", v::kMaxSerialRead);
    constant("api_version", ZEB_API_VERSION);
    constant("warn_retried", ZEBWARN_RETRIED);
    constant("module_port", ZEB_MODULE_PORT);
    constant("transport_winsock", ZEB_TRANSPORT_WINSOCK);
    constant("protocol_ip", ZEB_PROTOCOL_IP);
    constant("protocol_ipx", ZEB_PROTOCOL_IPX);
    constant("point_bit_in", ZEB_BIT_IN);
    constant("point_bit_out", ZEB_BIT_OUT);
    constant("point_word_in", ZEB_WORD_IN);
    constant("point_word_out", ZEB_WORD_OUT);
    constant("point_dword_in", ZEB_DWORD_IN);
    constant("point_dword_out", ZEB_DWORD_OUT);
    constant("image_slots", ZEB_IMAGE_SLOTS);
    constant("image_value_bytes", ZEB_IMAGE_VALUE_BYTES);

    results();
    records();
    service_records();
    if (g_bad) std::fprintf(stderr, "%d names hold a tab or a line break\n", g_bad);
    return g_bad ? 1 : 0;
}
