// One module, opened directly, with what sits behind it: its controller (CCM and K-sequence),
// memory areas, shared RAM and serial ports, driven through the library over loopback.
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "rack_fixture.h"

namespace zebtest {
namespace {

constexpr uint32_t kPress = 0x7F000002;

// Module status words, as the library returns them (sign-extended 16-bit values).
constexpr uint32_t kNoSuchArea = 0x81;
constexpr uint32_t kOutsideArea = 0x82;
constexpr uint32_t kReadOnly = 0x83;
constexpr uint32_t kPartialRead = 0x86;

class Controller : public RackTest {
  protected:
    void SetUp() override {
        racksim::Module m = qx_module("press", 1);
        m.controller.scripts.push_back({{'S', 'T', '?'}, {'R', 'U', 'N'}});
        serve({std::move(m)});
        open_transport();
        open_at(device_, kPress);
    }
    ZEBDevice device_{};
};

using Bytes = std::vector<uint8_t>;

TEST_F(Controller, CcmWritesAreReadBackAndRefusalsAreTheControllersStatus) {
    Bytes block = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ZEBCCMRequest(&device_, 1, 1, 0x100, 8, block.data()), 0u);
    EXPECT_EQ(block, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));  // the controller's copy comes back
    Bytes back(8, 0);
    EXPECT_EQ(ZEBCCMRequest(&device_, 0, 1, 0xFE, 8, back.data()), 0u);
    EXPECT_EQ(back, (Bytes{0, 0, 1, 2, 3, 4, 5, 6}));

    Bytes untouched(4, 0xEE);
    EXPECT_EQ(ZEBCCMRequest(&device_, 0, 42, 0, 4, untouched.data()), kNoSuchArea);
    EXPECT_EQ(ZEBCCMRequest(&device_, 0, 1, 510, 4, untouched.data()), kOutsideArea);
    EXPECT_EQ(ZEBCCMRequest(&device_, 1, 2, 0, 4, untouched.data()), kReadOnly);
    EXPECT_EQ(untouched, Bytes(4, 0xEE));

    // 256 bytes travel with a count byte of 0.
    Bytes full(256);
    for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(255 - i);
    EXPECT_EQ(ZEBCCMRequest(&device_, 1, 1, 256, 256, full.data()), 0u);
    Bytes full_back(256, 0);
    EXPECT_EQ(ZEBCCMRequest(&device_, 0, 1, 256, 256, full_back.data()), 0u);
    EXPECT_EQ(full_back, full);
}

TEST_F(Controller, KSequenceMessagesAreAnsweredAndCutToTheCallersRoom) {
    Bytes buffer = {'S', 'T', '?', 0, 0};
    uint16_t size = 5;
    EXPECT_EQ(ZEBKSEQRequest(&device_, 3, buffer.data(), &size), 0u);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3), (Bytes{'R', 'U', 'N'}));

    Bytes echo = {9, 8, 7, 6, 5, 4};
    size = 4;
    EXPECT_EQ(ZEBKSEQRequest(&device_, 6, echo.data(), &size), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(echo, (Bytes{9, 8, 7, 6, 5, 4}));
}

TEST_F(Controller, NoWaitSendsTheRequestAndTheControllerCarriesItOut) {
    device_.NoWait = 1;
    Bytes block = {0xAB, 0xCD};
    EXPECT_EQ(ZEBCCMRequest(&device_, 1, 3, 10, 2, block.data()), ZEBERR_NO_PACKET);
    device_.NoWait = 0;
    usleep(50000);  // its acknowledgement and answer arrive meanwhile, for nobody
    Bytes back(2, 0);
    EXPECT_EQ(ZEBCCMRequest(&device_, 0, 3, 10, 2, back.data()), 0u);
    EXPECT_EQ(back, (Bytes{0xAB, 0xCD}));
}

// The listing entry layout: type, start, size, flags, then a 10-byte name.
struct Area {
    uint16_t type;
    uint32_t start, size;
    uint16_t flags;
    std::string name;
};

