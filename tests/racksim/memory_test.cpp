// Typed memory and shared RAM: block reads and writes with their refusals, the listing, and
// batched access that is carried out whole or not at all.
#include <gtest/gtest.h>

#include "functions.h"
#include "statuses.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask_one;
using test::concat;
using test::kModuleA;

Bytes read_memory(uint16_t type, uint32_t address, uint16_t count) {
    Bytes b{0x25, 0x00};
    put_u16(b, type);
    put_u16(b, count);
    put_u32(b, address);
    return b;
}

Bytes write_memory(uint16_t type, uint32_t address, const Bytes& data) {
    Bytes b{0x24, 0x00};
    put_u16(b, type);
    put_u16(b, static_cast<uint16_t>(data.size()));
    put_u32(b, address);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Item {
    uint8_t direction;
    uint16_t type;
    uint32_t address;
    Bytes data;  // a write's bytes; for a read, only its size counts
};

Bytes item_head(const Item& it) {
    Bytes b{it.direction};
    put_u16(b, it.type);
    put_u32(b, it.address);
    put_u16(b, static_cast<uint16_t>(it.data.size()));
    return b;
}

Bytes batch(const std::vector<Item>& items) {
    Bytes b{0x27, 0x00};
    put_u16(b, static_cast<uint16_t>(items.size()));
    for (const Item& it : items) {
        const Bytes head = item_head(it);
        b.insert(b.end(), head.begin(), head.end());
        if (it.direction == 1) b.insert(b.end(), it.data.begin(), it.data.end());
    }
    return b;
}

Bytes status_and(uint16_t status, const Bytes& rest = {}) {
    Bytes b;
    put_u16(b, status);
    return concat({b, rest});
}

Bytes u16_bytes(uint16_t v) {
    Bytes b;
    put_u16(b, v);
    return b;
}

Bytes& ram(Rack& rack) {
    return rack.module(0).memory.areas.at(0).data;  // type 1, 0 to 2047
}

TEST(Memory, ReadDeliversTheBlockAndARunPastTheEndIsPaddedAndMarked) {
    Rack rack = test::three_modules();
    ram(rack)[2046] = 0x11;
    ram(rack)[2047] = 0x22;
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(1, 2046, 2)).payload,
              status_and(0, {0x11, 0x22}));
    // Exactly the count asked for: what the area holds, then zeros.
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(1, 2046, 5)).payload,
              status_and(kStatusPartialRead, {0x11, 0x22, 0, 0, 0}));
    // The ROM at 0x8000 holds 0, 1, 2, ...
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(3, 0x80FE, 3)).payload,
              status_and(kStatusPartialRead, {0xFE, 0xFF, 0x00}));
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(1, 0, 0)).payload, status_and(0));
}

TEST(Memory, BlocksOutsideEveryAreaUnknownTypesAndOversizedReadsAreRefusedWithoutData) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(1, 2048, 1)).payload,
              status_and(kStatusOutsideArea));
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(3, 0x7FFF, 2)).payload,
              status_and(kStatusOutsideArea));
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(3, 0xFFFFFFFF, 2)).payload,
              status_and(kStatusOutsideArea));
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(7, 0, 1)).payload, status_and(kStatusNoSuchArea));
    // 589 bytes fill a host's 600-byte reply; one more would not fit.
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(1, 0, 589)).payload.size(), 591u);
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(1, 0, 590)).payload,
              status_and(kStatusAnswerTooLarge));
}

TEST(Memory, WritesLandWholeOrNotAtAll) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask_one(rack, kModuleA, write_memory(1, 100, {1, 2, 3})).payload, status_and(0));
    EXPECT_EQ(ask_one(rack, kModuleA, read_memory(1, 99, 5)).payload,
              status_and(0, {0, 1, 2, 3, 0}));
    const Bytes before = ram(rack);
    const Bytes rom = rack.module(0).memory.areas.at(2).data;
    EXPECT_EQ(ask_one(rack, kModuleA, write_memory(1, 2046, {9, 9, 9})).payload,
              status_and(kStatusOutsideArea));
    EXPECT_EQ(ask_one(rack, kModuleA, write_memory(3, 0x8000, {9})).payload,
              status_and(kStatusAreaReadOnly));
    EXPECT_EQ(ask_one(rack, kModuleA, write_memory(9, 0, {9})).payload,
              status_and(kStatusNoSuchArea));
    // A count that disagrees with the data carried.
    Bytes short_data = write_memory(1, 0, {9, 9});
    short_data.pop_back();
    EXPECT_EQ(ask_one(rack, kModuleA, short_data).payload, status_and(kStatusMalformed));
    EXPECT_EQ(ask_one(rack, kModuleA, concat({write_memory(1, 0, {9}), {9}})).payload,
              status_and(kStatusMalformed));
    EXPECT_EQ(ram(rack), before);
    EXPECT_EQ(rack.module(0).memory.areas.at(2).data, rom);
}

