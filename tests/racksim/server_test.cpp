// The UDP server over real loopback sockets: replies leave from the module's own address.
#include "server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "test_util.h"
#include "udp_peer.h"

namespace racksim {
namespace {

using Client = zebtest::UdpPeer;
using zebtest::Endpoint;

ServerOptions any_port() {
    ServerOptions o;
    o.port = 0;  // a free port; never the module port, so a running RackSim is left alone
    return o;
}

TEST(Server, AnswersFromTheAddressedModule) {
    Server server(test::three_modules(), any_port());
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    ASSERT_NE(server.port(), 0);
    ASSERT_NE(server.port(), kModulePort);

    Client client;
    ASSERT_TRUE(client.ok());
    for (uint32_t ip : {test::kModuleA, test::kModuleB}) {
        ASSERT_TRUE(client.send_to(make_request(21, {0x04}, true), {ip, server.port()}));
        Bytes reply;
        Endpoint from;
        ASSERT_TRUE(client.receive(&reply, &from, 2000));
        EXPECT_EQ(from.ip, ip);
        const test::Reply r = test::decode({from.ip, reply, 0});
        EXPECT_EQ(r.sequence, 21);
        EXPECT_TRUE(r.crc_right);
    }
    // An address that no module holds is not a broadcast: nobody answers.
    ASSERT_TRUE(client.send_to(make_request(22, {0x04}, true), {0x7F000009, server.port()}));
    Bytes reply;
    Endpoint from;
    EXPECT_FALSE(client.receive(&reply, &from, 200));
    server.stop();
    EXPECT_EQ(server.stats().sent, 2u);
}

TEST(Server, LoopbackBroadcastReachesEveryModule) {
    Server server(test::three_modules(), any_port());
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.allow_broadcast());
    // To 127.255.255.255.
    ASSERT_TRUE(client.send_to(make_request(3, {0x05}, true), {0x7FFFFFFF, server.port()}));
    std::vector<uint32_t> senders;
    Bytes reply;
    Endpoint from;
    while (senders.size() < 3 && client.receive(&reply, &from, 2000)) {
        senders.push_back(from.ip);
        EXPECT_EQ(reply.at(9), 0x55);
    }
    std::sort(senders.begin(), senders.end());
    EXPECT_EQ(senders, (std::vector<uint32_t>{test::kModuleA, test::kModuleB, test::kModuleC}));
}

TEST(Server, DelayedReplyWaitsItsTurn) {
    Rack rack = test::three_modules();
    rack.module(0).faults.delay_ms = 150;
    Server server(std::move(rack), any_port());
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.ok());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.send_to(make_request(5, {0x01}, true), {test::kModuleA, server.port()}));
    ASSERT_TRUE(client.send_to(make_request(6, {0x01}, true), {test::kModuleB, server.port()}));
    Bytes reply;
    Endpoint from;
    ASSERT_TRUE(client.receive(&reply, &from, 2000));
    EXPECT_EQ(from.ip, test::kModuleB);  // the prompt module overtakes the late one
    ASSERT_TRUE(client.receive(&reply, &from, 2000));
    EXPECT_EQ(from.ip, test::kModuleA);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(140));
}

TEST(Server, RackCanBeChangedWhileServing) {
    Server server(test::three_modules(), any_port());
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.send_to(make_request(5, {0x30, 0x03, 0x41, 0x09, 0xFF}, true),
                               {test::kModuleA, server.port()}));
    Bytes reply;
    Endpoint from;
    ASSERT_TRUE(client.receive(&reply, &from, 2000));
    EXPECT_EQ(server.with_rack([](Rack& r) { return r.module(0).slot(3).io.bit_out; }),
              Bytes{0x09});
    server.with_rack([](Rack& r) { r.module(0).faults.drop_first = 1; });
    ASSERT_TRUE(client.send_to(make_request(6, {0x01}, true), {test::kModuleA, server.port()}));
    EXPECT_FALSE(client.receive(&reply, &from, 200));
    EXPECT_EQ(server.with_rack([](Rack& r) { return r.module(0).counters.dropped; }), 1u);
}

TEST(Server, BusyPortIsReportedClearly) {
    Server first(test::three_modules(), any_port());
    std::string error;
    ASSERT_TRUE(first.open(&error)) << error;
    ServerOptions same;
    same.port = first.port();
    Server second(test::three_modules(), same);
    EXPECT_FALSE(second.open(&error));
    EXPECT_EQ(error, "port " + std::to_string(first.port()) + " is already in use");
}

TEST(Server, StopsPromptlyAndLogsWithTheSender) {
    std::vector<std::string> lines;
    std::mutex mutex;
    ServerOptions options = any_port();
    options.log = [&](const std::string& l) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(l);
    };
    Server server(test::three_modules(), options);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    Client client;
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.send_to(make_request(5, {0x07}, true), {test::kModuleA, server.port()}));
    Bytes reply;
    Endpoint from;
    ASSERT_TRUE(client.receive(&reply, &from, 2000));
    const auto start = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("127.0.0.1:", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("alpha (127.0.0.2) fn 0x07 read IO"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace racksim
