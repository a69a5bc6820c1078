// Every single-device operation on the simulated network: the request body it sends, the
// reply it gets, and the result and data it gives back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "frames.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"
#include "zeb_points.h"

namespace zebtest {
namespace {

constexpr Endpoint kModule{ipv4(127, 0, 0, 2), kModulePort};

struct Delivered {
    uint32_t result = 0;
    Bytes data;  // what reached the caller's buffer
};

struct Row {
    std::string name;
    std::function<Delivered(ZEBDevice*)> call;
    Bytes request;  // body the module must see
    Bytes reply;    // body it answers with
    uint32_t result;
    Bytes delivered;
    Bytes ack = {};  // sent first, before `reply`, to operations that are acknowledged
};

// Calls an operation with a (pointer, *size) buffer of `capacity` bytes, prefilled with `head`.
template <class Op>
Delivered sized(Op op, uint16_t capacity, Bytes head = {}) {
    Bytes buf(capacity + 1, 0xCC);  // one guard byte past the capacity
    std::copy(head.begin(), head.end(), buf.begin());
    uint16_t size = capacity;
    Delivered d{op(buf.data(), &size), {}};
    EXPECT_EQ(buf[capacity], 0xCC) << "wrote past the capacity";
    d.data.assign(buf.begin(), buf.begin() + size);
    return d;
}

// Calls an operation with a buffer that it fills with exactly `count` bytes or leaves alone,
// prefilled with `head` and then 0xCC, plus one guard byte.
template <class Op>
Delivered fixed(Op op, size_t count, Bytes head = {}) {
    Bytes buf(count + 1, 0xCC);
    std::copy(head.begin(), head.end(), buf.begin());
    Delivered d{op(buf.data()), {}};
    EXPECT_EQ(buf[count], 0xCC) << "wrote past the count";
    d.data.assign(buf.begin(), buf.begin() + count);
    return d;
}

// Calls an operation that stores one 16-bit count, prefilled with 0xCCCC.
template <class Op>
Delivered counted(Op op) {
    uint16_t value = 0xCCCC;
    const uint32_t r = op(&value);
    return Delivered{r, {uint8_t(value), uint8_t(value >> 8)}};
}

Bytes range(uint8_t first, size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
    return b;
}

std::vector<Row> rows() {
    const Bytes stream = {0x00, 0x01, 0x31, 0xAA, 0xFF};
    Bytes io_reply = {0x00, 0x00};
    io_reply.insert(io_reply.end(), stream.begin(), stream.end());
    return {
        {"version block",
         [](ZEBDevice* d) {
             Bytes b(191, 0);
             return Delivered{ZEBReadVersionInfo(d, b.data(), 191), b};
         },
         {0x01},
         range(1, 191),
         0,
         range(1, 191)},
        {"support block cut",
         [](ZEBDevice* d) {
             Bytes b(4, 0);
             return Delivered{ZEBReadSupportInfo(d, b.data(), 4), b};
         },
         {0x02},
         range(1, 6),
         ZEBERR_BUFFER_TOO_SMALL,
         range(1, 4)},
        {"device definition, header only",
         [](ZEBDevice* d) {
             Bytes b(2, 0);
             return Delivered{ZEBReadDeviceDef(d, b.data(), 2), b};
         },
         {0x04},
         {},
         0,
         {0, 0}},
        {"base definition, compact",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadBaseDef(d, b, s); }, 100);
         },
         {0x08},
         range(0, 8),
         0,
         range(0, 8)},
        {"base definition, extended",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadBaseDef(d, b, s); }, 100,
                          {0xB1, 0x00});
         },
         {0x08, 0xB1},
         {0xB1, 0x00, 0xF0},
         0,
         {0xB1, 0x00, 0xF0}},
        {"base definition cut",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadBaseDef(d, b, s); }, 100);
         },
         {0x08},
         Bytes(991, 7),
         ZEBERR_BUFFER_TOO_SMALL,
         Bytes(100, 7)},
        {"init base definition",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBInitBaseDef(d, b, s); }, 10);
         },
         {0x18},
         {1, 2},
         0,
         {1, 2}},
        {"rescan base",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBRescanBase(d, 1, b, s); }, 10);
         },
         {0x18, 0x01, 0x00, 0x00, 0x00},
         {},
         0,
         {}},
        {"read I/O, compact",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadIO(d, b, s); }, 100);
         },
         {0x07},
         io_reply,
         0,
         stream},
        {"read I/O, extended",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadIO(d, b, s); }, 100,
                          {0xB1, 0x00});
         },
         {0x07, 0xB1},
         io_reply,
         0,
         stream},
        {"read I/O, refused with data",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadIO(d, b, s); }, 100);
         },
         {0x07},
         {0x05, 0x00, 0x42},
         0x8005,
         {0x42}},
        {"read I/O, negative status beats a cut",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadIO(d, b, s); }, 1);
         },
         {0x07},
         {0x12, 0x80, 1, 2, 3},
         0xFFFF8012u,
         {1}},
        {"read I/O cut",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadIO(d, b, s); }, 16);
         },
         {0x07},
         [] {
             Bytes b = {0, 0};
             Bytes r = range(1, 20);
             b.insert(b.end(), r.begin(), r.end());
             return b;
         }(),
         ZEBERR_BUFFER_TOO_SMALL,
         range(1, 16)},
        {"read I/O, null buffer sends 0x07 and delivers nothing",
         [](ZEBDevice* d) {
             uint16_t size = 50;
             return Delivered{ZEBReadIO(d, nullptr, &size), Bytes(size, 0)};
         },
         {0x07},
         {0x00, 0x00, 0x01},
         ZEBERR_BUFFER_TOO_SMALL,
         {}},
        {"read I/O, reply without a status word",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadIO(d, b, s); }, 100);
         },
         {0x07},
         {0x00},
         ZEBERR_NO_DATA,
         {}},
        {"write I/O",
         [](ZEBDevice* d) {
             const uint8_t out[] = {0x02, 0x42, 0x0F, 0xF0, 0xFF};
             return sized([&](uint8_t* b, uint16_t* s) { return ZEBWriteIO(d, out, 5, b, s); },
                          100);
         },
         {0x06, 0x02, 0x42, 0x0F, 0xF0, 0xFF},
         io_reply,
         0,
         stream},
        {"write I/O, null buffer checks the status",
         [](ZEBDevice* d) {
             const uint8_t out[] = {0xFF};
             return Delivered{ZEBWriteIO(d, out, 1, nullptr, nullptr), {}};
         },
         {0x06, 0xFF},
         {0x00, 0x10, 0x01},
         0x9000,
         {}},
        {"setup read, shorter than the buffer",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadSetupData(d, 0x16, b, s); },
                          20);
         },
         {0x0B, 0x00, 0x16, 0x00},
         {0x00, 0x00, 'R', 'I', 'O', '-', '1'},
         0,
         {'R', 'I', 'O', '-', '1'}},
        {"setup read, refused with data, signed status and no bit 15",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadSetupData(d, 7, b, s); }, 1);
         },
         {0x0B, 0x00, 0x07, 0x00},
         {0x01, 0x00, 9, 8},
         1,
         {9}},
        {"setup read cut",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadSetupData(d, 7, b, s); }, 2);
         },
         {0x0B, 0x00, 0x07, 0x00},
         {0x00, 0x00, 9, 8, 7},
         ZEBERR_BUFFER_TOO_SMALL,
         {9, 8}},
        {"setup read, half a status word leaves the size as it was",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadSetupData(d, 7, b, s); }, 3);
         },
         {0x0B, 0x00, 0x07, 0x00},
         {0x00},
         ZEBERR_NO_DATA,
         {0xCC, 0xCC, 0xCC}},
        {"setup list cut to the count",
         [](ZEBDevice* d) {
             uint16_t types[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
             uint16_t count = 3;
             const uint32_t r = ZEBEnumSetupData(d, types, &count);
             EXPECT_EQ(types[3], 0xAAAA);
             Bytes got;
             for (int i = 0; i < count; ++i) got.push_back(uint8_t(types[i]));
             return Delivered{r, got};
         },
         {0x0A},
         {0x00, 0x00, 5, 0, 0x16, 0, 0x20, 0, 0x31, 0, 0x32, 0, 0x33, 0},
         ZEBERR_BUFFER_TOO_SMALL,
         {0x16, 0x20, 0x31}},
        {"setup list shorter than its count delivers what arrived",
         [](ZEBDevice* d) {
             uint16_t types[8] = {};
             uint16_t count = 8;
             const uint32_t r = ZEBEnumSetupData(d, types, &count);
             Bytes got;
             for (int i = 0; i < count; ++i) got.push_back(uint8_t(types[i]));
             return Delivered{r, got};
         },
         {0x0A},
         {0x00, 0x00, 200, 0, 0x16, 0, 0x20},
         ZEBERR_NO_DATA,
         {0x16}},
        {"setup list refused as the status word alone, count left alone",
         [](ZEBDevice* d) {
             return counted([d](uint16_t* n) {
                 uint16_t types[2] = {};
                 return ZEBEnumSetupData(d, types, n);
             });
         },
         {0x0A},
         {0x01, 0x81},
         0xFFFF8101u,
         {0xCC, 0xCC}},
        {"setup list without its count",
         [](ZEBDevice* d) {
             uint16_t types[2] = {};
             uint16_t count = 2;
             const uint32_t r = ZEBEnumSetupData(d, types, &count);
             return Delivered{r, Bytes(count, 0)};
         },
         {0x0A},
         {0x00, 0x00, 1},
         ZEBERR_NO_DATA,
         {0, 0}},
        {"configuration read, extended",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadConfigData(d, b, s); }, 10,
                          {0xB1, 0x00});
         },
         {0x62, 0xB1},
         {0x12, 0x00, 1, 2},
         0x8012,
         {1, 2}},
        {"configuration write with the reply's data",
         [](ZEBDevice* d) {
             const uint8_t cfg[] = {1, 2, 3};
             return sized(
                 [&](uint8_t* b, uint16_t* s) { return ZEBWriteConfigData(d, cfg, 3, b, s); }, 10);
         },
         {0x61, 1, 2, 3},
         {0x00, 0x00, 4, 5},
         0,
         {4, 5}},
        {"configuration write, nothing wanted back",
         [](ZEBDevice* d) {
             const uint8_t cfg[] = {1};
             return Delivered{ZEBWriteConfigData(d, cfg, 1, nullptr, nullptr), {}};
         },
         {0x61, 1},
         {0x00, 0x00, 4, 5},
         0,
         {}},
        {"pet",
         [](ZEBDevice* d) {
             return Delivered{ZEBPetDevice(d), {}};
         },
         {0x14, 0x00},
         {},
         0,
         {}},
        {"Ethernet statistics, option sent as 1",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadEthernetStats(d, b, s, 5); },
                          10);
         },
         {0x0E, 0x00, 0x01},
         {1, 2, 3},
         0,
         {1, 2, 3}},
        {"Ethernet statistics, header only",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadEthernetStats(d, b, s, 0); },
                          10);
         },
         {0x0E, 0x00, 0x00},
         {},
         0,
         {}},
        {"module status: the status beats the cut",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadModuleStatus(d, b, s, 1); },
                          4);
         },
         {0x17, 0x00, 0x01},
         {0x04, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
         4,
         {1, 2, 3, 4}},
        {"module status, extended, signed status",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadModuleStatus(d, b, s, 0); },
                          4, {0xB1});
         },
         {0x17, 0x01, 0x00},
         {0x03, 0x80, 7},
         0xFFFF8003u,
         {7}},
        {"module status, null buffer",
         [](ZEBDevice* d) {
             uint16_t size = 4;
             return Delivered{ZEBReadModuleStatus(d, nullptr, &size, 0), Bytes(size, 0)};
         },
         {0x17, 0x00, 0x00},
         {0x00, 0x00},
         0,
         {}},
        {"write I/O without read",
         [](ZEBDevice* d) {
             const uint8_t out[] = {0xFF};
             return Delivered{ZEBWriteIONoRead(d, out, 1), {}};
         },
         {0x30, 0xFF},
         {0x00, 0x00},
         0,
         {}},
    };
}

