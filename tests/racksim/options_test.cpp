// The RackSim command line.
#include "options.h"

#include <gtest/gtest.h>

namespace racksim {
namespace {

std::optional<Options> parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string e;
    auto o = parse_options(args, &e);
    if (error) *error = e;
    return o;
}

TEST(Options, Defaults) {
    const auto o = parse({});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->port, 28784);
    EXPECT_EQ(o->busy_poll_us, 0u);
    EXPECT_TRUE(o->rack_file.empty());
    EXPECT_FALSE(o->verbose || o->allow_remote || o->help);
}

TEST(Options, ReadsEveryOptionInBothSpellings) {
    const auto o = parse({"--rack", "r.json", "--port=3000", "-v", "--allow-remote"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->rack_file, "r.json");
    EXPECT_EQ(o->port, 3000);
    EXPECT_TRUE(o->verbose);
    EXPECT_TRUE(o->allow_remote);
    EXPECT_EQ(parse({"--rack=x.json", "--port", "65535"})->port, 65535);
    EXPECT_EQ(parse({"--save", "kept.json"})->save_file, "kept.json");
    EXPECT_EQ(parse({"--save=r.json", "--rack=r.json"})->save_file, "r.json");
    EXPECT_TRUE(parse({"--help"})->help);
    EXPECT_EQ(parse({"--busy-poll", "50"})->busy_poll_us, 50u);
    EXPECT_EQ(parse({"--busy-poll=100000"})->busy_poll_us, 100000u);
    const auto http = parse({"--http", "0.0.0.0:0", "--http-token", "0123456789abcdef"});
    ASSERT_TRUE(http);
    EXPECT_TRUE(http->http);
    EXPECT_EQ(http->http_address, "0.0.0.0");
    EXPECT_EQ(http->http_port, 0);
    EXPECT_EQ(http->http_token, "0123456789abcdef");
}

TEST(Options, RefusesBadInput) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--port", "0"}, "--port: \"0\" is not a port number (1 to 65535)"},
        {{"--port", "65536"}, "--port: \"65536\" is not a port number (1 to 65535)"},
        {{"--port", "12a"}, "--port: \"12a\" is not a port number (1 to 65535)"},
        {{"--port"}, "--port needs a value"},
        {{"--rack"}, "--rack needs a value"},
        {{"--rack="}, "--rack needs a file name"},
        {{"--save"}, "--save needs a value"},
        {{"--save="}, "--save needs a file name"},
        {{"--verbose=yes"}, "--verbose takes no value"},
        {{"--http", "127.0.0.1"},
         "--http: \"127.0.0.1\" is not ADDRESS:PORT (such as 127.0.0.1:8470)"},
        {{"--http", "localhost:8470"},
         "--http: \"localhost:8470\" is not ADDRESS:PORT (such as 127.0.0.1:8470)"},
        {{"--http", "127.0.0.1:65536"},
         "--http: \"127.0.0.1:65536\" is not ADDRESS:PORT (such as 127.0.0.1:8470)"},
        {{"--http", "0.0.0.0:8470"},
         "--http 0.0.0.0:8470 is reachable beyond loopback: give --http-token TOKEN too, which "
         "every request must then carry"},
        {{"--http-token", "0123456789abcdef"}, "--http-token needs --http"},
        {{"--http", "10.0.0.5:80", "--http-token", "short"},
         "--http-token: 16 to 256 visible ASCII characters (a short token guards little)"},
        {{"--http", "127.0.0.1:0", "--http-token", "with a space 0123456"},
         "--http-token: 16 to 256 visible ASCII characters (a short token guards little)"},
        {{"--busy-poll", "100001"}, "--busy-poll: \"100001\" is not 0 to 100000 microseconds"},
        {{"--busy-poll", "-1"}, "--busy-poll: \"-1\" is not 0 to 100000 microseconds"},
        {{"--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"rack.json"}, "unknown option \"rack.json\""},
    };
    for (const auto& [args, expected] : cases) {
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << expected;
        EXPECT_EQ(error, expected);
    }
}

TEST(Options, ASaveTargetIsCheckedBeforeServing) {
    std::string error;
    EXPECT_TRUE(save_target_ok("kept.json", &error)) << error;  // in the working folder
    EXPECT_FALSE(save_target_ok("/", &error));
    EXPECT_EQ(error, "--save: / is a directory");
    EXPECT_FALSE(save_target_ok("/nonexistent-folder/kept.json", &error));
    EXPECT_EQ(error, "--save: no folder /nonexistent-folder");
}

TEST(Options, UsageMentionsEveryOption) {
    const std::string u = usage_text();
    for (const char* opt : {"--rack", "--port", "--save", "--verbose", "--allow-remote", "--http",
                            "--http-token", "--help"}) {
        EXPECT_NE(u.find(opt), std::string::npos) << opt;
    }
}

}  // namespace
}  // namespace racksim
