// Controller requests, memory access and serial pass-through beyond their request/reply rows:
// count limits (also with upper bits set), no-wait mode, the acknowledged exchanges, and
// hostile replies (counts larger than the data, truncated heads) that must neither overrun a
// buffer nor hand over bytes that did not arrive. Each hostile reply follows a good one, so
// that the reply buffers on the stack hold old bytes that a careless copy would pass on.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "controller/shared_ram.h"
#include "frames.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr Endpoint kModule{ipv4(127, 0, 0, 2), kModulePort};
constexpr uint8_t kOld = 0xEE;    // bytes of an earlier reply
constexpr uint8_t kUnset = 0xCC;  // the caller's buffer before the call

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// `head`, then n bytes of `fill`.
Bytes with_head(Bytes head, size_t n, uint8_t fill) {
    head.insert(head.end(), n, fill);
    return head;
}

bool all_are(const uint8_t* p, size_t n, uint8_t v) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != v) return false;
    }
    return true;
}

// ---- CCM and K-sequence ------------------------------------------------------------------

PeerHandler ccm_module(Bytes answer) {
    return acknowledge_then({0x20, 0x19}, Bytes{0x22, 0x19, 0, 0} + answer);
}

TEST(ControllerRequests, CountsUpTo256AreSentAndLargerOnesRefusedWhateverTheirUpperBits) {
    ScopedSimNetwork net;
    net->add_peer(kModule, acknowledge_then({0x20, 0x1A}, {0x22, 0x1A, 0, 0}));
    IpDevice dev(kModule);
    Bytes message(300, 0x5A);
    uint16_t size = 300;
    EXPECT_EQ(ZEBKSEQRequest(&dev.device, 256, message.data(), &size), 0u);
    ASSERT_EQ(net->sent().size(), 1u);
    const Bytes body = payload_of(net->sent()[0].bytes);
    ASSERT_EQ(body.size(), 4u + 256u);
    EXPECT_EQ(body[2], 0);  // 256 goes out as 0

    // 0x10000 cut to 16 bits would be an empty message.
    for (uint32_t count : {257u, 0x10000u, 0x10005u}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(ZEBKSEQRequest(&dev.device, count, message.data(), &size), ZEBERR_BAD_PARAMETER);
        EXPECT_EQ(ZEBCCMRequest(&dev.device, 1, 0, 0, count, message.data()), ZEBERR_BAD_PARAMETER);
        EXPECT_EQ(ZEBCCMRequest(&dev.device, 0, 0, 0, count, message.data()), ZEBERR_BAD_PARAMETER);
    }
    EXPECT_EQ(ZEBCCMRequest(&dev.device, 0, 0, 0, 4, nullptr), ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(ZEBKSEQRequest(&dev.device, 4, nullptr, &size), ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(net->sent().size(), 1u);
}

TEST(ControllerRequests, KSequenceAnswerIsCutToTheRoomOrDeliveredWhole) {
    ScopedSimNetwork net;
    net->add_peer(kModule, acknowledge_then({0x20, 0x1A}, with_head({0x22, 0x1A, 0, 0}, 40, 7)));
    IpDevice dev(kModule);
    Bytes buf(65, kUnset);
    uint16_t size = 32;
    EXPECT_EQ(ZEBKSEQRequest(&dev.device, 1, buf.data(), &size), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 32);
    EXPECT_TRUE(all_are(buf.data(), 32, 7));
    EXPECT_EQ(buf[32], kUnset);
    size = 64;
    EXPECT_EQ(ZEBKSEQRequest(&dev.device, 1, buf.data(), &size), 0u);
    EXPECT_EQ(size, 40);
    EXPECT_EQ(buf[40], kUnset);
}

TEST(ControllerRequests, ReSendsAreNotReported) {
    ScopedSimNetwork net;
    net->add_peer(kModule, lose_first(1, ccm_module({1, 2})));
    IpDevice dev(kModule, {100, 2, 0});
    uint8_t buf[2];
    EXPECT_EQ(ZEBCCMRequest(&dev.device, 0, 1, 2, 2, buf), 0u);
    EXPECT_EQ(+dev.device.ResendCount, 1);
    EXPECT_EQ(buf[1], 2);
}

TEST(ControllerRequests, ShortAnswersDeliverNothing) {
    // A long answer first, then answers cut inside their 4-byte head.
    Bytes long_answer = with_head({0x22, 0x1A, 0, 0}, 300, kOld);
    for (const Bytes& hostile : {Bytes{0x22, 0x1A, 0x00}, Bytes{0x22}, Bytes{}}) {
        SCOPED_TRACE(hostile.size());
        ScopedSimNetwork net;
        auto calls = std::make_shared<int>(0);
        net->add_peer(kModule, [=](const Datagram& d, PeerReply& out) {
            out.send(make_reply(sequence_of(d.bytes), {0x20, 0x1A}), 1);
            out.send(make_reply(sequence_of(d.bytes), (*calls)++ ? hostile : long_answer), 2);
        });
        IpDevice dev(kModule);
        Bytes buf(300, kUnset);
        uint16_t size = 300;
        EXPECT_EQ(ZEBKSEQRequest(&dev.device, 1, buf.data(), &size), 0u);
        std::fill(buf.begin(), buf.end(), kUnset);
        size = 300;
        EXPECT_EQ(ZEBKSEQRequest(&dev.device, 1, buf.data(), &size), ZEBERR_MISMATCHED_REPLY);
        EXPECT_EQ(size, 300);
        EXPECT_TRUE(all_are(buf.data(), buf.size(), kUnset));
    }
}

TEST(ControllerRequests, AWriteGetsBackOnlyTheAnswerBytesThatCameAtMostItsCount) {
    ScopedSimNetwork net;
    net->add_peer(kModule, ccm_module({0x55}));
    IpDevice dev(kModule);
    uint8_t buf[5] = {1, 2, 3, 4, kUnset};
    EXPECT_EQ(ZEBCCMRequest(&dev.device, 1, 0, 0, 4, buf), 0u);
    EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{0x55, 2, 3, 4, kUnset}));

    ScopedSimNetwork net2;
    net2->add_peer(kModule, ccm_module({9, 9, 9, 9, 9, 9}));
    IpDevice dev2(kModule);
    uint8_t two[3] = {1, 2, kUnset};
    EXPECT_EQ(ZEBCCMRequest(&dev2.device, 1, 0, 0, 2, two), 0u);
    EXPECT_EQ(two[2], kUnset);
}