Bytes joined(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Controller requests, memory and shared RAM, serial pass-through.
std::vector<Row> controller_rows() {
    const Bytes ccm_ack = {0x20, 0x19};
    const Bytes kseq_ack = {0x20, 0x1A};
    const Bytes ok = {0x00, 0x00};
    const Bytes area_a = range(0x40, 22);
    const Bytes area_b = range(0x80, 22);
    const ZEBSerialSetup line = {{0x80, 0x25, 0, 0, 8, 0, 0, 1}};
    const Bytes line_bytes(line.Data, line.Data + 8);
    return {
        {"CCM read",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBCCMRequest(d, 0, 0x0108, 0x12345, 4, b); },
                          4);
         },
         {0x19, 0x00, 0x01, 0x1E, 4, 0x45, 0x23, 0x08},
         {0x22, 0x19, 0x00, 0x00, 1, 2, 3, 4},
         0,
         {1, 2, 3, 4},
         ccm_ack},
        {"CCM write: the answer bytes that came are copied back",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBCCMRequest(d, 1, 3, 0x10, 3, b); }, 3,
                          {0x0A, 0x0B, 0x0C});
         },
         {0x19, 0x00, 0x01, 0x20, 3, 0x10, 0x00, 0x03, 0x0A, 0x0B, 0x0C},
         {0x22, 0x19, 0x00, 0x00, 0x1A, 0x1B},
         0,
         {0x1A, 0x1B, 0x0C},
         ccm_ack},
        {"CCM refused in place of the acknowledgement",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBCCMRequest(d, 0, 1, 2, 2, b); }, 2);
         },
         {0x19, 0x00, 0x01, 0x1E, 2, 0x02, 0x00, 0x01},
         {0x22, 0x19, 0x00, 0x00, 1, 2},
         5,
         {0xCC, 0xCC},
         {0x21, 0x19, 0x05, 0x00}},
        {"CCM answer with an error status",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBCCMRequest(d, 0, 1, 2, 2, b); }, 2);
         },
         {0x19, 0x00, 0x01, 0x1E, 2, 0x02, 0x00, 0x01},
         {0x22, 0x19, 0xFE, 0xFF, 1, 2},
         0xFFFFFFFEu,
         {0xCC, 0xCC},
         ccm_ack},
        {"CCM read answered with the wrong length",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBCCMRequest(d, 0, 1, 2, 2, b); }, 2);
         },
         {0x19, 0x00, 0x01, 0x1E, 2, 0x02, 0x00, 0x01},
         {0x22, 0x19, 0x00, 0x00, 1, 2, 3},
         ZEBERR_BAD_PARAMETER,
         {0xCC, 0xCC},
         ccm_ack},
        {"CCM answer under another function code",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBCCMRequest(d, 0, 1, 2, 2, b); }, 2);
         },
         {0x19, 0x00, 0x01, 0x1E, 2, 0x02, 0x00, 0x01},
         {0x22, 0x1A, 0x00, 0x00, 1, 2},
         ZEBERR_MISMATCHED_REPLY,
         {0xCC, 0xCC},
         ccm_ack},
        {"K-sequence: the answer replaces the message",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBKSEQRequest(d, 3, b, s); }, 8,
                          {1, 2, 3});
         },
         {0x1A, 0x00, 3, 0x00, 1, 2, 3},
         {0x22, 0x1A, 0x00, 0x00, 9, 8, 7, 6, 5},
         0,
         {9, 8, 7, 6, 5},
         kseq_ack},
        {"K-sequence answer cut to the buffer",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBKSEQRequest(d, 1, b, s); }, 2,
                          {1});
         },
         {0x1A, 0x00, 1, 0x00, 1},
         {0x22, 0x1A, 0x00, 0x00, 9, 8, 7},
         ZEBERR_BUFFER_TOO_SMALL,
         {9, 8},
         kseq_ack},
        {"read memory",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBReadMemory(d, 0x0102, 0x11223344, 3, b); },
                          3);
         },
         {0x25, 0x00, 0x02, 0x01, 3, 0, 0x44, 0x33, 0x22, 0x11},
         {0x00, 0x00, 7, 8, 9},
         0,
         {7, 8, 9}},
        {"read memory, status 0x0086 delivers",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBReadMemory(d, 1, 0, 3, b); }, 3);
         },
         {0x25, 0x00, 0x01, 0x00, 3, 0, 0, 0, 0, 0},
         {0x86, 0x00, 7, 8, 9},
         134,
         {7, 8, 9}},
        {"read memory, status 0x1086 does not",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBReadMemory(d, 1, 0, 3, b); }, 3);
         },
         {0x25, 0x00, 0x01, 0x00, 3, 0, 0, 0, 0, 0},
         {0x86, 0x10, 7, 8, 9},
         0x1086,
         {0xCC, 0xCC, 0xCC}},
        {"read memory, negative status sign-extended",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBReadMemory(d, 1, 0, 3, b); }, 3);
         },
         {0x25, 0x00, 0x01, 0x00, 3, 0, 0, 0, 0, 0},
         {0x01, 0x80, 7, 8, 9},
         0xFFFF8001u,
         {0xCC, 0xCC, 0xCC}},
        {"read memory, fewer bytes than asked for",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBReadMemory(d, 1, 0, 3, b); }, 3);
         },
         {0x25, 0x00, 0x01, 0x00, 3, 0, 0, 0, 0, 0},
         {0x00, 0x00, 7, 8},
         ZEBERR_BAD_PARAMETER,
         {0xCC, 0xCC, 0xCC}},
        {"write memory",
         [](ZEBDevice* d) {
             const uint8_t data[] = {0xAA, 0xBB};
             return Delivered{ZEBWriteMemory(d, 5, 0x100, 2, data), {}};
         },
         {0x24, 0x00, 0x05, 0x00, 2, 0, 0x00, 0x01, 0x00, 0x00, 0xAA, 0xBB},
         ok,
         0,
         {}},
        {"write memory refused",
         [](ZEBDevice* d) {
             const uint8_t data[] = {0xAA};
             return Delivered{ZEBWriteMemory(d, 5, 0x100, 1, data), {}};
         },
         {0x24, 0x00, 0x05, 0x00, 1, 0, 0x00, 0x01, 0x00, 0x00, 0xAA},
         {0x03, 0x80},
         0xFFFF8003u,
         {}},
        {"batched access: a write, then a read",
         [](ZEBDevice* d) {
             return fixed(
                 [d](uint8_t* b) {
                     uint8_t out[] = {0x0A, 0x0B};
                     ZEBMemoryItem items[2] = {{1, 1, 0x10, 2, out}, {0, 2, 0x20, 3, b}};
                     return ZEBAccessMemory(d, items, 2);
                 },
                 3);
         },
         {0x27, 0x00, 2, 0, 1, 1, 0, 0x10, 0, 0, 0, 2, 0, 0x0A, 0x0B, 0, 2, 0, 0x20, 0, 0, 0, 3, 0},
         {0x00, 0x00, 1, 0, 0, 2, 0, 0x20, 0, 0, 0, 3, 0, 7, 8, 9},
         0,
         {7, 8, 9}},
        {"batched access, no items follow",
         [](ZEBDevice* d) {
             return fixed(
                 [d](uint8_t* b) {
                     ZEBMemoryItem item = {0, 2, 0x20, 3, b};
                     return ZEBAccessMemory(d, &item, 1);
                 },
                 3);
         },
         {0x27, 0x00, 1, 0, 0, 2, 0, 0x20, 0, 0, 0, 3, 0},
         {0x00, 0x00, 0x00, 0x00},
         0,
         {0xCC, 0xCC, 0xCC}},
        {"memory list",
         [](ZEBDevice* d) {
             ZEBMemoryArea areas[3];
             uint16_t count = 3;
             const uint32_t r = ZEBENumMemory(d, &count, areas);
             const auto* bytes = reinterpret_cast<const uint8_t*>(areas);
             return Delivered{r, Bytes(bytes, bytes + sizeof(ZEBMemoryArea) * count)};
         },
         {0x26},
         joined(joined({0x00, 0x00, 2, 0}, area_a), area_b),
         0,
         joined(area_a, area_b)},
        {"memory list cut to the count, with an error status",
         [](ZEBDevice* d) {
             ZEBMemoryArea areas[2];
             std::memset(areas, 0xCC, sizeof areas);
             uint16_t count = 1;
             const uint32_t r = ZEBENumMemory(d, &count, areas);
             EXPECT_EQ(areas[1].Data[0], 0xCC);
             const auto* bytes = reinterpret_cast<const uint8_t*>(areas);
             return Delivered{r, Bytes(bytes, bytes + sizeof(ZEBMemoryArea) * count)};
         },
         {0x26},
         joined(joined({0x02, 0x00, 2, 0}, area_a), area_b),
         2,
         area_a},
        {"shared RAM read, address with bit 15",
         [](ZEBDevice* d) {
             return fixed([d](uint8_t* b) { return ZEBReadSharedRAM(d, 1, 2, 0x8030, 2, b); }, 2);
         },
         {0x28, 0x01, 0x01, 0x00, 0x02, 0x00, 0x30, 0x00, 2, 0},
         {0x00, 0x00, 5, 6},
         0,
         {5, 6}},
        {"shared RAM write",
         [](ZEBDevice* d) {
             const uint8_t data[] = {9};
             return Delivered{ZEBWriteSharedRAM(d, 1, 2, 0x0030, 1, data), {}};
         },
         {0x29, 0x00, 0x01, 0x00, 0x02, 0x00, 0x30, 0x00, 1, 0, 9},
         ok,
         0,
         {}},
        {"serial write",
         [](ZEBDevice* d) {
             const uint8_t data[] = {1, 2};
             return Delivered{ZEBWriteComm(d, 2, data), {}};
         },
         {0x23, 0x01, 2, 0, 1, 2},
         ok,
         0,
         {}},
        {"serial write to port 2, refused",
         [](ZEBDevice* d) {
             const uint8_t data[] = {1, 2};
             return Delivered{ZEBWriteCommEx(d, 2, 2, data), {}};
         },
         {0x23, 0x81, 1, 2, 0, 1, 2},
         {0x05, 0x80},
         0xFFFF8005u,
         {}},
        {"serial read",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadComm(d, s, b); }, 100);
         },
         {0x23, 0x02, 100, 0},
         {0x00, 0x00, 3, 0, 7, 8, 9},
         0,
         {7, 8, 9}},
        {"serial read from port 1: the bytes come with the status",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadCommEx(d, 1, s, b); }, 10);
         },
         {0x23, 0x82, 0, 10, 0},
         {0x04, 0x00, 2, 0, 7, 8},
         4,
         {7, 8}},
        {"serial read, more than asked for",
         [](ZEBDevice* d) {
             return sized([d](uint8_t* b, uint16_t* s) { return ZEBReadComm(d, s, b); }, 2);
         },
         {0x23, 0x02, 2, 0},
         {0x00, 0x00, 3, 0, 7, 8, 9},
         ZEBERR_BUFFER_TOO_SMALL,
         {7, 8}},
        {"receive queue",
         [](ZEBDevice* d) { return counted([d](uint16_t* v) { return ZEBGetRXAvailable(d, v); }); },
         {0x23, 0x03},
         {0x00, 0x00, 0x34, 0x12},
         0,
         {0x34, 0x12}},
        {"receive queue of port 3, stored with a status",
         [](ZEBDevice* d) {
             return counted([d](uint16_t* v) { return ZEBGetRXAvailableEx(d, 3, v); });
         },
         {0x23, 0x83, 2},
         {0x01, 0x00, 5, 0},
         1,
         {5, 0}},
        {"transmit queue",
         [](ZEBDevice* d) { return counted([d](uint16_t* v) { return ZEBGetTXLeft(d, v); }); },
         {0x23, 0x06},
         {0x00, 0x00, 9, 0},
         0,
         {9, 0}},
        {"transmit queue of port 1",
         [](ZEBDevice* d) { return counted([d](uint16_t* v) { return ZEBGetTXLeftEx(d, 1, v); }); },
         {0x23, 0x86, 0},
         {0x00, 0x00, 9, 0},
         0,
         {9, 0}},
        {"flush receive queue",
         [](ZEBDevice* d) {
             return Delivered{ZEBFlushRXQueue(d), {}};
         },
         {0x23, 0x04},
         ok,
         0,
         {}},
        {"flush receive queue of port 1",
         [](ZEBDevice* d) {
             return Delivered{ZEBFlushRXQueueEx(d, 1), {}};
         },
         {0x23, 0x84, 0},
         ok,
         0,
         {}},
        {"flush transmit queue of port 2, refused",
         [](ZEBDevice* d) {
             return Delivered{ZEBFlushTXQueueEx(d, 2), {}};
         },
         {0x23, 0x89, 1},
         {0xFF, 0xFF},
         0xFFFFFFFFu,
         {}},
        {"port setup",
         [line](ZEBDevice* d) {
             return Delivered{ZEBSetupSerialPort(d, &line, 0), {}};
         },
         joined({0x23, 0x05, 0, 0}, line_bytes),
         ok,
         0,
         {}},
        {"port setup of port 1, waiting for the final status",
         [line](ZEBDevice* d) {
             return Delivered{ZEBSetupSerialPortEx(d, 1, &line, 1), {}};
         },
         joined({0x23, 0x85, 0, 1, 0}, line_bytes),
         {0x02, 0x00},
         2,
         {},
         {0x23, 0x85}},
        {"port setup read back: the record without a status word",
         [](ZEBDevice* d) {
             ZEBSerialSetup got;
             std::memset(&got, 0xCC, sizeof got);
             const uint32_t r = ZEBReadSerialPortSetup(d, &got);
             return Delivered{r, Bytes(got.Data, got.Data + 8)};
         },
         {0x23, 0x07, 0, 0},
         line_bytes,
         0,
         line_bytes},
        {"port setup read back, port 0 sent as 0xFF",
         [](ZEBDevice* d) {
             ZEBSerialSetup got;
             const uint32_t r = ZEBReadSerialPortSetupEx(d, 0, &got);
             return Delivered{r, Bytes(got.Data, got.Data + 8)};
         },
         {0x23, 0x87, 0xFF, 0, 0},
         range(1, 8),
         0,
         range(1, 8)},
        {"combined write and answer",
         [](ZEBDevice* d) {
             const uint8_t data[] = {1, 2};
             return sized(
                 [d, &data](uint8_t* b, uint16_t* s) { return ZEBAccessComm(d, 2, data, s, b); },
                 10);
         },
         {0x23, 0x08, 2, 0, 1, 2},
         {0x00, 0x00, 3, 0, 7, 8, 9},
         0,
         {7, 8, 9}},
        {"combined write and answer: a cut beats the status",
         [](ZEBDevice* d) {
             const uint8_t data[] = {1};
             return sized(
                 [d, &data](uint8_t* b, uint16_t* s) { return ZEBAccessComm(d, 1, data, s, b); },
                 2);
         },
         {0x23, 0x08, 1, 0, 1},
         {0x05, 0x00, 3, 0, 7, 8, 9},
         ZEBERR_BUFFER_TOO_SMALL,
         {7, 8}},
    };
}

