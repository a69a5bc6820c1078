// Setup data, configuration data and diagnostics beyond their request/reply rows: the raised
// time-out and its restoration, the write limits, acknowledged changes and no-wait mode.
#include <gtest/gtest.h>

#include "frames.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr Endpoint kModule{ipv4(127, 0, 0, 2), kModulePort};

PeerHandler setup_module() {
    return acknowledge_then({0x0C, 0x00}, {0x00, 0x00});
}

TEST(SetupData, EveryExchangeWaitsTenMsLongerAndTheTimeoutIsRestoredOnEveryPath) {
    ScopedSimNetwork net;
    IpDevice dev(kModule, {100, 0, 0});
    uint8_t buf[16] = {};
    uint16_t size = sizeof buf;
    uint16_t types[4];
    uint16_t count = 4;
    Bytes big(600, 1);

    // Silent module: each read times out after Timeout + 10 ms.
    uint64_t start = net->now();
    EXPECT_EQ(ZEBReadSetupData(&dev.device, 0x16, buf, &size), ZEBERR_TIMEOUT);
    EXPECT_EQ(net->now() - start, 110u);
    EXPECT_EQ(+dev.device.Timeout, 100);
    EXPECT_EQ(ZEBEnumSetupData(&dev.device, types, &count), ZEBERR_TIMEOUT);
    EXPECT_EQ(ZEBWriteSetupData(&dev.device, 1, big.data(), 2), ZEBERR_TIMEOUT);
    EXPECT_EQ(ZEBDeleteSetupData(&dev.device, 1), ZEBERR_TIMEOUT);
    EXPECT_EQ(+dev.device.Timeout, 100);

    // Refused before sending.
    EXPECT_EQ(ZEBWriteSetupData(&dev.device, 1, big.data(), 588), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(ZEBWriteSetupData(&dev.device, 1, big.data(), 0x10000 + 4), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(+dev.device.Timeout, 100);

    // Failed (bad CRC) and succeeded.
    net->add_peer(kModule, [](const Datagram& d, PeerReply& out) {
        out.send(make_bad_crc_reply(sequence_of(d.bytes), {0, 0}));
    });
    EXPECT_EQ(ZEBReadSetupData(&dev.device, 0x16, buf, &size), ZEBERR_BAD_CRC);
    EXPECT_EQ(+dev.device.Timeout, 100);

    // A time-out near the field's top is not wrapped round to a few milliseconds.
    ScopedSimNetwork net2;
    IpDevice top(kModule, {65530, 0, 0});
    start = net2->now();
    EXPECT_EQ(ZEBReadSetupData(&top.device, 0x16, buf, &size), ZEBERR_TIMEOUT);
    EXPECT_EQ(net2->now() - start, 65535u);
    EXPECT_EQ(+top.device.Timeout, 65530);
}

TEST(SetupData, WritesUpToTheLimitAreSentWithTypeAndBytes) {
    ScopedSimNetwork net;
    net->add_peer(kModule, setup_module());
    IpDevice dev(kModule, {100, 0, 0});
    Bytes record(587, 0x5A);
    EXPECT_EQ(ZEBWriteSetupData(&dev.device, 0x1234, record.data(), 587), 0u);
    ASSERT_EQ(net->sent().size(), 1u);
    EXPECT_EQ(net->sent()[0].bytes.size(), 600u);
    const Bytes body = payload_of(net->sent()[0].bytes);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 4), (Bytes{0x0C, 0x00, 0x34, 0x12}));

    // With the extended header the limit is 580.
    IpDevice wide(kModule, {100, 0, 1});
    EXPECT_EQ(ZEBWriteSetupData(&wide.device, 1, record.data(), 581), ZEBERR_PACKET_TOO_LARGE);
    EXPECT_EQ(net->sent().size(), 1u);
}

TEST(SetupData, ChangesGiveTheFinalStatusSignedAndWarnAfterAResend) {
    ScopedSimNetwork net;
    net->add_peer(kModule, acknowledge_then({0x0D, 0x00}, {0x02, 0x80}));
    IpDevice dev(kModule, {100, 1, 0});
    EXPECT_EQ(ZEBDeleteSetupData(&dev.device, 9), 0xFFFF8002u);
    EXPECT_EQ(payload_of(net->sent()[0].bytes), (Bytes{0x0D, 0x00, 0x09, 0x00}));

    // The first request is lost: the delete is sent again and reports the re-send.
    ScopedSimNetwork net2;
    net2->add_peer(kModule, lose_first(1, acknowledge_then({0x0D, 0x00}, {0x00, 0x00})));
    IpDevice retried(kModule, {100, 1, 0});
    EXPECT_EQ(ZEBDeleteSetupData(&retried.device, 9), ZEBWARN_RETRIED);
    EXPECT_EQ(net2->sent().size(), 2u);

    // A final reply without a status word is no answer.
    ScopedSimNetwork net3;
    net3->add_peer(kModule, acknowledge_then({0x0C, 0x00}, {0x00}));
    IpDevice short_reply(kModule, {100, 0, 0});
    const uint8_t one = 1;
    EXPECT_EQ(ZEBWriteSetupData(&short_reply.device, 9, &one, 1), ZEBERR_NO_DATA);
}

TEST(ConfigData, OversizedWritesAreRefusedBeforeSending) {
    ScopedSimNetwork net;
    net->add_peer(kModule, answer_with({0x00, 0x00}, 5));
    IpDevice dev(kModule, {100, 0, 0});
    Bytes big(1191, 0);
    EXPECT_EQ(ZEBWriteConfigData(&dev.device, big.data(), 1191, nullptr, nullptr),
              ZEBERR_PACKET_TOO_LARGE);
    EXPECT_TRUE(net->sent().empty());
    EXPECT_EQ(ZEBWriteConfigData(&dev.device, big.data(), 1190, nullptr, nullptr), 0u);
}

TEST(ConfigData, ARetriedReadWarnsAndDeliversWhileDiagnosticsDoNotWarn) {
    ScopedSimNetwork net;
    net->add_peer(kModule, lose_first(1, answer_with({0x00, 0x00, 7})));
    IpDevice dev(kModule, {100, 1, 0});
    uint8_t buf[8] = {};
    uint16_t size = sizeof buf;
    EXPECT_EQ(ZEBReadConfigData(&dev.device, buf, &size), ZEBWARN_RETRIED);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(buf[0], 7);

    ScopedSimNetwork net2;
    net2->add_peer(kModule, lose_first(1, answer_with({0x00, 0x00, 7})));
    IpDevice diag(kModule, {100, 1, 0});
    size = sizeof buf;
    EXPECT_EQ(ZEBReadModuleStatus(&diag.device, buf, &size, 0), 0u);
    EXPECT_EQ(ZEBPetDevice(&diag.device), 0u);
    EXPECT_EQ(+diag.device.ResendCount, 1);
}

}  // namespace
}  // namespace zebtest
