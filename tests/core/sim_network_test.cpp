// The simulated network itself: its clock, waits, deliveries and peers, which every engine
// test relies on.
#include "sim_network.h"

#include <gtest/gtest.h>

namespace zebtest {
namespace {

using Handle = zeb::plat::Handle;

class Sim : public ::testing::Test {
  protected:
    Handle open_bound(Endpoint at) {
        Handle h = zeb::plat::kNoHandle;
        EXPECT_EQ(net_.socket_open(zeb::plat::kFamilyInet, &h), 0u);
        const SocketAddress a = socket_address(at);
        EXPECT_EQ(net_.socket_bind(h, a.data(), 16), 0u);
        return h;
    }
    uint32_t send_to(Handle h, const Bytes& b, Endpoint to) {
        const SocketAddress a = socket_address(to);
        return net_.socket_send_to(h, b.data(), static_cast<uint32_t>(b.size()), a.data(), 16);
    }
    Bytes take(Handle h, Endpoint* from = nullptr) {
        uint8_t buf[256];
        uint8_t addr[16];
        uint32_t got = 0;
        uint32_t addr_len = 0;
        if (net_.socket_receive(h, buf, sizeof buf, &got, addr, &addr_len) != 0) return {};
        if (from) *from = endpoint_of(addr);
        return Bytes(buf, buf + got);
    }
    SimNetwork net_;
};

TEST_F(Sim, ClockStartsBelowTheWrapAndWraps) {
    EXPECT_EQ(net_.clock_ms(), 0xFFFFF000u);
    net_.advance(0x1000);
    EXPECT_EQ(net_.clock_ms(), 0u);
    EXPECT_EQ(net_.now(), 0x100000000u);
}

TEST_F(Sim, WaitEndsAtTheFirstDeliveryToAWatchedSocketOrAtTheDeadline) {
    const Handle mine = open_bound({kHostIp, 5000});
    const Handle other = open_bound({kHostIp, 5001});
    const uint64_t t0 = net_.now();
    net_.inject({kHostIp, 9}, {kHostIp, 5001}, {1}, 10);
    net_.inject({kHostIp, 9}, {kHostIp, 5000}, {2}, 40);
    net_.wait_readable(&mine, 1, 100);
    EXPECT_EQ(net_.now() - t0, 40u);
    EXPECT_EQ(take(mine), Bytes{2});
    EXPECT_EQ(take(other), Bytes{1});
    net_.wait_readable(&mine, 1, 100);
    EXPECT_EQ(net_.now() - t0, 140u);
    uint8_t buf[4];
    uint32_t got = 0;
    EXPECT_EQ(net_.socket_receive(mine, buf, sizeof buf, &got, nullptr, nullptr),
              zeb::plat::kWouldBlock);
}

TEST_F(Sim, PeerRepliesComeFromItsAddressAfterTheirDelays) {
    const Endpoint module{ipv4(127, 0, 0, 2), kModulePort};
    net_.add_peer(module, [](const Datagram& req, PeerReply& out) {
        out.send({0xA1}, 30);
        out.send(req.bytes, 10);
    });
    const Handle h = open_bound({kHostIp, 0});
    const uint64_t t0 = net_.now();
    ASSERT_EQ(send_to(h, {7, 8}, module), 0u);
    EXPECT_TRUE(take(h).empty());
    net_.wait_readable(&h, 1, 1000);
    EXPECT_EQ(net_.now() - t0, 10u);
    Endpoint from;
    EXPECT_EQ(take(h, &from), (Bytes{7, 8}));
    EXPECT_EQ(from, module);
    net_.wait_readable(&h, 1, 1000);
    EXPECT_EQ(net_.now() - t0, 30u);
    EXPECT_EQ(take(h), Bytes{0xA1});
    ASSERT_EQ(net_.sent().size(), 1u);
    EXPECT_EQ(net_.sent()[0].to, module);
}

TEST_F(Sim, BroadcastNeedsPermissionAndReachesEachPeerOnThePortOnce) {
    int single = 0;
    int range = 0;
    net_.add_peer({ipv4(127, 0, 0, 2), kModulePort},
                  [&](const Datagram&, PeerReply&) { ++single; });
    net_.add_peer_range(ipv4(127, 0, 1, 1), ipv4(127, 0, 1, 9), kModulePort,
                        [&](const Datagram& d, PeerReply& out) {
                            ++range;
                            EXPECT_EQ(d.to.ip, kBroadcastIp);
                            out.send_from(ipv4(127, 0, 1, 3), {3}, 1);
                            out.send_from(ipv4(127, 0, 1, 4), {4}, 2);
                        });
    net_.add_peer({ipv4(127, 0, 0, 5), 1234}, [&](const Datagram&, PeerReply&) { ++single; });
    const Handle h = open_bound({kHostIp, 0});
    const Endpoint everyone{kBroadcastIp, kModulePort};
    EXPECT_EQ(send_to(h, {5}, everyone), 10013u);
    ASSERT_EQ(net_.socket_allow_broadcast(h), 0u);
    EXPECT_EQ(send_to(h, {5}, everyone), 0u);
    EXPECT_EQ(single, 1);
    EXPECT_EQ(range, 1);
    net_.advance(2);
    Endpoint from;
    EXPECT_EQ(take(h, &from), Bytes{3});
    EXPECT_EQ(from, (Endpoint{ipv4(127, 0, 1, 3), kModulePort}));
    EXPECT_EQ(take(h, &from), Bytes{4});
    EXPECT_EQ(from, (Endpoint{ipv4(127, 0, 1, 4), kModulePort}));
}

TEST_F(Sim, ConnectedSocketHearsOnlyItsPeer) {
    const Endpoint module{ipv4(127, 0, 0, 2), kModulePort};
    const Handle h = open_bound({kHostIp, 6000});
    const SocketAddress a = socket_address(module);
    ASSERT_EQ(net_.socket_connect(h, a.data(), 16), 0u);
    net_.inject({ipv4(127, 0, 0, 3), kModulePort}, {kHostIp, 6000}, {1});
    net_.inject(module, {kHostIp, 6000}, {2});
    EXPECT_EQ(take(h), Bytes{2});
    EXPECT_TRUE(take(h).empty());
}

TEST_F(Sim, SerialReadTakesWhatHasArrivedOrWaitsForTheNextByteOrItsEnd) {
    net_.attach_serial(3, [](const Bytes& written, SerialReply& out) {
        out.send(written, 5);
        out.trickle({7, 8}, 20, 10);
    });
    Handle h = zeb::plat::kNoHandle;
    ASSERT_EQ(net_.serial_open(3, &h), 0u);
    const uint64_t t0 = net_.now();
    ASSERT_EQ(net_.serial_write(h, Bytes{1, 2}.data(), 2), 0u);
    uint8_t buf[8];
    uint32_t got = 99;
    EXPECT_EQ(net_.serial_read(h, buf, sizeof buf, &got, 0), 0u);  // nothing there yet
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(net_.now(), t0);
    EXPECT_EQ(net_.serial_read(h, buf, sizeof buf, &got, 100), 0u);
    EXPECT_EQ(Bytes(buf, buf + got), (Bytes{1, 2}));
    EXPECT_EQ(net_.now() - t0, 5u);
    EXPECT_EQ(net_.serial_read(h, buf, sizeof buf, &got, 10), 0u);  // ends before the next
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(net_.now() - t0, 15u);
    net_.advance(20);  // both trickled bytes are in
    EXPECT_EQ(net_.serial_read(h, buf, 1, &got, 0), 0u);
    EXPECT_EQ(Bytes(buf, buf + got), Bytes{7});
    EXPECT_EQ(net_.serial_read(h, buf, sizeof buf, &got, 0), 0u);
    EXPECT_EQ(Bytes(buf, buf + got), Bytes{8});
    EXPECT_EQ(net_.serial_written(3), (Bytes{1, 2}));
    EXPECT_EQ(net_.serial_close(h), 0u);
    EXPECT_EQ(net_.serial_read(h, buf, sizeof buf, &got, 0), 6u);  // ERROR_INVALID_HANDLE
}

}  // namespace
}  // namespace zebtest
