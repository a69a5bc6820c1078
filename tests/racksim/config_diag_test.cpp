// The configuration block (0x61, 0x62) and diagnostics: keep-alive (0x14), Ethernet statistics
// (0x0E) and module status (0x17).
#include <gtest/gtest.h>

#include <memory>

#include "diagnostics.h"
#include "functions.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::ask_one;
using test::kModuleA;
using test::u16_at;
using test::u32_at;

TEST(ConfigBlock, IsReadAndWrittenWholeWithAStatusWord) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask_one(rack, kModuleA, {0x62}).payload, (Bytes{0, 0}));
    EXPECT_EQ(ask_one(rack, kModuleA, {0x61, 1, 2, 3}).payload, (Bytes{0, 0, 1, 2, 3}));
    EXPECT_EQ(ask_one(rack, kModuleA, {0x62}).payload, (Bytes{0, 0, 1, 2, 3}));
    // The block is opaque: asking for the extended item format changes nothing.
    EXPECT_EQ(ask_one(rack, kModuleA, {0x62, 0xB1}).payload, (Bytes{0, 0, 1, 2, 3}));
    EXPECT_EQ(ask_one(rack, test::kModuleB, {0x62}).payload, (Bytes{0, 0}));
    // An empty write empties it.
    EXPECT_EQ(ask_one(rack, kModuleA, {0x61}).payload, (Bytes{0, 0}));
    EXPECT_TRUE(rack.module(0).config.empty());
}

TEST(ConfigBlock, HoldsOnlyWhatAHostCanReadBack) {
    Rack rack = test::three_modules();
    Bytes largest{0x61};
    largest.resize(1 + 1189, 0x5A);
    const auto replies = ask(rack, kModuleA, largest);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].payload.size() + kHeaderSize, 1200u);  // a host's reply buffer
    Bytes over = largest;
    over.push_back(0x5A);
    // Refused with 0x8105 alone; the block in force stays.
    EXPECT_EQ(ask_one(rack, kModuleA, over).payload, (Bytes{0x05, 0x81}));
    EXPECT_EQ(rack.module(0).config, Bytes(1189, 0x5A));
}

class Diagnosed : public ::testing::Test {
  protected:
    Diagnosed() : rack(test::three_modules()) { rack.set_clock(clock); }
    Bytes stats(uint8_t option = 0) {
        const test::Reply r = ask_one(rack, kModuleA, {0x0E, 0x00, option});
        return r.payload;
    }
    Bytes status(uint8_t option = 0) {
        const test::Reply r = ask_one(rack, kModuleA, {0x17, 0x00, option});
        EXPECT_EQ(r.status(), kStatusOk);
        return r.after_status();
    }
    std::shared_ptr<test::ManualClock> clock = std::make_shared<test::ManualClock>();
    Rack rack;
};

TEST_F(Diagnosed, KeepAlivesAreAnsweredAndCounted) {
    EXPECT_EQ(ask_one(rack, kModuleA, {0x14, 0x00}).payload, (Bytes{0, 0, 1, 0, 0, 0}));
    clock->now += 250;
    EXPECT_EQ(ask_one(rack, kModuleA, {0x14, 0x00}).payload, (Bytes{0, 0, 2, 0, 0, 0}));
    clock->now += 40;
    const Bytes s = status();
    EXPECT_EQ(u32_at(s, 20), 2u);   // keep-alives
    EXPECT_EQ(u32_at(s, 24), 40u);  // ms since the last
    EXPECT_EQ(u32_at(Diagnosed::status(), 24), 40u);
    // A module never petted says so.
    EXPECT_EQ(u32_at(ask_one(rack, test::kModuleB, {0x17, 0, 0}).after_status(), 24 + 0),
              0xFFFFFFFFu);
}

