// The serial path on a real Windows COM port. scripts/test-windows-suites links COMn of the Wine
// prefix to a pseudo-terminal whose other side socat carries over loopback UDP, so the test
// plays the far end of the line with a socket: every byte crosses the COM port both ways.
//   ZEB_TEST_COM_PORT  n, the port to open
//   ZEB_TEST_COM_LINE  a:b, the test's UDP port (a) and socat's (b), both on 127.0.0.1
// Without them the tests are skipped, and say so.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "core/platform/platform.h"
#include "core/state.h"
#include "exchange.h"
#include "frames.h"
#include "state_guards.h"
#include "winsock_peer.h"

namespace zebtest {
namespace {

// Every byte that a terminal left in cooked mode would change, swallow or act upon.
const Bytes kControlBytes{0x0D, 0x0A, 0x03, 0x11, 0x13, 0x04, 0x1A, 0x7F, 0x00, 0xFF, 0x0D};
constexpr uint16_t kSequence = 300;

Bytes joined(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SerialCom : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* port = std::getenv("ZEB_TEST_COM_PORT");
        const char* line = std::getenv("ZEB_TEST_COM_LINE");
        unsigned mine = 0, theirs = 0;
        if (!port || !line || std::sscanf(line, "%u:%u", &mine, &theirs) != 2) {
            GTEST_SKIP() << "no COM port with a line behind it here (ZEB_TEST_COM_PORT and "
                            "ZEB_TEST_COM_LINE unset; scripts/test-windows-suites sets them)";
        }
        port_ = static_cast<uint8_t>(std::atoi(port));
        socat_port_ = static_cast<uint16_t>(theirs);
        line_ = std::make_unique<UdpPeer>(static_cast<uint16_t>(mine));
        ASSERT_TRUE(line_->ok()) << "cannot bind 127.0.0.1:" << mine;
        transport_.Kind = ZEB_TRANSPORT_SERIAL;
        ASSERT_EQ(ZEBOpenTransport(&transport_, ZEB_API_VERSION, nullptr), 0u);
        ASSERT_EQ(open(device_), 0u);
        zeb::state::set_next_sequence(kSequence);
    }
    void TearDown() override {
        ZEBCloseDevice(&device_);
        ZEBCloseTransport(&transport_);
        if (line_) line_->receive_bytes(SIZE_MAX, 50);  // what the host wrote and nobody read
    }
    uint32_t open(ZEBDevice& d, uint16_t timeout_ms = 300) {
        d.Address.Serial = {port_, 8, 0, 0, 9600, nullptr};
        return ZEBOpenDevice(&transport_, &d, ZEB_API_VERSION, timeout_ms, 0, 0);
    }
    // Bytes onto the line, towards the host.
    void to_host(const Bytes& b) { ASSERT_TRUE(line_->send_to(b, socat_port_)); }
    // What the host wrote, until `want` bytes or a quiet second.
    Bytes from_host(size_t want) { return line_->receive_bytes(want, 1000); }
    // A request whose reply the line answers with `line` bytes, sent before the call.
    Outcome answered_with(const Bytes& line, int32_t capacity = 64) {
        to_host(line);
        const Outcome out = send_packet(device_, kControlBytes, {.capacity = capacity});
        EXPECT_EQ(from_host(out.request.size()).size(), out.request.size());
        return out;
    }

    ScopedCrcMode crc_{1};
    uint8_t port_ = 0;
    uint16_t socat_port_ = 0;
    std::unique_ptr<UdpPeer> line_;
    ZEBTransport transport_{};
    ZEBDevice device_{};
};

TEST_F(SerialCom, RequestLeavesByteExactAndTheReplyReturnsUnchanged) {
    const Bytes reply = make_reply(kSequence, kControlBytes);
    to_host(reply);
    const Outcome out = send_packet(device_, kControlBytes, {.capacity = 64});
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, reply);
    EXPECT_EQ(from_host(reply.size()), make_reply(kSequence, kControlBytes));
    EXPECT_TRUE(line_->receive_bytes(1, 200).empty()) << "bytes added to the request";
}