Area area_of(const ZEBMemoryArea& a) {
    const uint8_t* d = a.Data;
    auto u16 = [&](int at) { return static_cast<uint16_t>(d[at] | d[at + 1] << 8); };
    auto u32 = [&](int at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
    return {u16(0), u32(2), u32(6), u16(10),
            std::string(reinterpret_cast<const char*>(d + 12),
                        strnlen(reinterpret_cast<const char*>(d + 12), 10))};
}

TEST_F(Controller, MemoryIsListedReadAndWritten) {
    ZEBMemoryArea areas[8] = {};
    uint16_t count = 8;
    ASSERT_EQ(ZEBENumMemory(&device_, &count, areas), 0u);
    ASSERT_EQ(count, 3);
    const Area rom = area_of(areas[2]);
    EXPECT_EQ(rom.type, 3);
    EXPECT_EQ(rom.start, 0x8000u);
    EXPECT_EQ(rom.size, 256u);
    EXPECT_EQ(rom.flags, 1);  // readable, not writable
    EXPECT_EQ(rom.name, "ROM");
    count = 2;
    EXPECT_EQ(ZEBENumMemory(&device_, &count, areas), ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2);

    const Bytes data = {0x10, 0x20, 0x30};
    EXPECT_EQ(ZEBWriteMemory(&device_, 1, 2045, 3, data.data()), 0u);
    Bytes back(5, 0xEE);
    // Past the end of RAM: the bytes there, then zeros, and the module says so.
    EXPECT_EQ(ZEBReadMemory(&device_, 1, 2045, 5, back.data()), kPartialRead);
    EXPECT_EQ(back, (Bytes{0x10, 0x20, 0x30, 0, 0}));
    EXPECT_EQ(ZEBWriteMemory(&device_, 1, 2046, 3, data.data()), kOutsideArea);
    EXPECT_EQ(ZEBWriteMemory(&device_, 3, 0x8000, 3, data.data()), kReadOnly);

    // One batch: a write, then reads of what it wrote and of ROM.
    Bytes source = {0xCA, 0xFE};
    Bytes ram(4, 0), rom_bytes(3, 0);
    ZEBMemoryItem items[] = {{1, 2, 100, 2, source.data()},
                             {0, 2, 99, 4, ram.data()},
                             {0, 3, 0x8010, 3, rom_bytes.data()}};
    EXPECT_EQ(ZEBAccessMemory(&device_, items, 3), 0u);
    EXPECT_EQ(ram, (Bytes{0, 0xCA, 0xFE, 0}));
    EXPECT_EQ(rom_bytes, (Bytes{0x10, 0x11, 0x12}));
}

TEST_F(Controller, SharedRamKeepsTheFlaggedWindowApart) {
    const Bytes control = {8, 0, 0, 0, 4, 0};
    EXPECT_EQ(ZEBWriteSharedRAM(&device_, 0, 0, 0x8030, 6, control.data()), 0u);
    Bytes flagged(6, 0), plain(6, 0xEE);
    EXPECT_EQ(ZEBReadSharedRAM(&device_, 0, 0, 0x8030, 6, flagged.data()), 0u);
    EXPECT_EQ(flagged, control);
    EXPECT_EQ(ZEBReadSharedRAM(&device_, 0, 0, 0x0030, 6, plain.data()), 0u);
    EXPECT_EQ(plain, Bytes(6, 0));
    EXPECT_EQ(ZEBReadSharedRAM(&device_, 0, 1, 0x0030, 6, plain.data()), kNoSuchArea);
}

// Polls until the port has received `n` bytes, for at most a second.
uint16_t wait_received(ZEBDevice* d, uint32_t port, uint16_t n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    uint16_t available = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (ZEBGetRXAvailableEx(d, port, &available) == 0 && available >= n) break;
        usleep(2000);
    }
    return available;
}