TEST(Memory, ListingEntriesNameEachArea) {
    Rack rack = test::three_modules();
    const Bytes payload = ask_one(rack, kModuleA, {0x26}).payload;
    ASSERT_EQ(payload.size(), 4u + 3 * kMemoryEntrySize);
    EXPECT_EQ(get_u16(&payload[0]), 0);
    EXPECT_EQ(get_u16(&payload[2]), 3);
    // The ROM: type 3, from 0x8000, 256 bytes, readable only, "ROM".
    const Bytes rom(payload.begin() + 4 + 2 * kMemoryEntrySize, payload.end());
    EXPECT_EQ(rom, concat({{3, 0, 0x00, 0x80, 0, 0, 0x00, 0x01, 0, 0, 0x01, 0x00},
                           {'R', 'O', 'M', 0, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(payload[4 + 10], 0x03);  // RAM: readable and writable

    // A module with more areas than a reply holds lists the first ones and says so.
    Memory& m = rack.module(0).memory;
    m.areas.clear();
    for (uint16_t t = 0; t < kMaxMemoryAreas + 1; ++t)
        m.areas.push_back({t, 0, Bytes(4), true, ""});
    const Bytes full = ask_one(rack, kModuleA, {0x26}).payload;
    EXPECT_EQ(full.size(), 4 + kMaxMemoryAreas * kMemoryEntrySize);
    EXPECT_EQ(get_u16(&full[0]), kStatusAnswerTooLarge);
    EXPECT_EQ(get_u16(&full[2]), kMaxMemoryAreas);
}

TEST(MemoryBatch, ItemsRunInOrderAndOnlyReadsAreAnswered) {
    Rack rack = test::three_modules();
    const std::vector<Item> items = {
        {1, 1, 10, {0xAA, 0xBB}},
        {0, 1, 9, Bytes(4)},  // sees the write before it
        {0, 3, 0x8010, Bytes(2)},
        {1, 2, 0, {0x5A}},
    };
    const Bytes payload = ask_one(rack, kModuleA, batch(items)).payload;
    EXPECT_EQ(payload, concat({status_and(0, u16_bytes(2)),
                               item_head(items[1]),
                               {0, 0xAA, 0xBB, 0},
                               item_head(items[2]),
                               {0x10, 0x11}}));
    EXPECT_EQ(rack.module(0).memory.areas.at(1).data[0], 0x5A);
    EXPECT_EQ(ask_one(rack, kModuleA, batch({})).payload, status_and(0, u16_bytes(0)));
    EXPECT_EQ(ask_one(rack, kModuleA, batch({{1, 1, 0, {1}}})).payload,
              status_and(0, u16_bytes(0)));
    // A read running past the end is answered like a single read, and marked.
    EXPECT_EQ(ask_one(rack, kModuleA, batch({{0, 1, 2047, Bytes(2)}})).payload,
              concat({status_and(kStatusPartialRead, u16_bytes(1)),
                      item_head({0, 1, 2047, Bytes(2)}),
                      {0, 0}}));
}

TEST(MemoryBatch, OneRefusedItemRefusesTheWholeBatchBeforeAnythingIsWritten) {
    Rack rack = test::three_modules();
    const Item good_write{1, 1, 0, {7, 7}};
    const struct {
        Item bad;
        uint16_t status;
    } cases[] = {
        {{1, 3, 0x8000, {1}}, kStatusAreaReadOnly},
        {{1, 1, 2047, {1, 2}}, kStatusOutsideArea},
        {{0, 1, 4096, {1}}, kStatusOutsideArea},
        {{0, 8, 0, {1}}, kStatusNoSuchArea},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(ask_one(rack, kModuleA, batch({good_write, c.bad})).payload,
                  status_and(c.status, u16_bytes(0)));
        EXPECT_EQ(ram(rack)[0], 0);
    }
    // Reads whose answer would not fit the host's reply: 4 + 2 x (9 + 290) = 602 bytes.
    EXPECT_EQ(
        ask_one(rack, kModuleA, batch({good_write, {0, 1, 0, Bytes(290)}, {0, 1, 0, Bytes(290)}}))
            .payload,
        status_and(kStatusAnswerTooLarge, u16_bytes(0)));
    EXPECT_EQ(ram(rack)[0], 0);
    // 4 + 9 + 578 = 591 bytes fit.
    EXPECT_EQ(ask_one(rack, kModuleA, batch({{0, 1, 0, Bytes(578)}})).payload.size(), 591u);
}

TEST(MemoryBatch, MalformedStreamsAreRefusedAndChangeNothing) {
    Rack rack = test::three_modules();
    const Bytes good = batch({{1, 1, 0, {1, 2}}, {0, 1, 0, Bytes(2)}});
    Bytes more_items_than_sent = good;
    more_items_than_sent[2] = 3;
    Bytes fewer_items_than_sent = good;
    fewer_items_than_sent[2] = 1;
    Bytes bad_direction = good;
    bad_direction[4] = 2;
    Bytes write_count_beyond_data = batch({{1, 1, 0, {1, 2}}});
    write_count_beyond_data[4 + 7] = 3;
    for (const Bytes& request : {more_items_than_sent, fewer_items_than_sent, bad_direction,
                                 write_count_beyond_data, Bytes{0x27, 0x00, 0x01}}) {
        SCOPED_TRACE(::testing::PrintToString(request));
        EXPECT_EQ(ask_one(rack, kModuleA, request).payload, status_and(kStatusMalformed));
    }
    EXPECT_EQ(ram(rack)[0], 0);
}

// ---- Shared RAM ----

Bytes shared(uint8_t code, uint8_t flag, uint16_t base, uint16_t slot, uint16_t address,
             uint16_t count, const Bytes& data = {}) {
    Bytes b{code, flag};
    put_u16(b, base);
    put_u16(b, slot);
    put_u16(b, address);
    put_u16(b, count);
    return concat({b, data});
}

Bytes read_shared(uint8_t flag, uint16_t address, uint16_t count, uint16_t slot = 0) {
    return shared(0x28, flag, 0, slot, address, count);
}

Bytes write_shared(uint8_t flag, uint16_t address, const Bytes& data, uint16_t slot = 0) {
    return shared(0x29, flag, 0, slot, address, static_cast<uint16_t>(data.size()), data);
}

TEST(SharedRam, TheFlagSelectsAWindowOfItsOwn) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask_one(rack, kModuleA, write_shared(1, 0x30, {1, 2, 3})).payload, status_and(0));
    EXPECT_EQ(ask_one(rack, kModuleA, write_shared(0, 0x30, {4})).payload, status_and(0));
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(1, 0x30, 3)).payload, status_and(0, {1, 2, 3}));
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(0, 0x30, 3)).payload, status_and(0, {4, 0, 0}));
    const SharedRamRegion& r = rack.module(0).shared_ram.regions.at({0, 0});
    EXPECT_EQ(r.flagged[0x32], 3);
    EXPECT_EQ(r.plain[0x30], 4);
}