TEST(ControllerRequests, AWrongFirstReplyWithoutARefusalStatusIsAMismatchNotASuccess) {
    for (const Bytes& first : {Bytes{0x21, 0x19, 0x00, 0x00}, Bytes{0x21}, Bytes{0x20}}) {
        SCOPED_TRACE(first.size());
        ScopedSimNetwork net;
        net->add_peer(kModule, acknowledge_then(first, {0x22, 0x19, 0, 0, 1, 2}));
        IpDevice dev(kModule);
        uint8_t buf[2] = {kUnset, kUnset};
        EXPECT_EQ(ZEBCCMRequest(&dev.device, 0, 1, 2, 2, buf), ZEBERR_MISMATCHED_REPLY);
        EXPECT_EQ(buf[0], kUnset);
    }
}

// ---- Memory and shared RAM ---------------------------------------------------------------

TEST(Memory, ReadsLargerThanOneReplyCarriesAreRefusedBeforeSending) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with(with_head({0, 0}, 589, 1)));
    IpDevice dev(kModule);
    Bytes buf(600, kUnset);
    EXPECT_EQ(ZEBReadMemory(&dev.device, 1, 0, 589, buf.data()), 0u);
    EXPECT_EQ(buf[588], 1);
    EXPECT_EQ(buf[589], kUnset);
    EXPECT_EQ(zeb::read_shared_ram(&dev.device, 0, 0, 0, 589, buf.data()), 0u);
    ASSERT_EQ(net->sent().size(), 2u);
    for (uint32_t count : {590u, 0x10003u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(ZEBReadMemory(&dev.device, 1, 0, count, buf.data()), ZEBERR_BAD_PARAMETER);
        EXPECT_EQ(ZEBReadSharedRAM(&dev.device, 0, 0, 0, count, buf.data()), ZEBERR_BAD_PARAMETER);
    }
    EXPECT_EQ(ZEBReadMemory(&dev.device, 1, 0, 1, nullptr), ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(net->sent().size(), 2u);
}

TEST(Memory, WritesAboveTheirLimitAreRefusedWhateverTheirUpperBits) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0, 0}));
    IpDevice dev(kModule);
    Bytes data(0x10010, 0x33);
    EXPECT_EQ(ZEBWriteMemory(&dev.device, 1, 0, 512, data.data()), 0u);
    EXPECT_EQ(ZEBWriteSharedRAM(&dev.device, 0, 0, 0, 256, data.data()), 0u);
    ASSERT_EQ(net->sent().size(), 2u);
    EXPECT_EQ(net->sent()[0].bytes.size(), 9u + 10u + 512u);
    EXPECT_EQ(net->sent()[1].bytes.size(), 9u + 10u + 256u);
    // 0x10000 and 0x10001 cut to 16 bits would be writes of 0 and 1 bytes.
    for (uint32_t count : {513u, 0x10000u, 0x10001u}) {
        EXPECT_EQ(ZEBWriteMemory(&dev.device, 1, 0, count, data.data()), ZEBERR_PACKET_TOO_LARGE);
    }
    for (uint32_t count : {257u, 0x10000u, 0x10001u}) {
        EXPECT_EQ(ZEBWriteSharedRAM(&dev.device, 0, 0, 0, count, data.data()),
                  ZEBERR_PACKET_TOO_LARGE);
    }
    EXPECT_EQ(ZEBWriteMemory(&dev.device, 1, 0, 4, nullptr), ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(net->sent().size(), 2u);
}