TEST_F(Controller, SerialBytesComeBackThroughTheLoopback) {
    const Bytes line = {'h', 'e', 'l', 'l', 'o', '\r', '\n'};
    EXPECT_EQ(ZEBWriteComm(&device_, 7, line.data()), 0u);  // the module's port 1
    EXPECT_EQ(wait_received(&device_, 1, 7), 7);
    uint16_t left = 0xFFFF;
    EXPECT_EQ(ZEBGetTXLeft(&device_, &left), 0u);
    EXPECT_EQ(left, 0);
    Bytes in(100, 0);
    uint16_t count = 100;
    EXPECT_EQ(ZEBReadComm(&device_, &count, in.data()), 0u);
    ASSERT_EQ(count, 7);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 7), line);

    // Port 2 has queues of its own.
    EXPECT_EQ(ZEBWriteCommEx(&device_, 2, 3, line.data()), 0u);
    EXPECT_EQ(wait_received(&device_, 2, 3), 3);
    uint16_t available = 0xFFFF;
    EXPECT_EQ(ZEBGetRXAvailable(&device_, &available), 0u);
    EXPECT_EQ(available, 0);
    EXPECT_EQ(ZEBFlushRXQueueEx(&device_, 2), 0u);
    EXPECT_EQ(ZEBGetRXAvailableEx(&device_, 2, &available), 0u);
    EXPECT_EQ(available, 0);
    EXPECT_EQ(ZEBFlushTXQueueEx(&device_, 2), 0u);
    EXPECT_EQ(ZEBFlushRXQueue(&device_), 0u);
    // There is no port 3; port 0 goes out as 0xFF, which no module port answers either.
    count = 10;
    EXPECT_EQ(ZEBReadCommEx(&device_, 3, &count, in.data()), 0x90u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ZEBWriteCommEx(&device_, 0, 1, line.data()), 0x90u);
}

TEST_F(Controller, PortSetupsAreTakenAndReadBack) {
    // 19200 baud, 7 data bits, even parity, one stop bit, no flow control.
    const ZEBSerialSetup fast = {{0x00, 0x4B, 0x00, 0x00, 7, 2, 0, 0}};
    EXPECT_EQ(ZEBSetupSerialPort(&device_, &fast, 0), 0u);
    ZEBSerialSetup back{};
    EXPECT_EQ(ZEBReadSerialPortSetup(&device_, &back), 0u);
    EXPECT_EQ(std::memcmp(back.Data, fast.Data, 8), 0);

    // Waiting for the port: an acknowledgement, then the answer once the queue has left.
    const Bytes pending(200, 0x55);  // about a fifth of a second at 9600 baud
    EXPECT_EQ(ZEBWriteCommEx(&device_, 2, 180, pending.data()), 0u);
    const uint16_t timeout = device_.Timeout;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ZEBSetupSerialPortEx(&device_, 2, &fast, 1), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(device_.Timeout, timeout);
    EXPECT_EQ(ZEBReadSerialPortSetupEx(&device_, 2, &back), 0u);
    EXPECT_EQ(std::memcmp(back.Data, fast.Data, 8), 0);
    uint16_t available = 0;
    EXPECT_EQ(ZEBGetRXAvailableEx(&device_, 2, &available), 0u);
    EXPECT_EQ(available, 180);

    // Settings the port cannot take: 9 data bits.
    const ZEBSerialSetup bad = {{0x80, 0x25, 0x00, 0x00, 9, 0, 0, 0}};
    EXPECT_EQ(ZEBSetupSerialPort(&device_, &bad, 0), 0x92u);
    ZEBSerialSetup missing{};
    EXPECT_EQ(ZEBReadSerialPortSetupEx(&device_, 3, &missing), ZEBERR_NO_DATA);
}

TEST_F(Controller, AccessCommWritesAndAnswersInOneExchange) {
    Bytes question(1000);
    for (size_t i = 0; i < question.size(); ++i) question[i] = static_cast<uint8_t>(i * 7);
    Bytes answer(1000, 0);
    uint16_t count = 1000;
    // A second and more of line time at 9600 baud: give the reply that long.
    device_.Timeout = 1500;
    EXPECT_EQ(ZEBAccessComm(&device_, 1000, question.data(), &count, answer.data()), 0u);
    ASSERT_GT(count, 900);  // what came back within the module's second
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + count),
              Bytes(question.begin(), question.begin() + count));

    // What was still on the line when the answer left must not come before the next one.
    EXPECT_EQ(ZEBFlushTXQueueEx(&device_, 1), 0u);
    EXPECT_EQ(ZEBFlushRXQueue(&device_), 0u);
    const Bytes ping = {'?', '\r'};
    count = 1;
    device_.Timeout = 200;
    EXPECT_EQ(ZEBAccessComm(&device_, 2, ping.data(), &count, answer.data()),
              ZEBERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(answer[0], '?');
}

}  // namespace
}  // namespace zebtest