// The device's deadline ends the wait, not the port's own one-second time-outs: ten times the
// deadline takes several times as long (a ratio, which a loaded machine cannot upset).
// Windows keeps a port's settings from one program to the next. A port that another program
// left with software flow control and null stripping must still carry every byte both ways.
TEST_F(SerialCom, SettingsLeftByAnotherProgramDoNotEatBytes) {
    ZEBCloseDevice(&device_);
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%u", unsigned{port_});
    const HANDLE other =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(other, &dcb));
    dcb.fOutX = TRUE;  // XON/XOFF both ways
    dcb.fInX = TRUE;
    dcb.fNull = TRUE;  // received zero bytes dropped
    ASSERT_TRUE(SetCommState(other, &dcb));
    CloseHandle(other);

    ASSERT_EQ(open(device_), 0u);
    const Bytes reply = make_reply(kSequence, kControlBytes);
    to_host(reply);
    const Outcome out = send_packet(device_, kControlBytes, {.capacity = 64});
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, reply);
    EXPECT_EQ(from_host(reply.size()), make_reply(kSequence, kControlBytes));
}

TEST_F(SerialCom, SilentLineEndsTheWaitAtTheDevicesDeadline) {
    auto silent_wait = [&](uint16_t timeout_ms) {
        ZEBCloseDevice(&device_);
        EXPECT_EQ(open(device_, timeout_ms), 0u);
        const double start = wall_seconds();
        EXPECT_EQ(send_packet(device_, kControlBytes, {.capacity = 64}).result, ZEBERR_TIMEOUT);
        const double took = wall_seconds() - start;
        EXPECT_GE(took, timeout_ms / 1000.0 * 0.99);
        from_host(SIZE_MAX);
        return took;
    };
    const double short_wait = silent_wait(150);
    const double long_wait = silent_wait(3000);
    std::printf("silent line: %.0f ms at a 150 ms deadline, %.0f ms at 3000 ms\n",
                short_wait * 1000, long_wait * 1000);
    EXPECT_GT(long_wait / short_wait, 3.0) << "the wait did not follow the device's deadline";
}

TEST_F(SerialCom, FrameInPiecesIsAssembled) {
    const Bytes reply = make_reply(kSequence, kControlBytes);
    // Part of the frame, then a no-wait call: it takes what is there and keeps it.
    ASSERT_EQ(send_packet(device_, kControlBytes, {.want_reply = 0}).result, ZEBERR_NO_PACKET);
    from_host(reply.size());
    to_host(Bytes(reply.begin(), reply.begin() + 12));
    Sleep(100);  // through socat and the terminal
    uint8_t buf[64];
    int32_t length = sizeof buf;
    EXPECT_EQ(ZEBGetResponse(&device_, buf, &length, 1), ZEBERR_NO_PACKET);
    to_host(Bytes(reply.begin() + 12, reply.end()));
    Outcome out = get_response(device_, 64, 0, 1, 1);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, reply);

    // A frame that trickles in a few bytes at a time while the call waits.
    const Bytes second = make_reply(kSequence + 1, Bytes(40, 0x5A));
    std::thread line([&] {
        for (size_t at = 0; at < second.size(); at += 7) {
            Sleep(20);
            line_->send_to(
                Bytes(second.begin() + at, second.begin() + std::min(at + 7, second.size())),
                socat_port_);
        }
    });
    ZEBCloseDevice(&device_);
    ASSERT_EQ(open(device_, 5000), 0u);
    out = send_packet(device_, Bytes(40, 0x5A), {.capacity = 64});
    line.join();
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, second);
}

TEST_F(SerialCom, NoiseBeforeTheFrameIsSkipped) {
    const Bytes noise = {0x00, 0xFF, 'Z', 'Q', 0x01, 'Z', 'Z', 'Q', 'k', 'Q', 'K', 'Z'};
    const Outcome out = answered_with(joined(noise, make_reply(kSequence, text_bytes("found"))));
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, make_reply(kSequence, text_bytes("found")));
}