TEST_F(Diagnosed, EthernetStatisticsCountTheTrafficTheModuleSees) {
    const Bytes dev_def = make_request(1, {0x04}, true);
    rack.handle(kModuleA, dev_def.data(), dev_def.size());  // 10 bytes in, 9 + 42 out
    rack.handle(kModuleA, dev_def.data(), dev_def.size());
    const Bytes query = make_request(2, {0x05}, true);
    rack.handle(kBroadcastIp, query.data(), query.size());  // every module: 10 in, 9 + 14 out
    Bytes damaged = dev_def;
    damaged[5] ^= 0xFF;
    rack.handle(kModuleA, damaged.data(), damaged.size());
    const Bytes runt = {'Z', 'Q', 'K', 1};
    rack.handle(kModuleA, runt.data(), runt.size());
    rack.handle(test::kModuleB, dev_def.data(), dev_def.size());  // not seen by A
    rack.module(0).faults.drop_first = 1;
    rack.handle(kModuleA, dev_def.data(), dev_def.size());  // lost before the module read it
    clock->now += 5500;

    const Bytes s = stats();
    ASSERT_EQ(s.size(), kEthernetStatsSize);
    EXPECT_EQ(u16_at(s, 0), kEthernetStatsSize);
    EXPECT_EQ(u16_at(s, 2), 1u);
    EXPECT_EQ(u32_at(s, 4), 6u);                       // frames in, this request included
    EXPECT_EQ(u32_at(s, 8), 3u);                       // frames out
    EXPECT_EQ(u32_at(s, 12), 10u * 4 + 4 + 12);        // bytes in
    EXPECT_EQ(u32_at(s, 16), 2u * (9 + 42) + 9 + 14);  // bytes out
    EXPECT_EQ(u32_at(s, 20), 1u);                      // broadcast
    EXPECT_EQ(u32_at(s, 24), 1u);                      // CRC errors
    EXPECT_EQ(u32_at(s, 28), 1u);                      // other bad frames
    EXPECT_EQ(u32_at(s, 32), 1u);                      // missed
    EXPECT_EQ(u32_at(s, 36), 5u);                      // seconds since cleared
    EXPECT_TRUE(std::equal(s.begin() + 40, s.begin() + 46, rack.module(0).identity.hw.begin()));
    EXPECT_EQ(u16_at(s, 46), 100u);

    // Option 1 clears the counters once read; the reply that said so is the first one out.
    EXPECT_EQ(u32_at(stats(1), 4), 7u);
    const Bytes after = stats();
    EXPECT_EQ(u32_at(after, 4), 1u);
    EXPECT_EQ(u32_at(after, 8), 1u);
    EXPECT_EQ(u32_at(after, 36), 0u);
}

TEST_F(Diagnosed, ModuleStatusSaysHowTheModuleIsDoing) {
    rack.module(0).faults.drop_first = 1;
    ask(rack, kModuleA, {0x04});  // lost
    ask(rack, kModuleA, {0x0C, 0x00, 0x30, 0x00, 7});
    ask(rack, kModuleA, {0x61, 1, 2, 3, 4});
    clock->now += 1234;
    Bytes s = status();
    ASSERT_EQ(s.size(), kModuleStatusSize);
    EXPECT_EQ(u16_at(s, 0), kModuleStatusSize);
    EXPECT_EQ(u32_at(s, 4), 1234u);  // uptime
    EXPECT_EQ(s[8], kKindQxRio);
    EXPECT_EQ(s[9], 0);  // the installed base
    EXPECT_EQ(s[10], 8);
    EXPECT_EQ(s[11], 5);
    EXPECT_EQ(u32_at(s, 12), 4u);  // requests, this one included
    EXPECT_EQ(u32_at(s, 16), 1u);  // lost
    EXPECT_EQ(u16_at(s, 28), 3u);  // setup records
    EXPECT_EQ(u16_at(s, 30), 4u);  // configuration bytes

    // A base written by a host, until init restores the installed one.
    ask(rack, kModuleA, {0x0F, 0x00, 0x09, 0x00, 0x00, 0x14, 0x01, 0x23, 8, 8, 0, 0, 0xFF});
    EXPECT_EQ(status()[9], 1);
    ask(rack, kModuleA, {0x18});
    EXPECT_EQ(status()[9], 0);

    // Option 1 clears the counters once read.
    EXPECT_EQ(u32_at(status(1), 12), 9u);
    s = status();
    EXPECT_EQ(u32_at(s, 12), 1u);
    EXPECT_EQ(u32_at(s, 16), 0u);
    // The extended-format flag changes nothing in a block without items.
    EXPECT_EQ(ask_one(rack, kModuleA, {0x17, 0x01, 0x00}).payload.size(), 2 + kModuleStatusSize);
}

TEST_F(Diagnosed, UptimeStartsWithTheClock) {
    clock->now += 60000;
    auto fresh = std::make_shared<test::ManualClock>();
    fresh->now = 5;
    rack.set_clock(fresh);
    fresh->now = 105;
    EXPECT_EQ(u32_at(status(), 4), 100u);
}

}  // namespace
}  // namespace racksim
