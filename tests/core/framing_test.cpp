// The frame header of requests, the CRC check of replies, and the process-wide CRC mode.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/frame.h"
#include "core/state.h"
#include "exchange.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

Bytes with_header_room(const Bytes& payload) {
    Bytes f(kHeader + payload.size(), 0xEE);  // whatever the caller left there is overwritten
    std::copy(payload.begin(), payload.end(), f.begin() + kHeader);
    return f;
}

TEST(FramePrepare, WritesMagicSequenceCrcAndLengthAroundTheBody) {
    ScopedCrcMode crc(1);
    ZEBDevice d{};
    Bytes f = with_header_room(text_bytes("abc"));
    zeb::frame::prepare(d, f.data(), static_cast<uint16_t>(f.size()));
    zeb::state::set_next_sequence(0x1234);
    zeb::frame::stamp_sequence(d, f.data());
    EXPECT_EQ(f, (Bytes{'Z', 'Q', 'K', 0x34, 0x12, 0xD6, 0x9D, 0x03, 0x00, 'a', 'b', 'c'}));
    EXPECT_EQ(+d.LastSequence, 0x1234);
}

TEST(FramePrepare, CrcModeOffLeavesTheCrcFieldZero) {
    ScopedCrcMode crc(0);
    ZEBDevice d{};
    Bytes f = with_header_room(text_bytes("abc"));
    zeb::frame::prepare(d, f.data(), static_cast<uint16_t>(f.size()));
    EXPECT_EQ(u16_at(f, 5), 0);
    EXPECT_EQ(u16_at(f, 7), 3);
}

TEST(CrcMode, SetCRCModeReturnsThePreviousModeAndAnyNonzeroMeansOn) {
    ScopedCrcMode known(1);
    EXPECT_EQ(SetCRCMode(0), 1);
    EXPECT_EQ(SetCRCMode(5), 0);
    ZEBDevice d{};
    Bytes f = with_header_room(text_bytes("abc"));
    zeb::frame::prepare(d, f.data(), static_cast<uint16_t>(f.size()));
    EXPECT_EQ(u16_at(f, 5), 0x9DD6);
    EXPECT_EQ(SetCRCMode(1), 5);
}

TEST(ReplyCrc, AcceptsAMatchingOrZeroFieldAndRejectsDamageOrARunt) {
    ScopedCrcMode crc(1);
    auto ok = [](const Bytes& f) {
        return zeb::frame::reply_crc_ok(f.data(), static_cast<int32_t>(f.size()));
    };
    const Bytes good = make_reply(7, text_bytes("hello"));
    EXPECT_TRUE(ok(good));
    Bytes damaged = good;
    damaged[11] ^= 0x01;
    EXPECT_FALSE(ok(damaged));
    Bytes unchecked = damaged;
    unchecked[5] = unchecked[6] = 0;
    EXPECT_TRUE(ok(unchecked));
    EXPECT_TRUE(ok(make_reply(7, {})));  // header only
    EXPECT_FALSE(ok(Bytes(good.begin(), good.begin() + 8)));
}

// A module that computes CRCs sends 0 for every payload whose CRC is 0, such as a bare success
// status (00 00). Damage to such a reply must not pass as "no CRC" once the device has seen its
// module send CRCs; a module that never sends any keeps working.
class ZeroCrcField : public ::testing::Test {
  protected:
    bool ok(const Bytes& f) {
        return zeb::frame::reply_crc_ok(device, f.data(), static_cast<int32_t>(f.size()));
    }
    ScopedCrcMode crc{1};
    ZEBDevice device{};
    const Bytes success = make_reply(7, {0x00, 0x00});  // CRC 0, so its field is 0
    const Bytes damaged = make_reply(7, {0x00, 0x40}, false);
    const Bytes checked = make_reply(7, text_bytes("data"));
};

TEST_F(ZeroCrcField, IsDamageOnceTheModuleHasSentACrc) {
    EXPECT_EQ(u16_at(success, 5), 0);
    EXPECT_TRUE(ok(damaged));  // nothing known of the module yet
    EXPECT_TRUE(ok(checked));
    EXPECT_FALSE(ok(damaged));
    EXPECT_TRUE(ok(success));
    ScopedCrcMode off(0);
    EXPECT_TRUE(ok(damaged));
}