// ---- I/O as points: the caller's image, with a guard byte past it ----

Bytes image_bytes(const ZEBImage& image) {
    const auto* raw = reinterpret_cast<const uint8_t*>(&image);
    return Bytes(raw, raw + sizeof image);
}

// Calls an operation on a copy of `start` and delivers the whole image it leaves.
template <class Op>
Delivered imaged(Op op, const ZEBImage& start) {
    Bytes buf = image_bytes(start);
    buf.push_back(0xCC);
    Delivered d{op(reinterpret_cast<ZEBImage*>(buf.data())), {}};
    EXPECT_EQ(buf.back(), 0xCC) << "wrote past the image";
    d.data.assign(buf.begin(), buf.end() - 1);
    return d;
}

ZEBImage laid_out(const Bytes& definition) {
    ZEBImage image;
    EXPECT_EQ(
        ZEBImageFromBaseDef(&image, definition.data(), static_cast<uint16_t>(definition.size())),
        0u);
    return image;
}

ZEBImage taking(ZEBImage image, const Bytes& stream) {
    ZEBDecodeStream(&image, stream.data(), static_cast<uint16_t>(stream.size()));
    return image;
}

// The image operations: what they ask for, and what of the reply reaches the image. The
// expected images are worked out from the definition and the stream.
std::vector<Row> point_rows() {
    // Slot 0: 8 bit inputs, a word input; slot 3: 8 bit outputs.
    const Bytes definition = {0xB1, 0x00, 0x00, 0, 0x01, 4,    0x01, 0x22, 8, 0, 1,   0,
                              0x00, 3,    0x01, 4, 0x01, 0x24, 0,    8,    0, 0, 0xF0};
    const Bytes stream = {0xB1, 0x00, 0x00, 0, 0x03, 1, 0xA5, 0x05, 2, 0x34, 0x12, 0xFF};
    ZEBImage dirty;
    std::memset(&dirty, 0xCC, sizeof dirty);
    ZEBImage start = laid_out(definition);
    ZEBSetPoint(&start, 3, ZEB_BIT_OUT, 0, 1);
    ZEBSetPoint(&start, 3, ZEB_BIT_OUT, 6, 1);
    EXPECT_EQ(start.SlotCount, 2) << "the definition lays out both slots";
    const ZEBImage filled = taking(start, stream);
    uint32_t word = 0;
    EXPECT_EQ(ZEBGetPoint(&filled, 0, ZEB_WORD_IN, 0, &word), 0u);
    EXPECT_EQ(word, 0x1234u) << "the stream fills the image";
    const Bytes with_status = joined({0x00, 0x00}, stream);
    return {
        {"image layout from the base definition in the extended format",
         [dirty](ZEBDevice* d) {
             return imaged([d](ZEBImage* i) { return ZEBReadImageLayout(d, i); }, dirty);
         },
         {0x08, 0xB1},
         definition,
         0,
         image_bytes(laid_out(definition))},
        {"inputs in the extended format, taken into the image",
         [start](ZEBDevice* d) {
             return imaged([d](ZEBImage* i) { return ZEBReadInputs(d, i); }, start);
         },
         {0x07, 0xB1},
         with_status,
         0,
         image_bytes(taking(start, stream))},
        {"inputs refused with data: the values that came are taken",
         [start](ZEBDevice* d) {
             return imaged([d](ZEBImage* i) { return ZEBReadInputs(d, i); }, start);
         },
         {0x07, 0xB1},
         joined({0x05, 0x00}, stream),
         0x8005,
         image_bytes(taking(start, stream))},
        {"inputs without a status word leave the image alone",
         [start](ZEBDevice* d) {
             return imaged([d](ZEBImage* i) { return ZEBReadInputs(d, i); }, start);
         },
         {0x07, 0xB1},
         {0x00},
         ZEBERR_NO_DATA,
         image_bytes(start)},
        {"outputs written whole, the inputs answered taken",
         [start](ZEBDevice* d) {
             return imaged([d](ZEBImage* i) { return ZEBWriteOutputs(d, i); }, start);
         },
         {0x06, 0xB1, 0x00, 0x00, 3, 0x04, 1, 0x41, 0xFF},
         with_status,
         0,
         image_bytes(taking(start, stream))},
        {"outputs refused as the status word alone: the image as it was",
         [start](ZEBDevice* d) {
             return imaged([d](ZEBImage* i) { return ZEBWriteOutputs(d, i); }, start);
         },
         {0x06, 0xB1, 0x00, 0x00, 3, 0x04, 1, 0x41, 0xFF},
         {0x10, 0x00},
         0x8010,
         image_bytes(start)},
    };
}

