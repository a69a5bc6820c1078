// The I/O exchange allocates nothing on the caller's thread once warm, over real sockets.
#include "rack_fixture.h"
#include "thread_allocations.h"

namespace zebtest {
namespace {

class Allocations : public RackTest {
  protected:
    void SetUp() override {
        if (!allocations_counted()) GTEST_SKIP() << "allocations are not counted in this build";
        serve({qx_module("a", 1), qx_module("b", 2), qx_module("c", 3)});
        open_transport();
        for (uint32_t i = 0; i < 3; ++i) devices.push_back(&open_device(0x7F000002 + i, 1000, 0));
    }
    uint32_t read_one() {
        uint16_t size = sizeof in[0];
        return ZEBReadIO(devices[0], in[0], &size);
    }
    void read_all() {
        uint16_t sizes[3] = {sizeof in[0], sizeof in[1], sizeof in[2]};
        uint8_t* buffers[3] = {in[0], in[1], in[2]};
        uint32_t results[3] = {};
        ZEBReadIOEx(devices.data(), buffers, sizes, results, 3);
        for (uint32_t r : results) EXPECT_EQ(r, 0u);
    }

    std::vector<ZEBDevice*> devices;
    uint8_t in[3][1200] = {};
};

TEST_F(Allocations, ReadIoAllocatesNothing) {
    const uint64_t before = thread_allocations();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(read_one(), 0u);
    EXPECT_EQ(thread_allocations() - before, 0u);
    // The count is live: text longer than a short string allocates.
    EXPECT_FALSE(::testing::PrintToString(std::vector<int>(50)).empty());
    EXPECT_GT(thread_allocations() - before, 0u);
}

TEST_F(Allocations, ReadIoExAllocatesNothingAfterItsFirstCallOnAThread) {
    read_all();  // the thread's table of entries is made here, and kept
    const uint64_t before = thread_allocations();
    for (int i = 0; i < 5; ++i) read_all();
    EXPECT_EQ(thread_allocations() - before, 0u);
}

}  // namespace
}  // namespace zebtest
