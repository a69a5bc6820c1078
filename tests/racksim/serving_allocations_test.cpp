// Serving the busiest requests allocates nothing once warm, and builds log text only for a
// sink that prints it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "thread_allocations.h"

namespace racksim {
namespace {

using test::kModuleA;

TEST(ServingAllocations, ReadIoAndDiscoveryAllocateNothingOnceWarm) {
    if (!zebtest::allocations_counted()) GTEST_SKIP() << "allocations are not counted here";
    Rack rack = test::three_modules();
    Replies replies;
    const Bytes read = make_request(7, {0x07}, true);
    const Bytes read_extended = make_request(8, {0x07, 0xB1}, true);
    const Bytes query = make_request(9, {0x05}, true);
    auto serve_all = [&] {
        rack.handle(kModuleA, read.data(), read.size(), replies);
        EXPECT_EQ(replies.size(), 1u);
        rack.handle(kModuleA, read_extended.data(), read_extended.size(), replies);
        EXPECT_EQ(replies.size(), 1u);
        rack.handle(kBroadcastIp, query.data(), query.size(), replies);
        EXPECT_EQ(replies.size(), 3u);
    };
    serve_all();  // storage grows to its size here
    const uint64_t before = zebtest::thread_allocations();
    for (int i = 0; i < 10; ++i) serve_all();
    EXPECT_EQ(zebtest::thread_allocations() - before, 0u);
    // The count is live: the form that returns a new vector allocates.
    EXPECT_GT(rack.handle(kModuleA, read.data(), read.size()).size(), 0u);
    EXPECT_GT(zebtest::thread_allocations() - before, 0u);
}

TEST(ServingAllocations, RepliesServedIntoKeptStorageMatchTheOnesReturned) {
    Rack one = test::three_modules();
    Rack other = test::three_modules();
    Replies replies;
    for (const Bytes& payload : {Bytes{0x07}, Bytes{0x07, 0xB1}, Bytes{0x05}}) {
        const Bytes request = make_request(3, payload, true);
        const uint32_t to = payload[0] == 0x05 ? kBroadcastIp : kModuleA;
        const std::vector<Outgoing> returned = one.handle(to, request.data(), request.size());
        other.handle(to, request.data(), request.size(), replies);
        ASSERT_EQ(returned.size(), replies.size());
        for (size_t i = 0; i < returned.size(); ++i) {
            EXPECT_EQ(returned[i].from_ip, replies[i].from_ip);
            EXPECT_EQ(returned[i].bytes, replies[i].bytes);
        }
    }
}

TEST(ServingAllocations, LogLinesComeOnlyWithASink) {
    Rack rack = test::three_modules();
    EXPECT_FALSE(rack.logging());
    std::vector<std::string> lines;
    rack.set_log([&](const std::string& line) { lines.push_back(line); });
    const Bytes read = make_request(7, {0x07}, true);
    Replies replies;
    rack.handle(kModuleA, read.data(), read.size(), replies);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("read IO (compact)"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace racksim