TEST(Operations, RequestReplyAndResultOfEachOperation) {
    std::vector<Row> all = rows();
    for (Row& row : controller_rows()) all.push_back(std::move(row));
    for (Row& row : point_rows()) all.push_back(std::move(row));
    for (const Row& row : all) {
        SCOPED_TRACE(row.name);
        ScopedSimNetwork net;
        net->add_peer(kModule, row.ack.empty() ? answer_with(row.reply)
                                               : acknowledge_then(row.ack, row.reply));
        IpDevice dev(kModule, {100, 0, 0});
        const Delivered got = row.call(&dev.device);
        EXPECT_EQ(got.result, row.result);
        EXPECT_EQ(got.data, row.delivered);
        ASSERT_EQ(net->sent().size(), 1u);
        EXPECT_EQ(payload_of(net->sent()[0].bytes), row.request);
    }
}

TEST(Operations, SocketErrorsCarryTheWarningBitAndEndAsNoData) {
    // Winsock numbers have the 0x2000 bit set, so they pass the failure test; the exchange
    // leaves an empty reply, which the operation reports as no data.
    ScopedSimNetwork net;
    IpDevice dev(kModule, {100, 0, 0});
    net->fail_next(SimNetwork::Op::receive, 10054);
    uint8_t buf[10] = {};
    uint16_t size = 10;
    EXPECT_EQ(ZEBReadIO(&dev.device, buf, &size), ZEBERR_NO_DATA);
    EXPECT_EQ(size, 0);
    // A library failure leaves the size alone.
    net->add_peer(kModule, [](const Datagram& d, PeerReply& out) {
        out.send(make_bad_crc_reply(sequence_of(d.bytes), {0, 0}));
    });
    size = 10;
    EXPECT_EQ(ZEBReadIO(&dev.device, buf, &size), ZEBERR_BAD_CRC);
    EXPECT_EQ(size, 10);
}

