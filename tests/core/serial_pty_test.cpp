// The serial path of the operating system, over a pseudo-terminal standing in for COM1: raw
// mode, line settings, byte-exact transfer, and waits that end by the device's time-out.
// Timing of every other kind is tested on the simulated line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "core/link.h"
#include "core/platform/posix/serial_names.h"
#include "core/state.h"
#include "exchange.h"
#include "frames.h"
#include "state_guards.h"

namespace zebtest {
namespace {

// A pseudo-terminal whose slave appears as <dir>/ttyS0; the test holds the master side.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char slave[PATH_MAX];
        if (ptsname_r(master_, slave, sizeof slave) != 0) return;
        char dir[] = "/tmp/zebpty.XXXXXX";
        if (!mkdtemp(dir)) return;
        dir_ = dir;
        if (symlink(slave, (dir_ + "/ttyS0").c_str()) != 0) return;
        ok_ = true;
    }
    ~PseudoTerminal() {
        if (master_ >= 0) close(master_);
        if (!dir_.empty()) {
            unlink((dir_ + "/ttyS0").c_str());
            rmdir(dir_.c_str());
        }
    }

    bool ok() const { return ok_; }
    int master() const { return master_; }
    std::string prefix() const { return dir_ + "/ttyS"; }

    void write_all(const Bytes& b) {
        size_t done = 0;
        while (done < b.size()) {
            const ssize_t n = write(master_, b.data() + done, b.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ASSERT_GT(n, 0) << "write to the pseudo-terminal failed";
            done += static_cast<size_t>(n);
        }
    }
    // Reads until `want` bytes came or `quiet_ms` passed without any.
    Bytes read_some(size_t want, int quiet_ms = 5000) {
        Bytes got;
        uint8_t buf[512];
        while (got.size() < want) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, quiet_ms) <= 0) break;
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string dir_;
    bool ok_ = false;
};

// Every byte that a terminal in cooked mode would change, swallow or act upon.
const Bytes kControlBytes{0x0D, 0x0A, 0x03, 0x11, 0x13, 0x04, 0x1A, 0x7F, 0x00, 0xFF, 0x0D};

class Serial : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal";
        zeb::plat::set_serial_device_prefix(pty_.prefix());
        transport_.Kind = ZEB_TRANSPORT_SERIAL;
        ASSERT_EQ(ZEBOpenTransport(&transport_, ZEB_API_VERSION, nullptr), 0u);
        ASSERT_EQ(open(device_), 0u);
    }
    void TearDown() override {
        ZEBCloseDevice(&device_);
        ZEBCloseTransport(&transport_);
        zeb::plat::set_serial_device_prefix("/dev/ttyS");
    }
    uint32_t open(ZEBDevice& d, uint8_t data_bits = 8, uint8_t parity = 0, uint8_t stop_bits = 0,
                  uint32_t baud = 9600) {
        d.Address.Serial = {1, data_bits, parity, stop_bits, baud, nullptr};
        return ZEBOpenDevice(&transport_, &d, ZEB_API_VERSION, 100, 0, 0);
    }
    ScopedCrcMode crc_{1};
    PseudoTerminal pty_;
    ZEBTransport transport_{};
    ZEBDevice device_{};
};

TEST_F(Serial, RequestGoesOutByteExactAndTheReplyComesBackUnchanged) {
    zeb::state::set_next_sequence(300);
    const Bytes reply = make_reply(300, kControlBytes);
    pty_.write_all(reply);  // already waiting when the request goes out
    const Outcome out = send_packet(device_, kControlBytes, {.capacity = 64});
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, reply);
    const Bytes request = make_reply(300, kControlBytes);
    EXPECT_EQ(pty_.read_some(request.size()), request);
    EXPECT_TRUE(pty_.read_some(1, 100).empty()) << "bytes added to the request";
}

TEST_F(Serial, PortTakesTheRecordsLineSettingsInRawMode) {
    termios tio{};
    ASSERT_EQ(tcgetattr(pty_.master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    // A pseudo-terminal always keeps 8 data bits without parity, so only speed and stop bits
    // show a second setting.
    ZEBCloseDevice(&device_);
    ASSERT_EQ(open(device_, 7, 2, 2, 19200), 0u);
    ASSERT_EQ(tcgetattr(pty_.master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
}

TEST_F(Serial, SilentPortEndsTheWaitAtTheDevicesTimeout) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome out = send_packet(device_, kControlBytes, {.capacity = 64});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(out.result, ZEBERR_TIMEOUT);
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::milliseconds(900)) << "the port's own time-outs, not the device's";
}

TEST_F(Serial, NoWaitTakesOnlyWhatIsWaitingAndKeepsPartOfAFrame) {
    zeb::state::set_next_sequence(300);
    ASSERT_EQ(send_packet(device_, kControlBytes, {.want_reply = 0}).result, ZEBERR_NO_PACKET);
    const Bytes reply = make_reply(300, kControlBytes);
    pty_.write_all(Bytes(reply.begin(), reply.begin() + 12));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // through the terminal layer
    uint8_t buf[64];
    int32_t length = sizeof buf;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ZEBGetResponse(&device_, buf, &length, 1), ZEBERR_NO_PACKET);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    pty_.write_all(Bytes(reply.begin() + 12, reply.end()));
    const Outcome out = get_response(device_, 64, 0, 1, 1);
    EXPECT_EQ(out.result, 0u);
    EXPECT_EQ(out.reply, reply);
}

TEST_F(Serial, PortIsNotShared) {
    ZEBDevice second{};
    EXPECT_EQ(open(second), 32u);  // ERROR_SHARING_VIOLATION
    EXPECT_EQ(ZEBCloseDevice(&second), 0u);
}

TEST_F(Serial, MissingPortIsFileNotFoundAndTheRecordOwnsNoPort) {
    zeb::plat::set_serial_device_prefix(pty_.prefix() + "-missing");
    ZEBDevice d{};
    EXPECT_EQ(open(d), 2u);
    EXPECT_EQ(+d.Address.Serial.PortHandle, reinterpret_cast<void*>(intptr_t{-1}));
    uint8_t frame[9] = {};
    int32_t length = sizeof frame;
    EXPECT_EQ(zeb::SendFrame(&d, frame, sizeof frame), ZEBERR_BAD_DEVICE);
    EXPECT_EQ(zeb::ReceiveFrame(&d, frame, &length, 0), ZEBERR_BAD_DEVICE);
    EXPECT_EQ(ZEBCloseDevice(&d), 0u);
}

}  // namespace
}  // namespace zebtest
