// I/O exchange: reading inputs, writing outputs, both item formats, and hostile streams.
#include <gtest/gtest.h>

#include <random>

#include "io_image.h"
#include "test_util.h"

namespace racksim {
namespace {

using test::ask;
using test::ask_one;
using test::concat;
using test::kModuleA;

// Alpha with recognisable inputs.
Rack alpha_with_inputs() {
    Rack rack = test::three_modules();
    Module& m = rack.module(0);
    m.slot(0).io.bit_in = {0x81, 0x02};
    m.slot(1).io.bit_in = {0x5A};
    m.slot(4).io.word_in = {0x1234, 2, 3, 0xFFFF};
    m.slot(5).io.dword_in = {0xA1B2C3D4, 7};
    return rack;
}

const Bytes kWords = {0x34, 0x12, 2, 0, 3, 0, 0xFF, 0xFF};
const Bytes kDwords = {0xD4, 0xC3, 0xB2, 0xA1, 7, 0, 0, 0};

TEST(ReadIo, CompactStreamCountsElements) {
    Rack rack = alpha_with_inputs();
    const test::Reply r = ask_one(rack, kModuleA, {0x07});
    EXPECT_EQ(r.status(), 0);
    const Bytes expected = concat({{0x00, 0x32, 0x81, 0x02},  // slot 0: 2 bytes of bits
                                   {0x01, 0x31, 0x5A},        // slot 1
                                   {0x04, 0x54},
                                   kWords,  // slot 4: 4 words
                                   {0x05, 0x82},
                                   kDwords,  // slot 5: 2 32-bit values
                                   {0xFF}});
    EXPECT_EQ(r.after_status(), expected);
}

TEST(ReadIo, ExtendedStreamCountsBytes) {
    Rack rack = alpha_with_inputs();
    const test::Reply r = ask_one(rack, kModuleA, {0x07, 0xB1});
    EXPECT_EQ(r.status(), 0);
    const Bytes expected = concat({{0xB1, 0x00},
                                   {0x00, 0x00, 0x03, 0x02, 0x81, 0x02},
                                   {0x00, 0x01, 0x03, 0x01, 0x5A},
                                   {0x00, 0x04, 0x05, 0x08},
                                   kWords,
                                   {0x00, 0x05, 0x08, 0x08},
                                   kDwords,
                                   {0xFF}});
    EXPECT_EQ(r.after_status(), expected);
}

TEST(ReadIo, ModuleWithoutInputsSendsJustTheEnd) {
    Rack rack = test::three_modules();
    EXPECT_EQ(ask_one(rack, test::kModuleC, {0x07}).payload, (Bytes{0, 0, 0xFF}));
    EXPECT_EQ(ask_one(rack, test::kModuleC, {0x07, 0xB1}).payload, (Bytes{0, 0, 0xB1, 0, 0xFF}));
}

TEST(ReadIo, LongItemsAreSplitToFitTheirHeaders) {
    Module m("m", 1);
    m.base.base_slots = 32;
    m.add_slot(0, SlotRecord::basic(1, 0, 0, 40, 0));
    m.add_slot(1, SlotRecord::basic(1, 0, 0, 200, 0));
    m.add_slot(17, SlotRecord::basic(1, 8, 0, 0, 0));

    const Bytes compact = encode_inputs(m, false);
    // Slot 0: 15 + 15 + 10 words; slot 1: 13 items; slot 17 forces the switch.
    ASSERT_GE(compact.size(), 2u);
    EXPECT_EQ(compact[0], 0x00);
    EXPECT_EQ(compact[1], 0x5F);
    EXPECT_EQ(compact[2 + 30], 0x5F);
    EXPECT_EQ(compact[2 + 30 + 1 + 30], 0x5A);
    size_t slot1_bytes = 0;
    int last_slot = -1;
    const char* why = "";
    ASSERT_TRUE(read_io_stream(
        compact.data(), compact.size(),
        [&](const ValueItem& it) {
            if (it.slot == 1) {
                EXPECT_EQ(it.offset, slot1_bytes);  // each item continues the one before
                slot1_bytes += it.size;
            }
            last_slot = it.slot;
        },
        &why));
    EXPECT_EQ(slot1_bytes, 400u);
    EXPECT_EQ(last_slot, 17);

    const Bytes extended = encode_inputs(m, true);
    // B1 00 | 00 00 | 05 50 (80 bytes) ... | 00 01 | 05 FE (127 words) | 05 92 (73 words)
    EXPECT_EQ(extended[4], 0x05);
    EXPECT_EQ(extended[5], 80);
    EXPECT_EQ(extended[6 + 80 + 2], 0x05);
    EXPECT_EQ(extended[6 + 80 + 3], 254);
    EXPECT_EQ(extended[6 + 80 + 4 + 254], 0x05);
    EXPECT_EQ(extended[6 + 80 + 4 + 254 + 1], 146);
}

// A module like the host-side example: slot 2 with 16 bit outputs and 2 word outputs.
Rack outputs_rack() {
    Rack rack;
    Module m("out", 5);
    m.add_slot(2, SlotRecord::basic(0x10, 0, 16, 0, 2));
    m.add_slot(3, SlotRecord::basic(0x11, 12, 12, 0, 0)).behaviour.wired_from = 3;
    rack.add_module(std::move(m));
    return rack;
}

TEST(WriteIo, StoresTheExtendedStreamAndAnswersInKind) {
    Rack rack = outputs_rack();
    const Bytes stream = {0xB1, 0x00, 0x00, 0x02, 0x04, 0x02, 0xA5, 0x0F,
                          0x06, 0x04, 0x34, 0x12, 0xCD, 0xAB, 0xFF};
    const test::Reply r = ask_one(rack, kModuleA, concat({{0x06}, stream}));
    EXPECT_EQ(r.status(), 0);
    const Slot& s = rack.module(0).slot(2);
    EXPECT_EQ(s.io.bit_out, (Bytes{0xA5, 0x0F}));
    EXPECT_EQ(s.io.word_out, (std::vector<uint16_t>{0x1234, 0xABCD}));
    // Inputs come back in the extended format because the outputs went out in it.
    EXPECT_EQ(r.after_status(), (Bytes{0xB1, 0x00, 0x00, 0x03, 0x03, 0x02, 0x00, 0x00, 0xFF}));
}

TEST(WriteIo, StoresTheCompactStream) {
    Rack rack = outputs_rack();
    const Bytes stream = {0x02, 0x42, 0x01, 0x80, 0x62, 0x01, 0x00, 0x02, 0x00, 0xFF};
    const test::Reply r = ask_one(rack, kModuleA, concat({{0x06}, stream}));
    EXPECT_EQ(r.status(), 0);
    const Slot& s = rack.module(0).slot(2);
    EXPECT_EQ(s.io.bit_out, (Bytes{0x01, 0x80}));
    EXPECT_EQ(s.io.word_out, (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(r.after_status(), (Bytes{0x03, 0x32, 0x00, 0x00, 0xFF}));
}

TEST(WriteIo, WiredInputsShowWhatWasWrittenAndSpareBitsStayClear) {
    Rack rack = outputs_rack();
    const test::Reply r =
        ask_one(rack, kModuleA, {0x06, 0xB1, 0x00, 0x00, 0x03, 0x04, 0x02, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(rack.module(0).slot(3).io.bit_out, (Bytes{0xFF, 0x0F}));  // 12 bits only
    EXPECT_EQ(r.after_status(), (Bytes{0xB1, 0x00, 0x00, 0x03, 0x03, 0x02, 0xFF, 0x0F, 0xFF}));
}

TEST(WriteIo, CutsAndDropsWhatDoesNotFit) {
    Rack rack = outputs_rack();
    Bytes req = {0x30, 0xB1, 0x00, 0x04, 0x01, 0x77,                    // before any slot: dropped
                 0x00, 0x09, 0x04, 0x01, 0x77,                          // slot 9: not there
                 0x00, 0x02, 0x06, 0x08, 1,    0,    2, 0, 3, 0, 4, 0,  // 4 words into 2
                 0x04, 0x0A};                                           // 10 bytes of bits into 2
    req.insert(req.end(), 10, 0xEE);
    req.push_back(0xFF);
    const test::Reply r = ask_one(rack, kModuleA, req);
    EXPECT_EQ(r.payload, (Bytes{0x00, 0x00}));  // write without read: status only
    const Slot& s = rack.module(0).slot(2);
    EXPECT_EQ(s.io.word_out, (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(s.io.bit_out, (Bytes{0xEE, 0xEE}));
}

TEST(WriteIo, ConsecutiveItemsContinueEachOther) {
    Rack rack;
    Module m("m", 1);
    m.add_slot(0, SlotRecord::basic(1, 0, 0, 0, 20));
    rack.add_module(std::move(m));
    Bytes req = {0x30, 0x00, 0x6F};
    for (uint16_t i = 0; i < 15; ++i) put_u16(req, i);
    req.push_back(0x65);
    for (uint16_t i = 15; i < 20; ++i) put_u16(req, i);
    req.push_back(0xFF);
    EXPECT_EQ(ask_one(rack, kModuleA, req).status(), 0);
    const auto& out = rack.module(0).slot(0).io.word_out;
    for (uint16_t i = 0; i < 20; ++i) EXPECT_EQ(out[i], i);
}

TEST(WriteIo, MalformedStreamsStoreNothingAndGetNonzeroStatus) {
    const std::vector<std::pair<const char*, Bytes>> bad = {
        {"compact words cut short", {0x06, 0x02, 0x42, 0x01, 0x02, 0x62, 0x01}},
        {"extended odd word bytes", {0x06, 0xB1, 0x00, 0x00, 0x02, 0x06, 0x03, 1, 2, 3, 0xFF}},
        {"extended bits cut short", {0x30, 0xB1, 0x00, 0x00, 0x02, 0x04, 0x05, 1}},
        {"switch without filler", {0x30, 0xB1}},
        {"skipped item cut short", {0x06, 0x02, 0x12, 0x00}},
    };
    for (const auto& [what, req] : bad) {
        Rack rack = outputs_rack();
        const test::Reply r = ask_one(rack, kModuleA, req);
        EXPECT_NE(r.status(), 0) << what;
        EXPECT_EQ(r.payload.size(), 2u) << what;
        EXPECT_EQ(rack.module(0).slot(2).io.bit_out, (Bytes{0, 0})) << what;
    }
}

TEST(WriteIo, InputItemsAndOtherTypesAreNotStored) {
    Rack rack = outputs_rack();
    const Bytes req = {0x30, 0x03, 0x32, 0xFF, 0xFF,  // bit inputs of slot 3: not writable
                       0x70,                          // marker
                       0x21, 0x99,                    // type 2: passed over with its byte
                       0x02, 0x41, 0x3C, 0xFF};
    EXPECT_EQ(ask_one(rack, kModuleA, req).status(), 0);
    EXPECT_EQ(rack.module(0).slot(3).io.bit_in, (Bytes{0, 0}));
    EXPECT_EQ(rack.module(0).slot(2).io.bit_out, (Bytes{0x3C, 0}));
}

TEST(WriteIo, EmptyStreamIsFine) {
    Rack rack = outputs_rack();
    EXPECT_EQ(ask_one(rack, kModuleA, {0x30}).payload, (Bytes{0, 0}));
    EXPECT_EQ(ask_one(rack, kModuleA, {0x06}).status(), 0);
}

TEST(Inputs, CounterCountsEveryRead) {
    Rack rack = test::three_modules();
    rack.module(0).slot(4).behaviour.counter = true;
    rack.module(0).slot(5).behaviour.counter = true;
    rack.module(0).slot(4).io.word_in[0] = 0xFFFF;
    ask(rack, kModuleA, {0x07});
    EXPECT_EQ(rack.module(0).slot(4).io.word_in[0], 0);  // wraps
    ask(rack, kModuleA, {0x06, 0xFF});
    ask(rack, kModuleA, {0x30, 0xFF});  // no read: no count
    EXPECT_EQ(rack.module(0).slot(4).io.word_in[0], 1);
    EXPECT_EQ(rack.module(0).slot(5).io.dword_in[0], 2u);  // no word inputs there
}

TEST(Inputs, CounterUsesThirtyTwoBitInputWithoutWordInputs) {
    Module m("m", 1);
    m.add_slot(0, SlotRecord::wide(1, 0, 0, 1, 0)).behaviour.counter = true;
    refresh_inputs(m);
    refresh_inputs(m);
    EXPECT_EQ(m.slot(0).io.dword_in[0], 2u);
}

TEST(Inputs, WiringMirrorsEveryKindAsFarAsBothExist) {
    Module m("m", 1);
    m.add_slot(0, SlotRecord::full(1, {3, 0, 1, 0, 3, 0})).behaviour.wired_from = 1;
    m.add_slot(1, SlotRecord::full(1, {0, 8, 0, 2, 0, 1}));
    m.add_slot(2, SlotRecord::basic(1, 4, 0, 0, 0)).behaviour.wired_from = 9;  // no such slot
    m.slot(1).io.bit_out = {0xFF};
    m.slot(1).io.word_out = {11, 22};
    m.slot(1).io.dword_out = {33};
    refresh_inputs(m);
    EXPECT_EQ(m.slot(0).io.bit_in, Bytes{0x07});
    EXPECT_EQ(m.slot(0).io.word_in, std::vector<uint16_t>{11});
    EXPECT_EQ(m.slot(0).io.dword_in, (std::vector<uint32_t>{33, 0, 0}));
    EXPECT_EQ(m.slot(2).io.bit_in, Bytes{0});
}

TEST(Robustness, RandomRequestsNeverBreakTheRack) {
    std::mt19937 rng(1234);
    const uint8_t codes[] = {0x01, 0x02, 0x04, 0x05, 0x06, 0x07, 0x08,
                             0x09, 0x0F, 0x18, 0x30, 0x15, 0x99};
    Rack rack = test::three_modules();
    rack.module(0).base.base_slots = 32;
    for (int i = 0; i < 3000; ++i) {
        Bytes payload{codes[rng() % sizeof codes]};
        const size_t len = rng() % 64;
        for (size_t j = 0; j < len; ++j) {
            // Mostly small values so that streams look plausible.
            payload.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? rng() : rng() % 20));
        }
        const uint32_t to = i % 3 == 0 ? kBroadcastIp : kModuleA;
        for (const test::Reply& r : ask(rack, to, payload)) {
            EXPECT_TRUE(r.length_right);
            EXPECT_TRUE(r.crc_right);
        }
        // Raw garbage as a whole datagram too.
        Bytes raw(rng() % 40);
        for (auto& b : raw) b = static_cast<uint8_t>(rng());
        rack.handle(kModuleA, raw.data(), raw.size());
    }
    for (const auto& [n, slot] : rack.module(0).base.slots) {
        EXPECT_LT(n, 32);
        EXPECT_EQ(slot.io.bit_out.size(), (slot.counts().bit_out + 7u) / 8u);
        EXPECT_EQ(slot.io.word_out.size(), slot.counts().word_out);
    }
}

}  // namespace
}  // namespace racksim
