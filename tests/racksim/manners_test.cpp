// A module's manner: each form of reply it plays where a host takes more than one, within what a
// host reads, and the same draws again from the same seed.
#include <gtest/gtest.h>

#include <set>

#include "core/crc16.h"
#include "options.h"
#include "test_util.h"
#include "thread_allocations.h"

namespace racksim {
namespace {

using test::ask;
using test::kModuleA;
using test::kModuleC;

const Bytes kSetupWrite = {0x0C, 0x00, 0x40, 0x00, 0xAB, 0xCD};
const Bytes kSetupDelete = {0x0D, 0x00, 0x16, 0x00};
const Bytes kBaseDefWrite = {0x0F, 0x00, 0x00, 0x00};  // an empty base
const Bytes kSerialSetupWaiting = {0x23, 0x85, 0x01, 0x01, 0x00, 0x80, 0x25,
                                   0x00, 0x00, 0x08, 0x00, 0x00, 0x00};  // port 2, 9600 8N1
const Bytes kProgramSpace = {0x60, 0x00, 0x00, 0x00, 0x11, 0x22};        // to the node
const Bytes kCcmRead = {0x19, 0x00, 0x01, 0x1E, 0x04, 0x00, 0x00, 0x01};
const Bytes kCcmReadNoArea = {0x19, 0x00, 0x01, 0x1E, 0x04, 0x00, 0x00, 0x77};
const Bytes kPet = {0x14, 0x00};
const Bytes kEnumSetup = {0x0A};
const Bytes kReadIo = {0x07};

Rack rack_in(const Manner& m) {
    Rack rack = test::three_modules();
    for (Module& mod : rack.modules()) mod.manner.manner = m;
    return rack;
}

Manner with(void (*set)(Manner&)) {
    Manner m;
    set(m);
    return m;
}

std::vector<Bytes> frames(Rack& rack, uint32_t to, const Bytes& payload, uint16_t seq = 7) {
    const Bytes request = make_request(seq, payload, true);
    std::vector<Bytes> out;
    for (const Outgoing& o : rack.handle(to, request.data(), request.size()))
        out.push_back(o.bytes);
    return out;
}

TEST(Manners, AcknowledgementsWithoutEchoTakeEveryForm) {
    struct Row {
        Bytes request;
        uint32_t to;
        Bytes served;  // the acknowledgement as its function serves it
    };
    const std::vector<Row> rows = {
        {kSetupWrite, kModuleA, {0x0C, 0x00}},   {kSetupDelete, kModuleA, {0x0D, 0x00}},
        {kBaseDefWrite, kModuleA, {0x0F, 0x00}}, {kSerialSetupWaiting, kModuleA, {0x20, 0x23}},
        {kProgramSpace, kModuleC, {0x60, 0x00}},
    };
    for (const Row& row : rows) {
        for (AckForm form :
             {AckForm::served, AckForm::code, AckForm::status, AckForm::final, AckForm::empty}) {
            Rack rack = rack_in(with([](Manner&) {}));
            rack.module(0).manner.manner.ack = form;
            rack.module(2).manner.manner.ack = form;
            const std::vector<Bytes> f = frames(rack, row.to, row.request);
            ASSERT_EQ(f.size(), 2u);
            const test::Reply ack = test::decode({row.to, f[0], 0});
            EXPECT_TRUE(ack.crc_right && ack.length_right);
            const Bytes expected[] = {row.served,
                                      {row.request[0], 0x00},
                                      {0x00, 0x00},
                                      test::decode({row.to, f[1], 0}).payload,
                                      {}};
            EXPECT_EQ(ack.payload, expected[static_cast<int>(form)])
                << "function " << int(row.request[0]) << ", form " << int(form);
            if (form == AckForm::final) {
                EXPECT_EQ(f[0], f[1]);  // byte for byte
            }
            EXPECT_EQ(test::decode({row.to, f[1], 0}).status(), 0u);
        }
    }
    // A controller request's acknowledgement carries the bytes a host compares, whatever form.
    Rack rack = rack_in(with([](Manner& m) { m.ack = AckForm::empty; }));
    EXPECT_EQ(ask(rack, kModuleA, kCcmRead).at(0).payload, (Bytes{0x20, 0x19}));
}

TEST(Manners, PaddingFollowsOnlyTheFieldsAHostReads) {
    // Enumeration, keep-alive and a memory write end in fields; I/O and setup reads run to the
    // end of the reply, a large memory read is already at the size padding stops at, and a
    // refusal (here of a read from a missing port) may stop short of the fields a host reads.
    const Bytes kBigRead = {0x25, 0x00, 0x01, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x00};
    const Bytes kMemoryWrite = {0x24, 0x00, 0x01, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x5A};
    for (Padding p : {Padding::even, Padding::fixed, Padding::random}) {
        Rack plain = test::three_modules();
        Rack padded = rack_in(with([](Manner&) {}));
        for (Module& m : padded.modules()) m.manner.manner.padding = p;
        for (const Bytes& request : {kEnumSetup, kPet, kMemoryWrite}) {
            const Bytes served = ask(plain, kModuleA, request).at(0).payload;
            const test::Reply r = ask(padded, kModuleA, request).at(0);
            EXPECT_TRUE(r.crc_right && r.length_right);
            ASSERT_GE(r.payload.size(), served.size());
            EXPECT_EQ(Bytes(r.payload.begin(), r.payload.begin() + served.size()), served);
            const size_t added = r.payload.size() - served.size();
            if (p == Padding::even) {
                EXPECT_EQ(r.payload.size() % 2, 0u);
            }
            if (p == Padding::fixed) {
                EXPECT_EQ(r.payload.size(), std::max<size_t>(64, served.size()));
            }
            if (p == Padding::random) {
                EXPECT_TRUE(added >= 1 && added <= 16) << added;
            }
        }
        for (const Bytes& request : {kReadIo, Bytes{0x0B, 0x00, 0x16, 0x00}, kBigRead,
                                     Bytes{0x23, 0x82, 0x07, 0x10, 0x00}}) {
            EXPECT_EQ(ask(padded, kModuleA, request).at(0).payload,
                      ask(plain, kModuleA, request).at(0).payload);
        }
    }
}

TEST(Manners, BareRefusalsAreTheStatusWordAlone) {
    const Bytes kReadMissingPort = {0x23, 0x82, 0x07, 0x10, 0x00};  // status and count 0
    const Bytes kUnknownService = {0x35, 0xCA, 0x77, 0x00};         // status and a value
    const Bytes kAccessNoArea = {0x27, 0x00, 0x01, 0x00, 0x00, 0x55, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x02, 0x00};  // status and count 0
    Rack served = test::three_modules();
    Rack bare = rack_in(with([](Manner& m) { m.refusal = RefusalForm::status_alone; }));
    for (Rack* r : {&served, &bare}) r->module(0).controller_os.root = "/nowhere";
    for (const Bytes& request : {kReadMissingPort, kUnknownService, kAccessNoArea}) {
        const test::Reply full = ask(served, kModuleA, request).at(0);
        const test::Reply alone = ask(bare, kModuleA, request).at(0);
        EXPECT_GT(full.payload.size(), 2u);
        EXPECT_EQ(alone.payload, Bytes(full.payload.begin(), full.payload.begin() + 2));
        EXPECT_NE(alone.status(), 0u);
    }
    // Controller refusals are already their head and status; replies that are no refusal keep
    // what follows a status word.
    EXPECT_EQ(ask(bare, kModuleA, kCcmReadNoArea).at(1).payload, (Bytes{0x22, 0x19, 0x81, 0x00}));
    EXPECT_EQ(ask(bare, kModuleA, kEnumSetup).at(0).payload,
              ask(served, kModuleA, kEnumSetup).at(0).payload);
}

TEST(Manners, CrcFieldFollowsTheManner) {
    // A carried CRC may itself be 0 (that of the status word 0 is), which a host takes unchecked
    // like a CRC not carried: either way the reply is what the module sent.
    for (bool rack_crc : {true, false}) {
        for (CrcForm form : {CrcForm::rack, CrcForm::always, CrcForm::never}) {
            Rack rack = rack_in(with([](Manner&) {}));
            rack.settings().crc = rack_crc;
            rack.module(0).manner.manner.crc = form;
            const bool carried = form == CrcForm::always || (form == CrcForm::rack && rack_crc);
            for (const Bytes& request : {kSetupWrite, kEnumSetup}) {
                for (const test::Reply& r : ask(rack, kModuleA, request)) {
                    EXPECT_EQ(r.crc_field,
                              carried ? zeb::crc16(r.payload.data(), r.payload.size()) : 0);
                }
            }
        }
    }
}

TEST(Manners, LateRepliesAndLateFinalReplies) {
    Rack rack = rack_in(with([](Manner& m) {
        m.late_ms = 40;
        m.final_late_ms = 1000;
    }));
    rack.module(0).faults.final_delay_ms = 5;
    const auto write = ask(rack, kModuleA, kSetupWrite);
    ASSERT_EQ(write.size(), 2u);
    EXPECT_EQ(write[0].delay_ms, 40u);
    EXPECT_EQ(write[1].delay_ms, 1045u);
    // A controller request's host adds no time for its final reply: only lateness within it.
    const auto ccm = ask(rack, kModuleA, kCcmRead);
    ASSERT_EQ(ccm.size(), 2u);
    EXPECT_EQ(ccm[1].delay_ms, 45u);
    EXPECT_EQ(ask(rack, kModuleA, kReadIo).at(0).delay_ms, 40u);
}

TEST(Manners, ACopyOfThePreviousReplyGoesFirst) {
    Rack rack = rack_in(with([](Manner& m) { m.previous_first = true; }));
    EXPECT_EQ(frames(rack, kModuleA, kEnumSetup, 20).size(), 1u);  // nothing sent before
    const std::vector<Bytes> pet = frames(rack, kModuleA, kPet, 21);
    ASSERT_EQ(pet.size(), 2u);
    EXPECT_EQ(test::decode({kModuleA, pet[0], 0}).sequence, 20u);
    const std::vector<Bytes> write = frames(rack, kModuleA, kSetupWrite, 22);
    ASSERT_EQ(write.size(), 3u);
    EXPECT_EQ(write[0], pet[1]);  // the module's last reply, as it went
    // A copy that would carry the request's own number would answer it: none goes.
    EXPECT_EQ(frames(rack, kModuleA, kPet, 22).size(), 1u);
    EXPECT_EQ(rack.module(0).counters.faults_by_function[0x0C].previous, 1u);
    EXPECT_EQ(rack.module(0).counters.faults_by_function[0x14].previous, 1u);
}

TEST(Manners, ControllerRefusalsBeforeOrAfterTheAcknowledgement) {
    // Served: no such area after the acknowledgement, no controller in its place.
    auto replies = [](ControllerRefusal form, bool present) {
        Rack rack = rack_in(with([](Manner&) {}));
        rack.module(0).manner.manner.controller_refusal = form;
        rack.module(0).controller.present = present;
        std::vector<Bytes> out;
        for (const test::Reply& r : ask(rack, kModuleA, kCcmReadNoArea)) out.push_back(r.payload);
        return out;
    };
    const Bytes in_place_area = {0x21, 0x19, 0x81, 0x00};
    const Bytes after_area = {0x22, 0x19, 0x81, 0x00};
    const Bytes ack = {0x20, 0x19};
    EXPECT_EQ(replies(ControllerRefusal::served, true), (std::vector<Bytes>{ack, after_area}));
    EXPECT_EQ(replies(ControllerRefusal::before_ack, true), std::vector<Bytes>{in_place_area});
    const Bytes in_place_none = {0x21, 0x19, 0xA0, 0x00};
    EXPECT_EQ(replies(ControllerRefusal::served, false), std::vector<Bytes>{in_place_none});
    EXPECT_EQ(replies(ControllerRefusal::after_ack, false),
              (std::vector<Bytes>{ack, {0x22, 0x19, 0xA0, 0x00}}));
}

TEST(Manners, RepliesOnlyWaitedForMayBeEmpty) {
    Rack rack = rack_in(with([](Manner& m) { m.unread_empty = true; }));
    EXPECT_TRUE(ask(rack, kModuleA, kPet).at(0).payload.empty());
    EXPECT_FALSE(ask(rack, kModuleA, kEnumSetup).at(0).payload.empty());
}

TEST(Manners, RandomDrawsReplayFromTheSeed) {
    auto run = [](uint64_t seed) {
        Rack rack = test::three_modules();
        Module& m = rack.module(0);
        m.manner = random_manner();
        m.manner.seed = seed;
        start_manner(m.manner, m.faults.seed, m.manner_state);
        std::vector<Bytes> all;
        for (uint16_t i = 0; i < 60; ++i) {
            for (Bytes& f : frames(rack, kModuleA, i % 2 ? kSetupWrite : kEnumSetup, 100 + i)) {
                all.push_back(std::move(f));
            }
        }
        return all;
    };
    EXPECT_EQ(run(5), run(5));
    EXPECT_NE(run(5), run(6));
    // The draws a module makes are the ones next_manner makes from the same state.
    MannerSetting s = random_manner();
    MannerState a;
    start_manner(s, 9, a);
    MannerState b = a;
    std::set<int> acks, paddings;
    for (int i = 0; i < 200; ++i) {
        const Manner m = next_manner(s, a);
        EXPECT_EQ(m, next_manner(s, b));
        EXPECT_EQ(m.crc, a.crc);  // one CRC form for all of a module's replies
        acks.insert(static_cast<int>(m.ack));
        paddings.insert(static_cast<int>(m.padding));
        EXPECT_TRUE(m.late_ms == 0 || m.late_ms == kDefaultLateMs);
    }
    EXPECT_EQ(acks.size(), 5u);
    EXPECT_EQ(paddings.size(), 4u);
}

TEST(Manners, ARefusingModuleCarriesNothingOut) {
    Rack rack = test::three_modules();
    for (Module& m : rack.modules()) m.faults.refuse_status = 0x0042;
    const Bytes kWriteIo = {0x30, 0x03, 0x41, 0xFF, 0xFF};
    EXPECT_EQ(ask(rack, kModuleA, kWriteIo).at(0).payload, (Bytes{0x42, 0x00}));
    EXPECT_EQ(rack.module(0).slot(3).io.bit_out, Bytes{0});
    const auto write = ask(rack, kModuleA, kSetupWrite);
    ASSERT_EQ(write.size(), 2u);
    EXPECT_EQ(write[1].payload, (Bytes{0x42, 0x00}));
    EXPECT_EQ(rack.module(0).setup.find(0x40), nullptr);
    EXPECT_EQ(ask(rack, kModuleA, kCcmRead).at(0).payload, (Bytes{0x21, 0x19, 0x42, 0x00}));
    EXPECT_EQ(ask(rack, kModuleA, kEnumSetup).at(0).payload, (Bytes{0x42, 0x00, 0x00, 0x00}));
    // Replies without a status word are served as usual.
    EXPECT_EQ(ask(rack, kModuleA, {0x04}).at(0).payload.at(2), kKindQxRio);
    EXPECT_EQ(ask(rack, kModuleA, {0x23, 0x87, 0x01, 0x00, 0x00}).at(0).payload.size(), 8u);
}

TEST(Manners, NamesAndTheCommandLine) {
    EXPECT_EQ(named_manners().front().name, std::string("plain"));
    EXPECT_EQ(manner_named("plain")->manner, Manner{});
    EXPECT_TRUE(manner_named("random")->random);
    EXPECT_FALSE(manner_named("polite"));
    std::set<std::string> names;
    for (const NamedManner& n : named_manners()) {
        EXPECT_TRUE(names.insert(n.name).second) << n.name;
        EXPECT_LE(std::string(n.what).size(), 59u) << n.name;  // --help stays in 100 columns
    }
    std::string error;
    EXPECT_EQ(parse_options({"--manner", "ack-final"}, &error)->manner, "ack-final");
    EXPECT_FALSE(parse_options({"--manner=polite"}, &error));
    EXPECT_EQ(error, "--manner: unknown manner \"polite\" (" + manner_names() + ")");
    Rack rack = test::three_modules();
    ASSERT_TRUE(apply_manner(rack, "bare-refusals", &error));
    for (const Module& m : rack.modules()) {
        EXPECT_EQ(m.manner.manner.refusal, RefusalForm::status_alone);
    }
}

TEST(Manners, ServingAllocatesNothingOnceWarmInEveryManner) {
    if (!zebtest::allocations_counted()) GTEST_SKIP() << "allocations are not counted here";
    std::vector<MannerSetting> settings = {random_manner()};
    for (const NamedManner& n : named_manners()) settings.push_back({n.manner, false, 0});
    const Bytes read = make_request(7, kReadIo, true);
    const Bytes query = make_request(9, {0x05}, true);
    for (const MannerSetting& s : settings) {
        Rack rack = test::three_modules();
        for (Module& m : rack.modules()) m.manner = s;
        Replies replies;
        auto serve = [&] {
            rack.handle(kModuleA, read.data(), read.size(), replies);
            rack.handle(kBroadcastIp, query.data(), query.size(), replies);
        };
        for (int i = 0; i < 20; ++i) serve();  // storage grows to its size here
        const uint64_t before = zebtest::thread_allocations();
        for (int i = 0; i < 20; ++i) serve();
        EXPECT_EQ(zebtest::thread_allocations() - before, 0u);
    }
}

}  // namespace
}  // namespace racksim
