// A controller module's serial ports through its services: settings kept and handed back byte
// for byte, written data read back through the loopback, queues, errors and port names.
#include <gtest/gtest.h>

#include <random>

#include "xcpu_util.h"

namespace racksim {
namespace {

using namespace test;
using zebtest::TempFolder;

struct Ports {
    TempFolder root;
    Rack rack = controller_rack(root.path());
};

Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
    return b;
}

TEST(XcpuSerial, SettingsRoundTripByteForByte) {
    Ports p;
    const uint32_t port = open_file(p.rack, "COM2:", kReadWrite, kOpenExisting);
    ASSERT_NE(port, kBadHandle);
    std::mt19937 rng(3);
    for (int i = 0; i < 50; ++i) {
        Bytes dcb = random_bytes(rng, 28);
        dcb[4] |= 1;                                    // a baud rate
        dcb[18] = static_cast<uint8_t>(5 + rng() % 4);  // data bits
        dcb[19] = static_cast<uint8_t>(rng() % 5);      // parity
        dcb[20] = static_cast<uint8_t>(rng() % 3);      // stop bits
        ASSERT_EQ(call(p.rack, svc::kSetCommState, Args().u32(port).raw(dcb).b).value, 1u);
        EXPECT_EQ(call(p.rack, svc::kGetCommState, Args().u32(port).b).out, dcb);
        const Bytes timeouts = random_bytes(rng, 20);
        ASSERT_EQ(call(p.rack, svc::kSetCommTimeouts, Args().u32(port).raw(timeouts).b).value, 1u);
        EXPECT_EQ(call(p.rack, svc::kGetCommTimeouts, Args().u32(port).b).out, timeouts);
    }
    // Settings a port cannot take are refused and the old ones stay.
    const Bytes kept = call(p.rack, svc::kGetCommState, Args().u32(port).b).out;
    Bytes bad = kept;
    bad[18] = 9;
    EXPECT_EQ(call(p.rack, svc::kSetCommState, Args().u32(port).raw(bad).b).value, 0u);
    EXPECT_EQ(last_error(p.rack), 87u);
    EXPECT_EQ(call(p.rack, svc::kGetCommState, Args().u32(port).b).out, kept);
    // Each port keeps its own.
    const uint32_t other = open_file(p.rack, "com1", kReadWrite, kOpenExisting);
    EXPECT_NE(call(p.rack, svc::kGetCommState, Args().u32(other).b).out, kept);
}

TEST(XcpuSerial, WrittenDataIsReadBack) {
    Ports p;
    const uint32_t port = open_file(p.rack, "\\\\.\\COM1", kReadWrite, kOpenExisting);
    ASSERT_NE(port, kBadHandle);
    const Bytes hello{'h', 'e', 'l', 'l', 'o', 0, 0xFF};
    const ServiceReply w = call(p.rack, svc::kWriteFile, Args().u32(port).u32(7).raw(hello).b);
    EXPECT_EQ(w.value, 1u);
    EXPECT_EQ(w.out, Args().u32(7).b);
    EXPECT_EQ(call(p.rack, svc::kClearCommError, Args().u32(port).b).out,
              Args().u32(0).u32(0).u32(7).u32(0).b);
    EXPECT_EQ(call(p.rack, svc::kReadFile, Args().u32(port).u32(3).b).out,
              (Bytes{3, 0, 0, 0, 'h', 'e', 'l'}));
    EXPECT_EQ(call(p.rack, svc::kReadFile, Args().u32(port).u32(100).b).out,
              (Bytes{4, 0, 0, 0, 'l', 'o', 0, 0xFF}));
    // Nothing left: a read returns at once with none.
    const ServiceReply empty = call(p.rack, svc::kReadFile, Args().u32(port).u32(100).b);
    EXPECT_EQ(empty.value, 1u);
    EXPECT_EQ(empty.out, Bytes(4, 0));
    EXPECT_EQ(call(p.rack, svc::kFlushFileBuffers, Args().u32(port).b).value, 1u);
}

TEST(XcpuSerial, AFullQueueLosesTheRestAndSaysSoOnce) {
    Ports p;
    const uint32_t port = open_file(p.rack, "COM3:", kReadWrite, kOpenExisting);
    Bytes chunk(1500, 0x42);
    for (int i = 0; i < 3; ++i)
        call(p.rack, svc::kWriteFile, Args().u32(port).u32(1500).raw(chunk).b);
    const ServiceReply e = call(p.rack, svc::kClearCommError, Args().u32(port).b);
    EXPECT_EQ(u32_at(e.out, 0), 1u);  // receive queue overflow
    EXPECT_EQ(u32_at(e.out, 8), kOsPortQueue);
    EXPECT_EQ(u32_at(call(p.rack, svc::kClearCommError, Args().u32(port).b).out, 0), 0u);
    size_t total = 0;
    for (;;) {
        const ServiceReply r = call(p.rack, svc::kReadFile, Args().u32(port).u32(5000).b);
        const uint32_t n = u32_at(r.out, 0);
        EXPECT_LE(n, 1581u);
        if (n == 0) break;
        total += n;
    }
    EXPECT_EQ(total, kOsPortQueue);
}

TEST(XcpuSerial, OneHandlePerPortAndPortsApartFromFiles) {
    Ports p;
    const uint32_t port = open_file(p.rack, "COM4:", kReadWrite, kOpenExisting);
    ASSERT_NE(port, kBadHandle);
    EXPECT_EQ(open_file(p.rack, "COM4:", kReadWrite, kOpenExisting), kBadHandle);
    EXPECT_EQ(last_error(p.rack), 5u);
    EXPECT_EQ(open_file(p.rack, "COM5:", kReadWrite, kOpenExisting), kBadHandle);
    EXPECT_EQ(last_error(p.rack), 2u);
    call(p.rack, svc::kWriteFile, Args().u32(port).u32(2).raw({1, 2}).b);
    // File services that make no sense on a port, and port services on a file.
    EXPECT_EQ(call(p.rack, svc::kGetFileSize, Args().u32(port).b).value, 0xFFFFFFFFu);
    EXPECT_EQ(last_error(p.rack), 6u);
    const uint32_t file = open_file(p.rack, "COM4.txt", kReadWrite, kCreateNew);
    ASSERT_NE(file, kBadHandle);
    EXPECT_EQ(call(p.rack, svc::kGetCommState, Args().u32(file).b).value, 0u);
    EXPECT_EQ(last_error(p.rack), 6u);
    EXPECT_EQ(call(p.rack, svc::kPurgeComm, Args().u32(port).u32(0x10).b).value, 0u);
    EXPECT_EQ(last_error(p.rack), 87u);
    // Closing drops what was queued; the port opens again.
    ASSERT_TRUE(close_handle(p.rack, port));
    const uint32_t again = open_file(p.rack, "COM4:", kReadWrite, kOpenExisting);
    ASSERT_NE(again, kBadHandle);
    EXPECT_NE(again, port);
    EXPECT_EQ(call(p.rack, svc::kReadFile, Args().u32(again).u32(10).b).out, Bytes(4, 0));
    EXPECT_EQ(call(p.rack, svc::kReadFile, Args().u32(port).u32(10).b).value, 0u);
}

}  // namespace
}  // namespace racksim