TEST(Operations, RetriedExchangesWarnOnlyWhereTheOperationReportsIt) {
    ScopedSimNetwork net;
    net->add_peer(kModule, lose_first(1, answer_with({0x00, 0x00, 0xFF})));
    IpDevice dev(kModule, {100, 1, 0});
    uint8_t buf[100] = {};
    uint16_t size = 100;
    EXPECT_EQ(ZEBReadIO(&dev.device, buf, &size), ZEBWARN_RETRIED);

    ScopedSimNetwork net2;
    net2->add_peer(kModule, lose_first(1, answer_with({1, 2, 3})));
    IpDevice dev2(kModule, {100, 1, 0});
    uint8_t def[42] = {};
    EXPECT_EQ(ZEBReadDeviceDef(&dev2.device, def, 42), 0u);
    EXPECT_EQ(+dev2.device.ResendCount, 1);
}

TEST(Operations, OversizedWritesAreRefusedBeforeAnythingIsSent) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0x00, 0x00}));
    IpDevice dev(kModule, {100, 0, 0});
    Bytes big(1191, 0xFF);
    EXPECT_EQ(ZEBWriteIO(&dev.device, big.data(), 1191, nullptr, nullptr), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(ZEBWriteIONoRead(&dev.device, big.data(), 1191), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(ZEBWriteBaseDef(&dev.device, big.data(), 588, nullptr, nullptr),
              ZEBERR_PACKET_TOO_LARGE);
    EXPECT_TRUE(net->sent().empty());
    EXPECT_EQ(ZEBWriteIO(&dev.device, big.data(), 1190, nullptr, nullptr), 0u);
    ASSERT_EQ(net->sent().size(), 1u);
    EXPECT_EQ(net->sent()[0].bytes.size(), 1200u);
}

TEST(Operations, NoWaitReturnsAtOnceAndTheReplyIsCollectedLater) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0x00, 0x00, 0xFF}, 5));
    IpDevice dev(kModule, {100, 0, 0});
    dev.device.NoWait = 1;
    uint8_t buf[100] = {};
    uint16_t size = 100;
    const uint8_t out[] = {0xFF};
    EXPECT_EQ(ZEBReadIO(&dev.device, buf, &size), ZEBERR_NO_PACKET);
    EXPECT_EQ(ZEBWriteIO(&dev.device, out, 1, buf, &size), ZEBERR_NO_PACKET);
    EXPECT_EQ(ZEBWriteIONoRead(&dev.device, out, 1), ZEBERR_NO_PACKET);
    uint8_t reply[1200];
    int32_t length = sizeof reply;
    EXPECT_EQ(ZEBGetResponse(&dev.device, reply, &length, 1), ZEBERR_NO_PACKET);
    net->advance(10);
    length = sizeof reply;
    // The replies to the first two requests are strays now; the third is the one awaited.
    EXPECT_EQ(ZEBGetResponse(&dev.device, reply, &length, 1), 0u);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(+dev.device.LateReplyCount, 2);
}

