// Several devices at once on the simulated network: per-device time-outs and re-sends, and
// waits that sleep rather than spin.
#include <gtest/gtest.h>

#include <algorithm>

#include "frames.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebtest {
namespace {

constexpr Endpoint kA{ipv4(127, 0, 0, 2), kModulePort};
constexpr Endpoint kB{ipv4(127, 0, 0, 3), kModulePort};
const Bytes kInputs = {0x00, 0x00, 0x00, 0x01, 0x31, 0x5A, 0xFF};

struct Batch {
    ZEBDevice* devices[3];
    uint8_t in[3][64] = {};
    uint8_t* buffers[3] = {in[0], in[1], in[2]};
    uint16_t sizes[3] = {64, 64, 64};
    uint32_t results[3] = {0xDEAD, 0xDEAD, 0xDEAD};
};

TEST(ParallelIo, SilentDeviceGetsRetriesPlusOneSendsWhileTheOtherAnswers) {
    ScopedSimNetwork net;
    net->set_spin_limit(10000);  // a scheduler that polls without sleeping trips this
    net->add_peer(kA, answer_with(kInputs, 3));
    IpDevice a(kA, {100, 2, 0});
    IpDevice b(kB, {100, 2, 0});  // nobody there
    Batch batch{{&a.device, nullptr, &b.device}};
    const uint64_t start = net->now();
    EXPECT_EQ(ZEBReadIOEx(batch.devices, batch.buffers, batch.sizes, batch.results, 3), 0u);
    EXPECT_EQ(batch.results[0], 0u);
    EXPECT_EQ(batch.sizes[0], 5);
    EXPECT_EQ(batch.results[1], 0xDEADu);  // the null entry is left alone
    EXPECT_EQ(batch.sizes[1], 64);
    EXPECT_EQ(batch.results[2], ZEBERR_TIMEOUT);
    EXPECT_EQ(net->sent_to(kB).size(), 3u);
    EXPECT_EQ(+b.device.ResendCount, 2);
    EXPECT_EQ(+b.device.FromAddressSize, 2u);
    EXPECT_EQ(+b.device.NoWait, 0);
    const uint64_t took = net->now() - start;
    EXPECT_GE(took, 300u);
    EXPECT_LE(took, 320u);
}

TEST(ParallelIo, AReplyAfterAResendEndsWithZero) {
    ScopedSimNetwork net;
    net->add_peer(kA, lose_first(1, answer_with(kInputs)));
    IpDevice a(kA, {50, 1, 0});
    Batch batch{{&a.device}};
    ZEBReadIOEx(batch.devices, batch.buffers, batch.sizes, batch.results, 1);
    EXPECT_EQ(batch.results[0], 0u);
    EXPECT_EQ(+a.device.ResendCount, 1);
}

TEST(ParallelIo, ARequestStartedWhenTheClockReadsZeroIsStillTimed) {
    ScopedSimNetwork net(0x100000000);  // the clock's low 32 bits read 0 at the start
    IpDevice a(kA, {40, 1, 0});         // nobody there
    Batch batch{{&a.device}};
    ZEBReadIOEx(batch.devices, batch.buffers, batch.sizes, batch.results, 1);
    EXPECT_EQ(batch.results[0], ZEBERR_TIMEOUT);
    EXPECT_EQ(net->sent_to(kA).size(), 2u);
}

TEST(ParallelIo, WritesGoToEachDeviceAndImmediateFailuresFinishTheirEntry) {
    ScopedSimNetwork net;
    net->add_peer(kA, answer_with(kInputs));
    IpDevice a(kA, {50, 0, 0});
    IpDevice b(kB, {50, 0, 0});
    const Bytes out = {0xB1, 0x00, 0x00, 0x03, 0x04, 0x01, 0x0F, 0xFF};
    Bytes big(1191, 0xFF);
    const uint8_t* sources[2] = {out.data(), big.data()};
    const uint16_t lengths[2] = {uint16_t(out.size()), 1191};
    Batch batch{{&a.device, &b.device}};
    EXPECT_EQ(
        ZEBWriteIOEx(batch.devices, sources, lengths, batch.buffers, batch.sizes, batch.results, 2),
        0u);
    EXPECT_EQ(batch.results[0], 0u);
    EXPECT_EQ(batch.results[1], ZEBERR_PACKET_TOO_LARGE);
    ASSERT_EQ(net->sent_to(kA).size(), 1u);
    Bytes expected(1 + out.size(), 0x06);
    std::copy(out.begin(), out.end(), expected.begin() + 1);
    EXPECT_EQ(payload_of(net->sent_to(kA)[0].bytes), expected);
    EXPECT_TRUE(net->sent_to(kB).empty());
}

}  // namespace
}  // namespace zebtest
