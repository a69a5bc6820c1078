// The transport's XOR key over outgoing frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exchange.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

class XorKey : public SimTest {
  protected:
    // The request as sent: a frame whose bytes 5 on are XOR-ed with the key.
    static Bytes keyed(uint16_t sequence, const Bytes& payload, std::string_view key) {
        Bytes f = make_reply(sequence, payload);  // a request has the same layout as a reply
        for (size_t i = 5; i < f.size(); ++i)
            f[i] ^= static_cast<uint8_t>(key[(i - 5) % key.size()]);
        return f;
    }
    ScopedCrcMode crc_{1};
};

TEST_F(XorKey, TwoCharacterKeyCoversEverythingFromByteFiveWithMagicAndSequenceInClear) {
    IpDevice dev(kModule);
    dev.set_key("K7");
    const Bytes payload = text_bytes("hello, module");
    send_packet(dev.device, payload, {.want_reply = 0});
    ASSERT_EQ(net().sent().size(), 1u);
    const Bytes& sent = net().sent()[0].bytes;
    EXPECT_EQ(sent, keyed(+dev->LastSequence, payload, "K7"));
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 3), text_bytes("ZQK"));
    EXPECT_EQ(sequence_of(sent), +dev->LastSequence);
}

TEST_F(XorKey, ResendDiffersFromTheFirstSendOnlyInTheSequenceBytes) {
    net().add_peer(kModule, lose_first(1, answer_with({0x00, 0x00})));
    IpDevice dev(kModule, {.retries = 1});
    dev.set_key("K7");
    const Outcome out = send_packet(dev.device, text_bytes("payload"));
    EXPECT_EQ(out.result, ZEBWARN_RETRIED);
    ASSERT_EQ(net().sent().size(), 2u);
    Bytes first = net().sent()[0].bytes;
    Bytes second = net().sent()[1].bytes;
    EXPECT_NE(sequence_of(first), sequence_of(second));
    first[3] = first[4] = second[3] = second[4] = 0;
    EXPECT_EQ(first, second);
    EXPECT_EQ(unkey(net().sent()[1].bytes, "K7"),
              make_reply(dev->LastSequence, text_bytes("payload")));
}

TEST_F(XorKey, KeyModesOtherThanOneSendInClear) {
    for (uint8_t mode : {0, 2, 255}) {
        SCOPED_TRACE(mode);
        net().clear_records();
        IpDevice dev(kModule);
        dev.set_key("K7");
        dev.transport.KeyMode = mode;
        send_packet(dev.device, text_bytes("abc"), {.want_reply = 0});
        ASSERT_EQ(net().sent().size(), 1u);
        EXPECT_EQ(net().sent()[0].bytes, make_reply(+dev->LastSequence, text_bytes("abc")));
    }
}

TEST_F(XorKey, EmptyKeyLeavesTheFrameUnchanged) {
    IpDevice dev(kModule);
    dev.set_key("");
    send_packet(dev.device, text_bytes("abc"), {.want_reply = 0});
    EXPECT_EQ(net().sent().at(0).bytes, make_reply(+dev->LastSequence, text_bytes("abc")));
}

// A key field with no terminator is 60 characters; the pointer stored after it is not key.
TEST_F(XorKey, SixtyCharacterKeyWithoutTerminatorIsUsedWholeAndNoFurther) {
    IpDevice dev(kModule);
    dev.transport.KeyMode = 1;
    std::string key;
    for (int i = 0; i < 60; ++i) key.push_back(static_cast<char>('!' + i));
    std::memcpy(dev.transport.Key, key.data(), 60);
    Bytes payload(130);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    send_packet(dev.device, payload, {.want_reply = 0});
    EXPECT_EQ(net().sent().at(0).bytes, keyed(+dev->LastSequence, payload, key));
}

}  // namespace
}  // namespace zebtest