TEST(Operations, BaseDefinitionWriteSendsLengthAndDataAndReadsTheFinalStatus) {
    ScopedSimNetwork net;
    // Acknowledgement at once, then the final reply with a refusal status and data.
    net->add_peer(kModule, [](const Datagram& d, PeerReply& out) {
        out.send(make_reply(sequence_of(d.bytes), {0x0F, 0x00}), 1);
        out.send(make_reply(sequence_of(d.bytes), {0x00, 0x00, 9, 8, 7}), 50);
    });
    IpDevice dev(kModule, {20, 0, 0});
    const uint8_t def[] = {0x00, 0x14, 1, 0x23, 16, 16, 0, 0};
    uint8_t buf[2] = {};
    uint16_t size = 2;
    // The final reply comes 50 ms later: past Timeout, well within the write's extra time.
    EXPECT_EQ(ZEBWriteBaseDef(&dev.device, def, sizeof def, buf, &size), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(buf[0], 9);
    const Bytes body = payload_of(net->sent()[0].bytes);
    EXPECT_EQ(body.size(), 4u + sizeof def);
    EXPECT_EQ(body[0], 0x0F);
    EXPECT_EQ(u16_at(body, 2), sizeof def);

    ScopedSimNetwork net2;
    net2->add_peer(kModule, [](const Datagram& d, PeerReply& out) {
        out.send(make_reply(sequence_of(d.bytes), {0x0F, 0x00}), 1);
        out.send(make_reply(sequence_of(d.bytes), {0x03, 0x80}), 2);
    });
    IpDevice dev2(kModule, {20, 0, 0});
    EXPECT_EQ(ZEBWriteBaseDef(&dev2.device, def, sizeof def, nullptr, nullptr), 0xFFFF8003u);
}

TEST(Operations, ExtendedHeaderRequestsStillReadTheReplyFromByte9) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({5, 6, 7}));
    IpDevice dev(kModule, {100, 0, 1});
    uint8_t def[3] = {};
    EXPECT_EQ(ZEBReadDeviceDef(&dev.device, def, 3), 0u);
    EXPECT_EQ(def[0], 5);
    const Bytes& sent = net->sent()[0].bytes;
    ASSERT_EQ(sent.size(), 17u);
    EXPECT_EQ(sent[9], 0x15);
    EXPECT_EQ(sent[16], 0x04);
}