TEST_F(ZeroCrcField, ModulesWithoutCrcAndBroadcastDevicesLearnNothing) {
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(ok(make_reply(7, text_bytes("plain"), false)));
    EXPECT_TRUE(ok(damaged));
    device.Broadcast = 1;  // hears many modules, some of which may send no CRC
    ZEBDevice listener{};
    listener.Broadcast = 1;
    EXPECT_TRUE(zeb::frame::reply_crc_ok(listener, checked.data(), int32_t(checked.size())));
    EXPECT_TRUE(zeb::frame::reply_crc_ok(listener, damaged.data(), int32_t(damaged.size())));
    // A wrong nonzero field teaches nothing either.
    Bytes wrong = checked;
    wrong[5] ^= 0x01;
    EXPECT_FALSE(ok(wrong));
    device.Broadcast = 0;
    EXPECT_TRUE(ok(damaged));
}

TEST(ReplyCrc, CrcModeOffAcceptsEveryReply) {
    ScopedCrcMode crc(0);
    const Bytes bad = make_bad_crc_reply(7, text_bytes("hello"));
    EXPECT_TRUE(zeb::frame::reply_crc_ok(bad.data(), static_cast<int32_t>(bad.size())));
}

class FramingOnTheWire : public SimTest {};

TEST_F(FramingOnTheWire, DiscoveryQueryAsFirstRequestIsTenKnownBytes) {
    ScopedCrcMode crc(1);
    IpDevice dev(kModule);
    zeb::state::set_next_sequence(1);
    const Outcome out = send_packet(dev.device, {0x05}, {.want_reply = 0});
    EXPECT_EQ(out.result, ZEBERR_NO_PACKET);
    ASSERT_EQ(net().sent().size(), 1u);
    EXPECT_EQ(net().sent()[0].bytes,
              (Bytes{0x5A, 0x51, 0x4B, 0x01, 0x00, 0xA5, 0x50, 0x01, 0x00, 0x05}));
    EXPECT_EQ(net().sent()[0].to, kModule);
}

TEST_F(FramingOnTheWire, CrcModeOffSendsZeroAndTakesAnyReplyCrc) {
    ScopedCrcMode crc(0);
    net().add_peer(kModule, [](const Datagram& req, PeerReply& out) {
        out.send(make_bad_crc_reply(sequence_of(req.bytes), text_bytes("reply")));
    });
    IpDevice dev(kModule);
    const Outcome out = send_packet(dev.device, text_bytes("abc"));
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("reply"));
    EXPECT_EQ(u16_at(net().sent().at(0).bytes, 5), 0);
    EXPECT_EQ(+dev->CrcErrorCount, 0);
}

TEST_F(FramingOnTheWire, ReplyWithZeroCrcFieldIsTakenWithCrcModeOn) {
    ScopedCrcMode crc(1);
    net().add_peer(kModule, [](const Datagram& req, PeerReply& out) {
        out.send(make_reply(sequence_of(req.bytes), text_bytes("unchecked"), false));
    });
    IpDevice dev(kModule);
    const Outcome out = send_packet(dev.device, text_bytes("abc"));
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("unchecked"));
}

TEST_F(FramingOnTheWire, DamagedZeroCrcReplyIsCountedAndReopeningForgetsTheModule) {
    ScopedCrcMode crc(1);
    int replies = 0;
    net().add_peer(kModule, [&](const Datagram& req, PeerReply& out) {
        const uint16_t seq = sequence_of(req.bytes);
        // A read with its CRC, then a success status damaged on the way (its field 0 as sent).
        out.send(++replies % 2 ? make_reply(seq, text_bytes("read"))
                               : make_reply(seq, {0, 0x40}, false));
    });
    IpDevice dev(kModule);
    EXPECT_EQ(send_packet(dev.device, text_bytes("abc")).result, 0u);
    EXPECT_EQ(send_packet(dev.device, text_bytes("abc")).result, ZEBERR_BAD_CRC);
    EXPECT_EQ(+dev->CrcErrorCount, 1);
    ASSERT_EQ(ZEBCloseDevice(&dev.device), 0u);
    ASSERT_EQ(ZEBOpenDevice(&dev.transport, &dev.device, ZEB_API_VERSION, 100, 0, 0), 0u);
    replies = 1;  // the damaged reply comes first: nothing is known of the module after the open
    EXPECT_EQ(send_packet(dev.device, text_bytes("abc")).result, 0u);
}

}  // namespace
}  // namespace zebtest
