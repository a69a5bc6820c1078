// I/O with several modules at once.
#include "rack_fixture.h"

namespace zebtest {
namespace {

class ParallelIo : public RackTest {
  protected:
    void SetUp() override {
        serve({qx_module("press", 1), qx_module("packer", 2)});
        open_transport();
        open_at(a_, 0x7F000002, 100, 2);
        open_at(b_, 0x7F000003, 100, 2);
    }
    ZEBDevice a_{}, b_{};
};

TEST_F(ParallelIo, ReadsEveryListedDeviceAndPassesOverNullEntries) {
    uint8_t in_a[1000] = {}, in_b[1000] = {};
    ZEBDevice* devices[3] = {&a_, nullptr, &b_};
    uint8_t* buffers[3] = {in_a, nullptr, in_b};
    uint16_t sizes[3] = {1000, 77, 1000};
    uint32_t results[3] = {1, 0xABCD, 1};
    EXPECT_EQ(ZEBReadIOEx(devices, buffers, sizes, results, 3), 0u);
    EXPECT_EQ(results[0], 0u);
    EXPECT_EQ(results[2], 0u);
    EXPECT_GT(sizes[0], 0);
    EXPECT_GT(sizes[2], 0);
    EXPECT_EQ(results[1], 0xABCDu);
    EXPECT_EQ(sizes[1], 77);
    EXPECT_EQ(ZEBReadIOEx(devices, buffers, sizes, results, 0), 0u);
}

TEST_F(ParallelIo, SilentDeviceIsSentRetriesPlusOneRequestsThenTimesOut) {
    rack([](racksim::Rack& r) { r.module(1).faults.drop_fraction = 1.0; });
    uint8_t in_a[1000] = {}, in_b[1000] = {};
    ZEBDevice* devices[2] = {&a_, &b_};
    uint8_t* buffers[2] = {in_a, in_b};
    uint16_t sizes[2] = {1000, 1000};
    uint32_t results[2] = {};
    EXPECT_EQ(ZEBReadIOEx(devices, buffers, sizes, results, 2), 0u);
    EXPECT_EQ(results[0], 0u);
    EXPECT_EQ(results[1], ZEBERR_TIMEOUT);
    EXPECT_EQ(+b_.ResendCount, 2);
    EXPECT_EQ(+b_.FromAddressSize, 2u);
    EXPECT_EQ(rack([](racksim::Rack& r) { return r.module(1).counters.requests; }), 3u);
}

// A thread keeps its readiness set between calls: sockets closed and made again in between
// (the system hands out the same numbers), and entries listed in another order, are still
// watched as the call's own.
TEST_F(ParallelIo, DevicesOpenedAgainAndListedInAnotherOrderAreServedByTheNextCall) {
    uint8_t in_a[1000] = {}, in_b[1000] = {};
    uint8_t* buffers[2] = {in_a, in_b};
    uint16_t sizes[2] = {1000, 1000};
    uint32_t results[2] = {1, 1};
    ZEBDevice* in_order[2] = {&a_, &b_};
    ASSERT_EQ(ZEBReadIOEx(in_order, buffers, sizes, results, 2), 0u);
    ASSERT_EQ(results[0] | results[1], 0u);
    for (ZEBDevice* d : in_order) ASSERT_EQ(ZEBCloseDevice(d), 0u);
    open_at(b_, 0x7F000003, 100, 0);
    open_at(a_, 0x7F000002, 100, 0);
    ZEBDevice* reversed[2] = {&b_, &a_};
    for (int round = 0; round < 3; ++round) {
        results[0] = results[1] = 1;
        sizes[0] = sizes[1] = 1000;
        ASSERT_EQ(ZEBReadIOEx(reversed, buffers, sizes, results, 2), 0u);
        EXPECT_EQ(results[0], 0u) << round;
        EXPECT_EQ(results[1], 0u) << round;
        EXPECT_EQ(b_.ResendCount + a_.ResendCount, 0) << round;
    }
}

TEST_F(ParallelIo, ReplyAfterAResendEndsWithoutWarning) {
    rack([](racksim::Rack& r) { r.module(0).faults.drop_first = 1; });
    const uint8_t out[] = {0xB1, 0x00, 0x00, 0x03, 0x04, 0x01, 0x0F, 0xFF};
    const uint8_t* sources[2] = {out, out};
    const uint16_t lengths[2] = {sizeof out, sizeof out};
    uint8_t in_a[1000] = {}, in_b[1000] = {};
    ZEBDevice* devices[2] = {&a_, &b_};
    uint8_t* buffers[2] = {in_a, in_b};
    uint16_t sizes[2] = {1000, 1000};
    uint32_t results[2] = {};
    EXPECT_EQ(ZEBWriteIOEx(devices, sources, lengths, buffers, sizes, results, 2), 0u);
    EXPECT_EQ(results[0], 0u);
    EXPECT_EQ(results[1], 0u);
    EXPECT_EQ(+a_.ResendCount, 1);
    const auto outputs = rack([](racksim::Rack& r) {
        return std::make_pair(r.module(0).slot(3).io.bit_out, r.module(1).slot(3).io.bit_out);
    });
    EXPECT_EQ(outputs.first.at(0), 0x0F);
    EXPECT_EQ(outputs.second.at(0), 0x0F);
}

}  // namespace
}  // namespace zebtest