TEST(Operations, LengthsAboveTheLimitAreRefusedWhateverTheirUpperBits) {
    // 65539 = 0x10003: cut to 16 bits it would be a 3-byte body that fits.
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0x00, 0x00}));
    IpDevice dev(kModule, {100, 0, 0});
    Bytes big(70000, 0xFF);
    for (uint32_t length : {65539u, 0x10000u + 1u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(ZEBWriteIONoRead(&dev.device, big.data(), length), ZEBERR_PACKET_TOO_LARGE);
        EXPECT_EQ(ZEBWriteIO(&dev.device, big.data(), length, nullptr, nullptr),
                  ZEBERR_PACKET_TOO_LARGE);
        EXPECT_EQ(ZEBWriteBaseDef(&dev.device, big.data(), length, nullptr, nullptr),
                  ZEBERR_PACKET_TOO_LARGE);
    }
    EXPECT_TRUE(net->sent().empty());
}

TEST(Operations, AHeaderSizeOtherThan9Or16IsRefusedAndAMismatchedOneSendsNoStackBytes) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0x00, 0x00}));
    IpDevice dev(kModule, {100, 0, 0});
    uint8_t buf[4] = {};
    uint16_t size = sizeof buf;
    dev.device.DataOffset = 12;
    EXPECT_EQ(ZEBReadIO(&dev.device, buf, &size), ZEBERR_BAD_DEVICE);
    EXPECT_EQ(ZEBReadDeviceDef(&dev.device, buf, 4), ZEBERR_BAD_DEVICE);
    EXPECT_TRUE(net->sent().empty());
    // DataOffset 16 on a plain header: the 7 bytes between go out as zeros.
    dev.device.DataOffset = 16;
    EXPECT_EQ(ZEBReadIO(&dev.device, buf, &size), 0u);
    ASSERT_EQ(net->sent().size(), 1u);
    EXPECT_EQ(payload_of(net->sent()[0].bytes), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x07}));
}

