// The records are byte-packed, so a caller may keep them at any address (the second entry of
// a ZEBDevice array already sits at an offset of 138). The library must read and write their
// fields there without misaligned access, which the sanitizer build reports.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "exchange.h"
#include "peers.h"
#include "sim_fixture.h"
#include "state_guards.h"

namespace zebtest {
namespace {

// Storage that puts an object one byte past an 8-byte boundary.
template <class T>
struct OddPlace {
    OddPlace() : object(new (bytes + 1) T{}) {}
    ~OddPlace() { object->~T(); }
    alignas(8) unsigned char bytes[sizeof(T) + 1];
    T* object;
};

class UnalignedRecords : public SimTest {
  protected:
    UnalignedRecords() {
        ZEBTransport& t = *transport_.object;
        t.Kind = ZEB_TRANSPORT_WINSOCK;
        t.Protocol = ZEB_PROTOCOL_IP;
        EXPECT_EQ(ZEBOpenTransport(&t, ZEB_API_VERSION, source_.data()), 0u);
    }
    ~UnalignedRecords() override { ZEBCloseTransport(transport_.object); }

    ZEBDevice& open(int32_t broadcast, uint16_t retries) {
        ZEBDevice& d = *device_.object;
        const SocketAddress a = socket_address(kModule);
        std::memcpy(d.Address.Ip.SocketAddress, a.data(), a.size());
        EXPECT_EQ(ZEBOpenDevice(transport_.object, &d, ZEB_API_VERSION, 100, retries, broadcast),
                  0u);
        return d;
    }

    ScopedCrcMode crc_{1};
    SocketAddress source_ = socket_address({kHostIp, 0});
    OddPlace<ZEBTransport> transport_;
    OddPlace<ZEBDevice> device_;
};

TEST_F(UnalignedRecords, ExchangeWithRetriesAndTwoRepliesWorksAtAnOddAddress) {
    net().add_peer(kModule, lose_first(1, [](const Datagram& req, PeerReply& out) {
                       out.send(make_reply(sequence_of(req.bytes), {0x23, 0x00}), 1);
                       out.send(make_reply(sequence_of(req.bytes), text_bytes("final")), 2);
                   }));
    ZEBDevice& d = open(0, 2);
    transport_.object->KeyMode = 1;
    std::strcpy(transport_.object->Key, "K7");
    TwoReplyOptions o;
    o.echo = {0x23, 0x00};
    const Outcome out = send_two_responses(d, {0x23}, o);
    EXPECT_EQ(out.result, ZEBWARN_RETRIED);
    EXPECT_EQ(payload_of(out.reply), text_bytes("final"));
    EXPECT_EQ(+d.ResendCount, 1);
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
}

TEST_F(UnalignedRecords, BroadcastReceiveFillsTheSenderAddressAtAnOddAddress) {
    ZEBDevice& d = open(1, 0);
    uint8_t from[16] = {};
    d.FromAddress = from;
    d.FromAddressSize = 8;
    net().inject_to(static_cast<zeb::plat::Handle>(d.Socket), kModule, make_reply(1, {0x55}));
    const Outcome out = get_response(d, 64, 0, 1, 0);
    EXPECT_EQ(out.result, ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(endpoint_of(from), kModule);
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
}

}  // namespace
}  // namespace zebtest