TEST(Memory, ShortReadRepliesDeliverNothing) {
    // A nonzero status word that came without the data is the result, 0x0086 included.
    const struct {
        Bytes reply;
        uint32_t result;
    } rows[] = {
        {with_head({0, 0}, 10, 1), ZEBERR_BAD_PARAMETER},
        {Bytes{0x86, 0x00, 1}, 0x86},
        {Bytes{0x01, 0x90}, 0xFFFF9001u},
        {Bytes{0x00}, ZEBERR_NO_DATA},
        {Bytes{}, ZEBERR_NO_DATA},
    };
    for (const auto& row : rows) {
        const Bytes hostile = row.reply;
        SCOPED_TRACE(hostile.size());
        ScopedSimNetwork net;
        auto calls = std::make_shared<int>(0);
        net->add_peer(kModule, [=](const Datagram& d, PeerReply& out) {
            const Bytes good = with_head({0, 0}, 589, kOld);
            out.send(make_reply(sequence_of(d.bytes), (*calls)++ ? hostile : good));
        });
        IpDevice dev(kModule);
        Bytes buf(589, kUnset);
        EXPECT_EQ(ZEBReadSharedRAM(&dev.device, 0, 0, 0, 589, buf.data()), 0u);
        std::fill(buf.begin(), buf.end(), kUnset);
        const uint32_t r = ZEBReadMemory(&dev.device, 1, 0, 589, buf.data());
        EXPECT_EQ(r, row.result);
        EXPECT_TRUE(all_are(buf.data(), buf.size(), kUnset));
    }
}

TEST(Memory, SharedRamAddressesKeepBit15AsAFlag) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0, 0, 1}));
    IpDevice dev(kModule);
    uint8_t b;
    const uint8_t one = 1;
    ZEBReadSharedRAM(&dev.device, 0x0102, 0x0304, 0x0030, 1, &b);
    ZEBWriteSharedRAM(&dev.device, 0, 0, 0xFFFF, 1, &one);
    zeb::write_shared_ram(&dev.device, 0, 0, 0x7FFF, 1, &one);
    ASSERT_EQ(net->sent().size(), 3u);
    EXPECT_EQ(payload_of(net->sent()[0].bytes), (Bytes{0x28, 0, 2, 1, 4, 3, 0x30, 0, 1, 0}));
    EXPECT_EQ(payload_of(net->sent()[1].bytes), (Bytes{0x29, 1, 0, 0, 0, 0, 0xFF, 0x7F, 1, 0, 1}));
    EXPECT_EQ(payload_of(net->sent()[2].bytes), (Bytes{0x29, 0, 0, 0, 0, 0, 0xFF, 0x7F, 1, 0, 1}));
}

TEST(MemoryBatch, AnEmptyBatchSendsItsHeadAlone) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0, 0, 0, 0}));
    IpDevice dev(kModule);
    EXPECT_EQ(ZEBAccessMemory(&dev.device, nullptr, 0), 0u);
    EXPECT_EQ(payload_of(net->sent()[0].bytes), (Bytes{0x27, 0, 0, 0}));
}

