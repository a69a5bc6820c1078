// Requests with the 16-byte extended header that names the module by its hardware address.
#include <gtest/gtest.h>

#include <cstring>

#include "exchange.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

constexpr uint8_t kNode[6] = {0x00, 0x60, 0x35, 0x0A, 0x0B, 0x0C};

class ExtendedHeader : public SimTest {
  protected:
    ExtendedHeader() { std::memcpy(dev_.device.NodeAddress, kNode, sizeof kNode); }
    ScopedCrcMode crc_{1};
    IpDevice dev_{kModule, {.broadcast = 1}};
};

TEST_F(ExtendedHeader, CarriesMarkerAndNodeAndCountsThemInLengthAndCrc) {
    net().add_peer(kModule, answer_with(text_bytes("ok")));
    ASSERT_EQ(+dev_->DataOffset, 16);
    const Outcome out = send_packet(dev_.device, {0x07, 0x01});
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(payload_of(out.reply), text_bytes("ok"));  // replies carry no extension

    ASSERT_EQ(net().sent().size(), 1u);
    const Datagram& sent = net().sent()[0];
    EXPECT_EQ(sent.to, (Endpoint{kBroadcastIp, kModulePort}));
    const Bytes body{0x15, 0x00, 0x60, 0x35, 0x0A, 0x0B, 0x0C, 0x07, 0x01};
    EXPECT_EQ(sent.bytes, make_reply(+dev_->LastSequence, body));
    EXPECT_EQ(u16_at(sent.bytes, 7), 9);
}

TEST_F(ExtendedHeader, RequestShorterThanTheExtendedHeaderIsRefusedUnsent) {
    Bytes request(15, 0);
    Bytes reply(64);
    int32_t length = 64;
    EXPECT_EQ(_SendPacket(&dev_.device, request.data(), 15, reply.data(), &length, 1, 0),
              ZEBERR_BAD_PARAMETER);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(net().sent().empty());

    const Outcome header_only = send_packet(dev_.device, {}, {.want_reply = 0});
    EXPECT_EQ(header_only.result, ZEBERR_NO_PACKET);
    ASSERT_EQ(net().sent().size(), 1u);
    EXPECT_EQ(u16_at(net().sent()[0].bytes, 7), 7);
}

}  // namespace
}  // namespace zebtest