TEST(SharedRam, RefusalsAndRunsPastTheEnd) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(0, 0, 4, 1)).payload,
              status_and(kStatusNoSuchArea));
    EXPECT_EQ(ask_one(rack, kModuleA, write_shared(0, 0, {1}, 1)).payload,
              status_and(kStatusNoSuchArea));
    // 1 KiB windows: an address with bit 15 set is outside any window.
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(0, 1024, 1)).payload,
              status_and(kStatusOutsideArea));
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(0, 0x8030, 1)).payload,
              status_and(kStatusOutsideArea));
    EXPECT_EQ(ask_one(rack, kModuleA, write_shared(1, 1023, {1, 2})).payload,
              status_and(kStatusOutsideArea));
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(1, 1022, 4)).payload,
              status_and(kStatusPartialRead, {0, 0, 0, 0}));
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(1, 0, 590)).payload,
              status_and(kStatusAnswerTooLarge));
    Bytes flag_two = read_shared(1, 0, 1);
    flag_two[1] = 2;
    Bytes short_data = write_shared(1, 0, {1, 2});
    short_data.pop_back();
    for (const Bytes& request :
         {flag_two, short_data, concat({read_shared(1, 0, 1), {0}}), Bytes{0x28, 0x01, 0x00}}) {
        EXPECT_EQ(ask_one(rack, kModuleA, request).payload, status_and(kStatusMalformed));
    }
    EXPECT_EQ(rack.module(0).shared_ram.regions.at({0, 0}).flagged[1023], 0);
}

// What lives behind a window sees every write that lands and can answer in it: here a command
// byte written at 0x30 is marked done in the byte after it, with the access it came from.
TEST(SharedRam, HooksSeeWritesThatLandAndUpdateTheBytesBeforeAReadIsAnswered) {
    Rack rack = test::three_modules();
    std::vector<SharedRamAccess> writes;
    int reads = 0;
    SharedRamRegion& region = rack.module(0).shared_ram.regions.at({0, 0});
    region.after_write = [&](Context& ctx, SharedRamRegion& r, const SharedRamAccess& a) {
        writes.push_back(a);
        EXPECT_EQ(&ctx.module, &rack.module(0));
        if (a.flagged && a.address == 0x30 && r.flagged[0x30] != 0) r.flagged[0x31] = 2;
    };
    region.before_read = [&](Context&, SharedRamRegion& r, const SharedRamAccess&) {
        r.flagged[0x33] = static_cast<uint8_t>(++reads);
    };
    EXPECT_EQ(ask_one(rack, kModuleA, write_shared(1, 0x30, {6, 0})).payload, status_and(0));
    EXPECT_EQ(ask_one(rack, kModuleA, read_shared(1, 0x30, 4)).payload,
              status_and(0, {6, 2, 0, 1}));
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_TRUE(writes[0].flagged);
    EXPECT_EQ(writes[0].address, 0x30);
    EXPECT_EQ(writes[0].count, 2);
    // Refused accesses reach no hook.
    ask_one(rack, kModuleA, write_shared(1, 1023, {1, 2}));
    ask_one(rack, kModuleA, read_shared(1, 2000, 1));
    EXPECT_EQ(writes.size(), 1u);
    EXPECT_EQ(reads, 1);
}

}  // namespace
}  // namespace racksim
