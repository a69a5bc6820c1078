// Moving single frames: broadcast sends, and receives with and without the sender's address.
#include <gtest/gtest.h>

#include <cstring>

#include "core/link.h"
#include "peers.h"
#include "sim_device.h"
#include "sim_fixture.h"

namespace zebtest {
namespace {

constexpr Endpoint kOther{ipv4(127, 0, 0, 9), kModulePort};

class Frames : public SimTest {
  protected:
    struct Received {
        uint32_t result;
        int32_t length;
        Bytes data;
    };
    static Received receive(ZEBDevice& d, int32_t capacity = 64) {
        Bytes buf(static_cast<size_t>(capacity));
        int32_t length = capacity;
        const uint32_t result = zeb::ReceiveFrame(&d, buf.data(), &length, 0);
        buf.resize(length > 0 ? static_cast<size_t>(length) : 0);
        return {result, length, buf};
    }
    const Bytes packet_ = make_reply(5, text_bytes("from a module"));
};

TEST_F(Frames, BroadcastGoesToEveryModulePortOnTheNetwork) {
    auto heard = std::make_shared<std::vector<Datagram>>();
    net().add_peer(kModule, recording(heard, nullptr));
    net().add_peer(kOther, recording(heard, nullptr));
    net().add_peer({ipv4(127, 0, 0, 10), 9999}, recording(heard, nullptr));
    IpDevice dev(kModule, {.broadcast = 1});
    const Bytes frame = make_reply(1, {0x05});
    EXPECT_EQ(zeb::SendFrame(&dev.device, frame.data(), static_cast<uint16_t>(frame.size())), 0u);
    ASSERT_EQ(heard->size(), 2u);
    for (const Datagram& d : *heard) {
        EXPECT_EQ(d.to, (Endpoint{kBroadcastIp, kModulePort}));
        EXPECT_EQ(d.bytes, frame);
    }
}

TEST_F(Frames, BroadcastReceiveGivesTheSendersAddressInTheLibraryLayout) {
    IpDevice dev(kModule, {.broadcast = 1});
    uint8_t from[16];
    std::memset(from, 0xCC, sizeof from);
    dev->FromAddress = from;
    dev->FromAddressSize = sizeof from;
    net().inject_to(dev.socket(), kOther, packet_);
    const Received r = receive(dev.device);
    EXPECT_EQ(r.result, 0u);
    EXPECT_EQ(r.data, packet_);
    const uint8_t expected[16] = {2, 0, 0x70, 0x70, 127, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(from, expected, sizeof expected), 0);
}

TEST_F(Frames, SenderAddressCutToItsBufferStillDeliversTheDatagram) {
    IpDevice dev(kModule, {.broadcast = 1});
    uint8_t from[16];
    std::memset(from, 0xCC, sizeof from);
    dev->FromAddress = from;
    dev->FromAddressSize = 8;
    net().inject_to(dev.socket(), kOther, packet_);
    const Received r = receive(dev.device);
    EXPECT_EQ(r.result, ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.length, static_cast<int32_t>(packet_.size()));
    EXPECT_EQ(r.data, packet_);
    const uint8_t expected[16] = {2,    0,    0x70, 0x70, 127,  0,    0,    9,
                                  0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    EXPECT_EQ(std::memcmp(from, expected, sizeof expected), 0);
}

TEST_F(Frames, BroadcastReceiveWithoutAnAddressBufferJustDelivers) {
    IpDevice dev(kModule, {.broadcast = 1});
    net().inject_to(dev.socket(), kOther, packet_);
    EXPECT_EQ(receive(dev.device).result, 0u);
}

TEST_F(Frames, NothingWaitingLeavesTheLengthAlone) {
    IpDevice dev(kModule);
    const Received r = receive(dev.device, 64);
    EXPECT_EQ(r.result, ZEBERR_NO_PACKET);
    EXPECT_EQ(r.length, 64);
}

TEST_F(Frames, SocketErrorsAreReturnedWithLengthZero) {
    IpDevice dev(kModule);
    net().fail_next(SimNetwork::Op::receive, 10054);
    const Received r = receive(dev.device);
    EXPECT_EQ(r.result, 10054u);
    EXPECT_EQ(r.length, 0);
}

TEST_F(Frames, DatagramLargerThanTheBufferIsAnError) {
    IpDevice dev(kModule);
    net().inject_to(dev.socket(), kModule, Bytes(65, 0x41));
    const Received r = receive(dev.device, 64);
    EXPECT_EQ(r.result, 10040u);
    EXPECT_EQ(r.length, 0);
}

TEST_F(Frames, DirectDeviceHearsOnlyItsModule) {
    IpDevice dev(kModule);
    net().inject_to(dev.socket(), kOther, packet_);
    EXPECT_EQ(receive(dev.device).result, ZEBERR_NO_PACKET);
    net().inject_to(dev.socket(), kModule, packet_);
    EXPECT_EQ(receive(dev.device).data, packet_);
}

}  // namespace
}  // namespace zebtest