// A header whose length field says far more than the caller's buffer holds is refused as soon
// as it is in; the frame behind it still reads.
TEST_F(SerialCom, OversizedLengthIsRefusedAndTheNextFrameReads) {
    Bytes header = make_frame(kSequence, 0, {});
    header[7] = 0xF0;
    header[8] = 0xFF;
    const Bytes real = make_reply(kSequence, text_bytes("real"));
    const Outcome first = answered_with(joined(header, real), 600);
    EXPECT_EQ(first.result, ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(first.length, 0);
    const Outcome next = get_response(device_, 600, 0, 1, 1);
    EXPECT_EQ(next.result, 0u);
    EXPECT_EQ(next.reply, real);
}

// Waits that watch the port beside a socket (which WSAPoll and select() cannot watch) wake when
// bytes arrive on the line, long before their time-outs.
TEST_F(SerialCom, WaitsAmongSocketsWakeForBytesOnThePort) {
    auto& p = zeb::plat::system_platform();
    const auto port = reinterpret_cast<zeb::plat::Handle>(device_.Address.Serial.PortHandle);
    UdpPeer silent;
    ASSERT_TRUE(silent.ok());
    const zeb::plat::Handle handles[] = {static_cast<zeb::plat::Handle>(silent.socket()), port};
    auto arriving_later = [&] {
        return std::thread([&] {
            Sleep(100);
            line_->send_to(text_bytes("wake"), socat_port_);
        });
    };
    std::thread line = arriving_later();
    double start = wall_seconds();
    p.wait_readable(handles, 2, 20000);
    EXPECT_LT(wall_seconds() - start, 10.0) << "bytes on the port did not end wait_readable";
    line.join();
    uint8_t buf[16];
    uint32_t got = 0;
    EXPECT_EQ(p.serial_read(port, buf, sizeof buf, &got, 1000), 0u);
    EXPECT_EQ(Bytes(buf, buf + got), text_bytes("wake"));

    zeb::plat::Handle set;
    ASSERT_EQ(p.ready_set_open(&set), 0u);
    ASSERT_EQ(p.ready_set_add(set, handles[0], 1), 0u);
    ASSERT_EQ(p.ready_set_add(set, port, 2), 0u);
    line = arriving_later();
    start = wall_seconds();
    uint32_t tags[2];
    const size_t n = p.ready_set_wait(set, tags, 2, 20000);
    const double took = wall_seconds() - start;
    line.join();
    p.ready_set_close(set);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(tags[0], 2u);
    EXPECT_LT(took, 10.0) << "bytes on the port did not end the ready set's wait";
    EXPECT_EQ(p.serial_read(port, buf, sizeof buf, &got, 1000), 0u);
    EXPECT_EQ(Bytes(buf, buf + got), text_bytes("wake"));
}

TEST_F(SerialCom, PortIsNotShared) {
    if (under_wine()) {
        GTEST_SKIP() << "Wine opens a COM port a second time although it was opened without "
                        "sharing; Windows refuses with ERROR_SHARING_VIOLATION";
    }
    ZEBDevice second{};
    EXPECT_EQ(open(second), 32u);  // ERROR_SHARING_VIOLATION
    EXPECT_EQ(ZEBCloseDevice(&second), 0u);
}

TEST_F(SerialCom, MissingPortIsFileNotFoundAndTheRecordOwnsNoPort) {
    ZEBDevice missing{};
    missing.Address.Serial = {200, 8, 0, 0, 9600, nullptr};  // \\.\COM200: nothing there
    EXPECT_EQ(ZEBOpenDevice(&transport_, &missing, ZEB_API_VERSION, 100, 0, 0), 2u);
    EXPECT_EQ(+missing.Address.Serial.PortHandle, reinterpret_cast<void*>(intptr_t{-1}));
    EXPECT_EQ(ZEBCloseDevice(&missing), 0u);
}

}  // namespace
}  // namespace zebtest