TEST(MemoryBatch, BadItemsAndOversizedBatchesAreRefusedBeforeSending) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0, 0, 0, 0}));
    IpDevice dev(kModule);
    Bytes data(600, 1);
    ZEBMemoryItem item = {2, 0, 0, 1, data.data()};
    EXPECT_EQ(ZEBAccessMemory(&dev.device, &item, 1), ZEBERR_BAD_PARAMETER);
    item = {0, 0, 0, 1, nullptr};
    EXPECT_EQ(ZEBAccessMemory(&dev.device, &item, 1), ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(ZEBAccessMemory(&dev.device, nullptr, 1), ZEBERR_BAD_PARAMETER);

    // The request: 9 + 4 + 9 + 578 = 600 bytes fits, one byte more does not.
    item = {1, 0, 0, 579, data.data()};
    EXPECT_EQ(ZEBAccessMemory(&dev.device, &item, 1), ZEBERR_PACKET_TOO_LARGE);
    // The answer: 4 + 9 + 578 = 591 bytes fit a 600-byte reply; 579 to 587 would fit 600
    // bytes only without the header.
    for (uint16_t count : {579, 587}) {
        item = {0, 0, 0, count, data.data()};
        EXPECT_EQ(ZEBAccessMemory(&dev.device, &item, 1), ZEBERR_PACKET_TOO_LARGE);
    }
    // 0x10000 items cut to 16 bits would be an empty batch.
    std::vector<ZEBMemoryItem> many(0x10000, ZEBMemoryItem{0, 0, 0, 0, data.data()});
    EXPECT_EQ(ZEBAccessMemory(&dev.device, many.data(), 0x10000), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_TRUE(net->sent().empty());

    item = {1, 0, 0, 578, data.data()};
    EXPECT_EQ(ZEBAccessMemory(&dev.device, &item, 1), 0u);
    item = {0, 0, 0, 578, data.data()};
    EXPECT_EQ(ZEBAccessMemory(&dev.device, &item, 1), 0u);
    ASSERT_EQ(net->sent().size(), 2u);
    EXPECT_EQ(net->sent()[0].bytes.size(), 600u);
}

// Two reads of four bytes each, at addresses 0x10 and 0x20 of memory type 3.
struct TwoReads {
    uint8_t first[5] = {kUnset, kUnset, kUnset, kUnset, kUnset};
    uint8_t second[5] = {kUnset, kUnset, kUnset, kUnset, kUnset};
    ZEBMemoryItem items[2] = {{0, 3, 0x10, 4, first}, {0, 3, 0x20, 4, second}};
};
Bytes answer_item(uint8_t direction, uint32_t address, uint16_t count, const Bytes& data) {
    Bytes b = {direction, 3, 0, uint8_t(address), 0, 0, 0, uint8_t(count), uint8_t(count >> 8)};
    for (uint8_t v : data) b.push_back(v);
    return b;
}

TEST(MemoryBatch, AnswerItemsAreCheckedAndStopAtTheFirstThatDoesNotFit) {
    const Bytes head = {0, 0, 2, 0};
    const Bytes good_first = answer_item(1, 0x10, 4, {1, 2, 3, 4});  // direction not compared
    struct Case {
        const char* name;
        Bytes second;
        uint32_t result;
    };
    const Case cases[] = {
        {"second matches", answer_item(0, 0x20, 4, {5, 6, 7, 8}), 0},
        {"wrong address", answer_item(0, 0x21, 4, {5, 6, 7, 8}), ZEBERR_MISMATCHED_REPLY},
        {"count larger than asked", answer_item(0, 0x20, 500, {5, 6, 7, 8}),
         ZEBERR_MISMATCHED_REPLY},
        {"data cut short", answer_item(0, 0x20, 4, {5, 6}), ZEBERR_BAD_PARAMETER},
        {"head cut short", Bytes{0, 3, 0, 0x20}, ZEBERR_BAD_PARAMETER},
        {"missing", Bytes{}, ZEBERR_BAD_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedSimNetwork net;
        net->add_peer(kModule, answer_with(head + good_first + c.second));
        IpDevice dev(kModule);
        TwoReads reads;
        EXPECT_EQ(ZEBAccessMemory(&dev.device, reads.items, 2), c.result);
        EXPECT_EQ(Bytes(reads.first, reads.first + 5), (Bytes{1, 2, 3, 4, kUnset}));
        if (c.result == 0) {
            EXPECT_EQ(Bytes(reads.second, reads.second + 5), (Bytes{5, 6, 7, 8, kUnset}));
        } else {
            EXPECT_TRUE(all_are(reads.second, 5, kUnset));
        }
    }
}

TEST(MemoryBatch, AStatusWithLow12BitsSetDeliversNothingNot0x0086Either) {
    const Bytes items = answer_item(0, 0x10, 4, {1, 2, 3, 4}) + answer_item(0, 0x20, 4, {});
    for (const auto& [status, result] :
         {std::pair<Bytes, uint32_t>{{0x86, 0x00}, 0x86}, {{0x01, 0x80}, 0xFFFF8001u}}) {
        ScopedSimNetwork net;
        net->add_peer(kModule, answer_with(status + Bytes{1, 0} + items));
        IpDevice dev(kModule);
        TwoReads reads;
        EXPECT_EQ(ZEBAccessMemory(&dev.device, reads.items, 2), result);
        EXPECT_TRUE(all_are(reads.first, 5, kUnset));
    }
    // High bits alone do not stop the delivery.
    ScopedSimNetwork net;
    net->add_peer(kModule,
                  answer_with(Bytes{0x00, 0x10, 1, 0} + answer_item(0, 0x10, 4, {9, 9, 9, 9}) +
                              answer_item(0, 0x20, 4, {8, 8, 8, 8})));
    IpDevice dev(kModule);
    TwoReads reads;
    EXPECT_EQ(ZEBAccessMemory(&dev.device, reads.items, 2), 0x1000u);
    EXPECT_EQ(reads.second[3], 8);
}

TEST(MemoryList, OnlyEntriesThatArrivedAreDelivered) {
    struct Case {
        const char* name;
        Bytes reply;
        uint16_t count_after;  // of a room of 30
        size_t filled;         // entries delivered
        uint32_t result;
    };
    const Case cases[] = {
        {"claims 200, carries 2", with_head({0, 0, 200, 0}, 2 * 22, 1), 2, 2, ZEBERR_NO_DATA},
        {"claims 30, a full reply carries 26", with_head({0, 0, 30, 0}, 26 * 22 + 10, 1), 26, 26,
         ZEBERR_NO_DATA},
        {"half an entry", with_head({0, 0, 1, 0}, 21, 1), 0, 0, ZEBERR_NO_DATA},
        {"error status, no count", Bytes{0x07, 0x00}, 30, 0, 7},
        {"status cut short", Bytes{0x00}, 30, 0, ZEBERR_NO_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedSimNetwork net;
        net->add_peer(kModule, answer_with(c.reply));
        IpDevice dev(kModule);
        ZEBMemoryArea areas[31];
        std::memset(areas, kUnset, sizeof areas);
        uint16_t count = 30;
        EXPECT_EQ(ZEBENumMemory(&dev.device, &count, areas), c.result);
        EXPECT_EQ(count, c.count_after);
        EXPECT_TRUE(all_are(areas[0].Data, 22 * c.filled, 1));
        EXPECT_TRUE(all_are(areas[c.filled].Data, 22 * (31 - c.filled), kUnset));
    }
}

// ---- Serial pass-through -----------------------------------------------------------------

TEST(Serial, WriteLimitsFollowTheHeaderSizeAndIgnoreNoUpperBits) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0, 0, 0, 0}));
    IpDevice dev(kModule);
    IpDevice wide(kModule, {100, 0, 1});
    Bytes data(0x10010, 1);
    struct Limit {
        const char* name;
        std::function<uint32_t(ZEBDevice*, uint32_t)> write;
        uint32_t largest;  // with the 9-byte header
    };
    const Limit limits[] = {
        {"plain", [&](ZEBDevice* d, uint32_t n) { return ZEBWriteComm(d, n, data.data()); }, 187},
        {"Ex", [&](ZEBDevice* d, uint32_t n) { return ZEBWriteCommEx(d, 1, n, data.data()); }, 186},
        {"combined",
         [&](ZEBDevice* d, uint32_t n) {
             return ZEBAccessComm(d, n, data.data(), nullptr, nullptr);
         },
         1487},
    };
    for (const Limit& l : limits) {
        SCOPED_TRACE(l.name);
        net->clear_records();
        EXPECT_EQ(l.write(&dev.device, l.largest), 0u);
        EXPECT_EQ(l.write(&wide.device, l.largest - 7), 0u);
        ASSERT_EQ(net->sent().size(), 2u);
        EXPECT_EQ(net->sent()[0].bytes.size(), net->sent()[1].bytes.size());
        EXPECT_EQ(l.write(&dev.device, l.largest + 1), ZEBERR_PACKET_TOO_LARGE);
        EXPECT_EQ(l.write(&wide.device, l.largest - 6), ZEBERR_PACKET_TOO_LARGE);
        EXPECT_EQ(l.write(&dev.device, 0x10000 + 3), ZEBERR_PACKET_TOO_LARGE);
        EXPECT_EQ(net->sent().size(), 2u);
    }
    EXPECT_EQ(ZEBWriteComm(&dev.device, 3, nullptr), ZEBERR_BAD_PARAMETER);
}