TEST(Operations, AnEmptyBufferIsNeverReadForTheFormatMarker) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0x00, 0x00}));
    IpDevice dev(kModule, {100, 0, 0});
    uint8_t marker[1] = {0xB1};
    uint16_t size = 0;
    ZEBReadIO(&dev.device, marker, &size);
    size = 0;
    ZEBReadBaseDef(&dev.device, marker, &size);
    ASSERT_EQ(net->sent().size(), 2u);
    EXPECT_EQ(payload_of(net->sent()[0].bytes), Bytes{0x07});
    EXPECT_EQ(payload_of(net->sent()[1].bytes), Bytes{0x08});
}

TEST(Operations, BaseDefinitionWriteAnsweredTwiceGivesTheFinalStatus) {
    ScopedSimNetwork net;
    net->add_peer(kModule, [](const Datagram& d, PeerReply& out) {
        for (int copy = 0; copy < 2; ++copy) {
            out.send(make_reply(sequence_of(d.bytes), {0x0F, 0x00}), 1);
            out.send(make_reply(sequence_of(d.bytes), {0x00, 0x00}), 20);
        }
    });
    IpDevice dev(kModule, {100, 0, 0});
    const uint8_t def[] = {0x00, 0x14};
    EXPECT_EQ(ZEBWriteBaseDef(&dev.device, def, sizeof def, nullptr, nullptr), 0u);
    EXPECT_EQ(+dev.device.LateReplyCount, 1);
}

}  // namespace
}  // namespace zebtest
