// Controller, memory, shared-RAM and serial requests that lie about their sizes, stop short or
// carry noise: every one is answered within what a host's reply buffer holds, and every count
// in a reply agrees with the bytes it carries. Run under the sanitizers, a read or write outside
// a buffer shows here.
#include <gtest/gtest.h>

#include <random>

#include "test_util.h"
#include "vocab/capacities.h"
#include "vocab/memory.h"
#include "vocab/serial_ops.h"

namespace racksim {
namespace {

using test::concat;
using test::kModuleA;

namespace capacity = zeb::vocab::capacity;
namespace serial = zeb::vocab::serial;

// The most a host takes after the header, by request.
size_t reply_limit(const Bytes& request) {
    switch (request[0]) {
        case fn::kCcmRequest:
        case fn::kKseqRequest:
            return capacity::kControllerReply - kHeaderSize;
        case fn::kSerial:
            return request.size() > 1 && request[1] == serial::kAccess
                       ? capacity::kSerialAccessReply - kHeaderSize
                       : capacity::kSerialReply - kHeaderSize;
        case fn::kWriteMemory:
        case fn::kWriteSharedRam:
            return capacity::kMemoryWriteReply - kHeaderSize;
        default:
            return capacity::kMemoryReply - kHeaderSize;
    }
}

// Replies whose count says how many bytes follow: serial reads and the combined exchange
// (status, n, n bytes), the listing (status, n, n entries) and batched access (answer items).
void check_counts(const Bytes& request, const Bytes& p) {
    const uint8_t code = request[0];
    const uint8_t op = request.size() > 1 ? request[1] : 0;
    const bool serial_read =
        code == fn::kSerial && (op == serial::kRead || op == (serial::kRead | serial::kNamesPort) ||
                                op == serial::kAccess);
    if (serial_read) {
        ASSERT_EQ(p.size() >= 4 ? 4u + get_u16(&p[2]) : 0u, p.size());
    } else if (code == fn::kEnumMemory) {
        ASSERT_GE(p.size(), 4u);
        EXPECT_EQ(p.size(), 4u + get_u16(&p[2]) * zeb::vocab::memory::kAreaEntrySize);
    } else if (code == fn::kAccessMemory && p.size() > 2) {
        ASSERT_GE(p.size(), 4u);
        size_t at = 4;
        for (uint16_t i = 0; i < get_u16(&p[2]); ++i) {
            ASSERT_LE(at + zeb::vocab::memory::kItemHeadSize, p.size());
            at += zeb::vocab::memory::kItemHeadSize + get_u16(&p[at + 7]);
        }
        EXPECT_EQ(at, p.size());
    }
}

void ask_hostile(Rack& rack, const Bytes& request) {
    SCOPED_TRACE(::testing::PrintToString(request));
    for (const test::Reply& r : test::ask(rack, kModuleA, request)) {
        EXPECT_LE(r.payload.size(), reply_limit(request));
        check_counts(request, r.payload);
    }
}

Bytes u16_bytes(uint16_t v) {
    Bytes b;
    put_u16(b, v);
    return b;
}

// Well-formed requests of every kind, near the edges of their areas and limits, written as their
// bytes travel (as the tests write every request), independently of the vocabulary.
std::vector<Bytes> good_requests() {
    std::vector<Bytes> out = {
        {0x19, 0x00, 0x01, 0x1E, 0x00, 0x00, 0x01, 0x01},
        concat({{0x19, 0x00, 0x01, 0x20, 0x04, 0xFE, 0x01, 0x01}, {1, 2, 3, 4}}),
        concat({{0x1A, 0x00, 0x03, 0x00}, {1, 2, 3}}),
        {0x25, 0x00, 0x01, 0x00, 0x4D, 0x02, 0x00, 0x06, 0x00, 0x00},  // 589 bytes at 1536
        concat({{0x24, 0x00, 0x01, 0x00, 0x04, 0x00, 0xFC, 0x07, 0x00, 0x00}, {1, 2, 3, 4}}),
        {0x26},
        concat({{0x27, 0x00, 0x02, 0x00},
                {0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xAA, 0xBB},
                {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x02}}),  // 576 bytes read
        {0x28, 0x01, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00, 0x04, 0x00},
        concat({{0x29, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFE, 0x03, 0x02, 0x00}, {5, 6}}),
        concat({{0x23, 0x01}, u16_bytes(3), {1, 2, 3}}),
        concat({{0x23, 0x02}, u16_bytes(0xFFFF)}),
        {0x23, 0x03},
        {0x23, 0x04},
        {0x23, 0x05, 0x01, 0x00, 0x80, 0x25, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00},
        {0x23, 0x06},
        {0x23, 0x07, 0x00, 0x00},
        concat({{0x23, 0x08}, u16_bytes(4), {9, 8, 7, 6}}),
        concat({{0x23, 0x81, 0x01}, u16_bytes(2), {1, 2}}),
        concat({{0x23, 0x82, 0x00}, u16_bytes(200)}),
        {0x23, 0x83, 0xFF},
        {0x23, 0x85, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x23, 0x87, 0x01, 0x00, 0x00},
        {0x23, 0x89, 0x00},
    };
    return out;
}

TEST(HostileRequests, EveryShortenedRequestIsAnsweredWithinTheHostsLimits) {
    Rack rack = test::three_modules();
    for (const Bytes& good : good_requests()) {
        for (size_t len = 1; len <= good.size(); ++len) {
            ask_hostile(rack, Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(len)));
        }
        ask_hostile(rack, concat({good, {0}}));
    }
}

TEST(HostileRequests, CountFieldsAtTheirLargestAndNoiseAreAnsweredWithinTheHostsLimits) {
    Rack rack = test::three_modules();
    std::mt19937 random(12345);
    for (const Bytes& good : good_requests()) {
        // Every 16-bit field set to 0xFFFF in turn, then bytes changed at random.
        for (size_t at = 1; at + 1 < good.size(); ++at) {
            Bytes b = good;
            b[at] = b[at + 1] = 0xFF;
            ask_hostile(rack, b);
        }
        for (int n = 0; n < 200; ++n) {
            Bytes b = good;
            const size_t changes = 1 + random() % 3;
            for (size_t i = 0; i < changes && b.size() > 1; ++i) {
                b[1 + random() % (b.size() - 1)] = static_cast<uint8_t>(random());
            }
            ask_hostile(rack, b);
        }
    }
}

TEST(HostileRequests, NoiseOfAnyLengthAfterEachFunctionCode) {
    Rack rack = test::three_modules();
    std::mt19937 random(777);
    for (uint8_t code :
         {fn::kCcmRequest, fn::kKseqRequest, fn::kSerial, fn::kWriteMemory, fn::kReadMemory,
          fn::kEnumMemory, fn::kAccessMemory, fn::kReadSharedRam, fn::kWriteSharedRam}) {
        for (int n = 0; n < 300; ++n) {
            Bytes b(1 + random() % 40);
            for (uint8_t& x : b) x = static_cast<uint8_t>(random());
            b[0] = code;
            ask_hostile(rack, b);
        }
    }
}

}  // namespace
}  // namespace racksim