TEST(Serial, PortsAreSentAsTheirLowByteLessOne) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0, 0}));
    IpDevice dev(kModule);
    for (uint32_t port : {1u, 2u, 0u, 257u}) ZEBFlushRXQueueEx(&dev.device, port);
    ASSERT_EQ(net->sent().size(), 4u);
    EXPECT_EQ(payload_of(net->sent()[0].bytes)[2], 0x00);
    EXPECT_EQ(payload_of(net->sent()[1].bytes)[2], 0x01);
    EXPECT_EQ(payload_of(net->sent()[2].bytes)[2], 0xFF);
    EXPECT_EQ(payload_of(net->sent()[3].bytes)[2], 0x00);
}

TEST(Serial, ReadsDeliverAtMostWhatWasAskedForAndWhatArrived) {
    struct Case {
        const char* name;
        Bytes reply;
        uint16_t wanted;
        uint16_t count_after;
        size_t filled;
        uint32_t result;
    };
    const Case cases[] = {
        {"fewer waiting than asked for", with_head({0, 0, 12, 0}, 12, 1), 100, 12, 12, 0},
        {"count above the bytes carried", with_head({0, 0, 150, 0}, 3, 1), 100, 3, 3,
         ZEBERR_NO_DATA},
        {"count above the bytes asked for", with_head({0, 0, 187, 0}, 187, 1), 10, 10, 10,
         ZEBERR_BUFFER_TOO_SMALL},
        {"error status, no count", Bytes{0x09, 0x00}, 100, 100, 0, 9},
        {"status cut short", Bytes{0x00}, 100, 100, 0, ZEBERR_NO_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedSimNetwork net;
        auto calls = std::make_shared<int>(0);
        net->add_peer(kModule, [=](const Datagram& d, PeerReply& out) {
            const Bytes good = with_head({0, 0, 187, 0}, 187, kOld);
            out.send(make_reply(sequence_of(d.bytes), (*calls)++ ? c.reply : good));
        });
        IpDevice dev(kModule);
        Bytes buf(200, kUnset);
        uint16_t count = 187;
        EXPECT_EQ(ZEBReadCommEx(&dev.device, 1, &count, buf.data()), 0u);
        std::fill(buf.begin(), buf.end(), kUnset);
        count = c.wanted;
        EXPECT_EQ(ZEBReadComm(&dev.device, &count, buf.data()), c.result);
        EXPECT_EQ(count, c.count_after);
        EXPECT_TRUE(all_are(buf.data(), c.filled, 1));
        EXPECT_TRUE(all_are(buf.data() + c.filled, buf.size() - c.filled, kUnset));
    }
    ScopedSimNetwork net;
    IpDevice dev(kModule);
    uint8_t b;
    EXPECT_EQ(ZEBReadComm(&dev.device, nullptr, &b), ZEBERR_BAD_PARAMETER);
    // Asked for bytes with nowhere to put them, the module would hand them over from its
    // queue and they would be lost.
    uint16_t wanted = 12;
    EXPECT_EQ(ZEBReadComm(&dev.device, &wanted, nullptr), ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(ZEBReadCommEx(&dev.device, 2, &wanted, nullptr), ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(wanted, 12);
    EXPECT_TRUE(net->sent().empty());
}

TEST(Serial, QueueCountsAreStoredOnlyWhenTheyArrived) {
    ScopedSimNetwork net;
    auto replies = std::make_shared<std::vector<Bytes>>(
        std::vector<Bytes>{{0x07, 0x00}, {0x00, 0x00, 0x05}, {0x00, 0x00, 0x05, 0x00}});
    net->add_peer(kModule, [replies](const Datagram& d, PeerReply& out) {
        out.send(make_reply(sequence_of(d.bytes), replies->front()));
        replies->erase(replies->begin());
    });
    IpDevice dev(kModule);
    uint16_t left = 0xCCCC;
    EXPECT_EQ(ZEBGetTXLeft(&dev.device, &left), 7u);
    EXPECT_EQ(ZEBGetRXAvailableEx(&dev.device, 1, &left), ZEBERR_NO_DATA);
    EXPECT_EQ(left, 0xCCCC);
    EXPECT_EQ(ZEBGetRXAvailable(&dev.device, nullptr), 0u);
}

TEST(Serial, SetupReadBackShorterThanTheRecordDeliversNothing) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({1, 2, 3, 4, 5}));
    IpDevice dev(kModule);
    ZEBSerialSetup setup;
    std::memset(&setup, kUnset, sizeof setup);
    EXPECT_EQ(ZEBReadSerialPortSetup(&dev.device, &setup), ZEBERR_NO_DATA);
    EXPECT_TRUE(all_are(setup.Data, 8, kUnset));
}

TEST(Serial, SetupWithWaitTakesTheLateFinalStatusAndRestoresTheTimeout) {
    const ZEBSerialSetup line = {{1, 2, 3, 4, 5, 6, 7, 8}};
    ScopedSimNetwork net;
    // The final status comes 5 s later: long past Timeout, well within the extra time.
    // The acknowledgement must differ from the final reply, or it would pass for a duplicate.
    net->add_peer(kModule, acknowledge_then({0x23, 0x85}, {0x03, 0x00}, 1, 5000));
    IpDevice dev(kModule, {20, 0, 0});
    EXPECT_EQ(ZEBSetupSerialPortEx(&dev.device, 2, &line, 1), 3u);
    EXPECT_EQ(+dev.device.Timeout, 20);
    // A wait whose low byte is 0 still asks the module for its final status.
    EXPECT_EQ(ZEBSetupSerialPort(&dev.device, &line, 0x100), 3u);
    EXPECT_EQ(payload_of(net->sent()[1].bytes)[2], 1);
    EXPECT_EQ(ZEBSetupSerialPort(&dev.device, nullptr, 1), ZEBERR_BAD_PARAMETER);

    // A silent module: the acknowledgement is awaited 10 ms longer, and the time-out restored.
    ScopedSimNetwork silent;
    IpDevice quiet(kModule, {100, 0, 0});
    const uint64_t start = silent->now();
    EXPECT_EQ(ZEBSetupSerialPortEx(&quiet.device, 1, &line, 1), ZEBERR_TIMEOUT);
    EXPECT_EQ(silent->now() - start, 110u);
    EXPECT_EQ(+quiet.device.Timeout, 100);

    // Re-sends are not reported.
    ScopedSimNetwork lossy;
    lossy->add_peer(kModule, lose_first(1, acknowledge_then({0x23, 0x05}, {0, 0})));
    IpDevice retried(kModule, {100, 1, 0});
    EXPECT_EQ(ZEBSetupSerialPort(&retried.device, &line, 1), 0u);
    EXPECT_EQ(+retried.device.ResendCount, 1);
}

TEST(Serial, CombinedExchangeDeliversOnlyWhatArrivedAndNeedsBothReplyPointers) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with(with_head({0x04, 0x00, 0xE8, 0x03}, 3, 1)));
    IpDevice dev(kModule);
    const uint8_t out[] = {1};
    uint16_t room = 10;
    // A null reply buffer: only the status counts, and the count is left alone.
    EXPECT_EQ(ZEBAccessComm(&dev.device, 1, out, &room, nullptr), 4u);
    EXPECT_EQ(room, 10);
    // Claims 1000 bytes, carries 3.
    uint8_t buf[11];
    std::memset(buf, kUnset, sizeof buf);
    EXPECT_EQ(ZEBAccessComm(&dev.device, 1, out, &room, buf), 4u);
    EXPECT_EQ(room, 3);
    EXPECT_TRUE(all_are(buf, 3, 1));
    EXPECT_TRUE(all_are(buf + 3, 8, kUnset));
    EXPECT_EQ(net->sent().size(), 2u);
}

}  // namespace
}  // namespace zebtest
