// The operating system's sockets, on loopback only: every socket is bound to 127.0.0.1 and
// every datagram goes to 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "core/link.h"
#include "exchange.h"
#include "frames.h"
#include "sim_device.h"
#include "state_guards.h"

namespace zebtest {
namespace {

// A module played by the test: a UDP socket on 127.0.0.1 at a port of the system's choice.
class LoopbackModule {
  public:
    LoopbackModule() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(kHostIp);
        socklen_t len = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            return;
        }
        at_ = {kHostIp, ntohs(a.sin_port)};
    }
    ~LoopbackModule() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return at_.port != 0; }
    Endpoint at() const { return at_; }

    // One datagram and where it came from, waiting at most 5 s.
    bool receive(Bytes* data, Endpoint* from) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) return false;
        uint8_t buf[2048];
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &len);
        if (n < 0) return false;
        data->assign(buf, buf + n);
        *from = {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
        return true;
    }
    bool send(const Bytes& data, Endpoint to) {
        if ((to.ip >> 24) != 127) return false;  // loopback only
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(to.ip);
        a.sin_port = htons(to.port);
        return sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a),
                      sizeof a) == static_cast<ssize_t>(data.size());
    }

  private:
    int fd_ = -1;
    Endpoint at_;
};

Endpoint local_of(const ZEBDevice& d) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(static_cast<int>(d.Socket), reinterpret_cast<sockaddr*>(&a), &len);
    return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

class Loopback : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(module_.ok()); }
    ScopedCrcMode crc_{1};
    LoopbackModule module_;
};

TEST_F(Loopback, RequestAndReplyTravelOverRealSockets) {
    IpDevice dev(module_.at(), {.timeout = 5000});
    ASSERT_EQ(dev.device_result, 0u);
    EXPECT_EQ(local_of(dev.device).ip, kHostIp);
    const Outcome sent = send_packet(dev.device, text_bytes("ping"), {.want_reply = 0});
    EXPECT_EQ(sent.result, ZEBERR_NO_PACKET);

    Bytes request;
    Endpoint from;
    ASSERT_TRUE(module_.receive(&request, &from));
    EXPECT_EQ(request, make_reply(+dev->LastSequence, text_bytes("ping")));
    EXPECT_EQ(from, local_of(dev.device));

    const Bytes reply = make_reply(sequence_of(request), text_bytes("pong"));
    ASSERT_TRUE(module_.send(reply, from));
    const Outcome got = get_response(dev.device, 64, 0, 1, 1);
    EXPECT_EQ(got.result, 0u);
    EXPECT_EQ(got.reply, reply);
}

TEST_F(Loopback, DatagramLargerThanTheBufferIsAnErrorAndTheNextOneIsWhole) {
    IpDevice dev(module_.at(), {.timeout = 5000});
    ASSERT_EQ(dev.device_result, 0u);
    const Endpoint device_at = local_of(dev.device);
    ASSERT_TRUE(module_.send(Bytes(200, 0x41), device_at));
    ASSERT_TRUE(module_.send(make_reply(0, text_bytes("small")), device_at));
    const Outcome big = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(big.result, 10040u);  // WSAEMSGSIZE
    EXPECT_EQ(big.length, 0);
    const Outcome small = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(small.result, 0u);
    EXPECT_EQ(payload_of(small.reply), text_bytes("small"));
}

// A broadcast-mode device only receives here: nothing is broadcast.
TEST_F(Loopback, SenderAddressHasTheLibraryLayout) {
    IpDevice dev(module_.at(), {.timeout = 5000, .retries = 0, .broadcast = 1});
    ASSERT_EQ(dev.device_result, 0u);
    uint8_t from[16];
    std::memset(from, 0xCC, sizeof from);
    dev->FromAddress = from;
    dev->FromAddressSize = sizeof from;
    ASSERT_TRUE(module_.send(make_reply(0, {0x55}), local_of(dev.device)));
    const Outcome got = get_response(dev.device, 64, 0, 1, 0);
    EXPECT_EQ(got.result, 0u);
    const SocketAddress expected = socket_address(module_.at());
    EXPECT_EQ(std::memcmp(from, expected.data(), expected.size()), 0);
}

// Opening an IPX device fails at socket creation; the record then holds Socket 0, which on
// this platform is standard input, and closing the record must leave it alone.
TEST(RealPlatform, FailedIpxOpenNeverClosesDescriptorZero) {
    struct stat before {};
    if (fstat(0, &before) != 0) {
        const int fd = open("/dev/null", O_RDONLY);  // makes sure that 0 is open
        ASSERT_EQ(fd, 0);
        ASSERT_EQ(fstat(0, &before), 0);
    }
    SocketAddress source = socket_address({kHostIp, 0});
    ZEBTransport t{};
    t.Kind = ZEB_TRANSPORT_WINSOCK;
    t.Protocol = ZEB_PROTOCOL_IPX;
    ASSERT_EQ(ZEBOpenTransport(&t, ZEB_API_VERSION, source.data()), 0u);
    ZEBDevice d{};
    EXPECT_EQ(ZEBOpenDevice(&t, &d, ZEB_API_VERSION, 100, 0, 0), 10047u);  // WSAEAFNOSUPPORT
    EXPECT_EQ(+d.Socket, 0u);
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
    EXPECT_EQ(ZEBCloseTransport(&t), 0u);

    struct stat after {};
    ASSERT_EQ(fstat(0, &after), 0) << "descriptor 0 was closed";
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_dev, before.st_dev);
}

}  // namespace
}  // namespace zebtest
