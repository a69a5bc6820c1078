// zeb ping against faults RackSim plays, the exit codes, and the help of every command.
#include "zeb_fixture.h"

namespace zebtest {
namespace {

using nlohmann::json;

class Ping : public ZebTest {};

TEST_F(Ping, CountsRepliesAndRoundTrips) {
    const ZebRun run = run_zeb({"ping", "127.0.0.2", "--count", "3", "--interval", "10"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("PING 127.0.0.2: identity requests, time-out 150 ms, up to 2 re-sends\n"
                            "reply from 127.0.0.2: seq=1 time=",
                            0),
              0u)
        << run.out;
    EXPECT_NE(run.out.find("\n--- 127.0.0.2 ping statistics ---\n"
                           "3 requests sent, 3 received, 0.0% lost, 0 re-sends, time "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nrtt min/avg/max/stddev = "), std::string::npos) << run.out;
    const auto served =
        rack([](racksim::Rack& r) { return r.module(0).counters.by_function[0x01]; });
    EXPECT_EQ(served, 3u);
}

TEST_F(Ping, CountsLossesAndReSendsThatFaultsCause) {
    // Without re-sends each lost request is a lost ping.
    rack([](racksim::Rack& r) { r.module(0).faults.drop_first = 2; });
    const json lossy = json_of(run_zeb({"ping", "127.0.0.2", "--count", "4", "--interval", "10",
                                        "--retries", "0", "--timeout", "100", "--json"}));
    EXPECT_EQ(lossy["sent"], 4);
    EXPECT_EQ(lossy["received"], 2);
    EXPECT_EQ(lossy["lost"], 2);
    EXPECT_EQ(lossy["loss_percent"], 50.0);
    EXPECT_EQ(lossy["resends"], 0);
    EXPECT_EQ(lossy["probes"][0]["time_ms"], nullptr);
    EXPECT_EQ(lossy["probes"][0]["result"], 0x8006);
    EXPECT_TRUE(lossy["probes"][2]["time_ms"].is_number());
    EXPECT_GE(lossy["rtt_ms"]["max"].get<double>(), lossy["rtt_ms"]["min"].get<double>());

    // With re-sends the same losses cost re-sends, and every ping is answered.
    rack([](racksim::Rack& r) { r.module(0).faults.drop_first = 2; });
    const ZebRun resent = run_zeb({"ping", "127.0.0.2", "--count", "2", "--interval", "10",
                                   "--retries", "2", "--timeout", "100"});
    ASSERT_EQ(resent.status, 0) << resent.err;
    EXPECT_NE(resent.out.find("seq=1 time="), std::string::npos);
    EXPECT_NE(resent.out.find(" ms (2 re-sends)\n"), std::string::npos) << resent.out;
    EXPECT_NE(resent.out.find("2 requests sent, 2 received, 0.0% lost, 2 re-sends"),
              std::string::npos)
        << resent.out;
}

TEST_F(Ping, NoReplyAtAllIsExitCodeThree) {
    rack([](racksim::Rack& r) { r.module(0).faults.drop_fraction = 1.0; });
    const ZebRun run = run_zeb({"ping", "127.0.0.2", "--count", "2", "--interval", "10",
                                "--retries", "1", "--timeout", "50"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.out.find("2 requests sent, 0 received, 100.0% lost, 2 re-sends"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("rtt"), std::string::npos);
    EXPECT_EQ(run.err,
              "zeb: no reply from 127.0.0.2: result 0x00008006 ZEBERR_TIMEOUT: no reply, after "
              "every re-send\n");
}

class ExitCodes : public ZebTest {};

TEST_F(ExitCodes, UsageNothingFoundAndNoReply) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{}, 2, "zeb: needs a command\nCommands:\n  discover"},
        {{"frobnicate"}, 2, "zeb: unknown command 'frobnicate'\nCommands:\n  discover"},
        {{"io", "frob"}, 2, "zeb: unknown command 'io frob'\nCommands:\n  read"},
        {{"info"}, 2, "MODULE is required"},
        {{"info", "#x"}, 2, "'#x' names no module"},
        {{"info", "127.0.0.2", "--local", "127.0.0"}, 2, "not an IPv4 address"},
        {{"info", "#42"}, 3, "no module answers to '#42'"},
        {{"info", "no-such-name"}, 3, "no module answers to 'no-such-name'"},
        {{"info", "127.0.0.9"}, 3, "result 0x00008006 ZEBERR_TIMEOUT"},
        {{"setup", "get", "127.0.0.2", "0x99"}, 1, "module status 0x8101"},
    };
    for (const Case& c : cases) {
        const ZebRun run = run_zeb(c.args);
        const std::string label =
            c.args.empty() ? "(none)" : c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
        EXPECT_EQ(run.status, c.status) << label << "\n" << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << label << "\n" << run.err;
    }
}

// MODULE is read first, then each command's own arguments, and all of it before anything is
// sent: '#1' would be looked up by a broadcast that RackSim receives.
TEST_F(ExitCodes, BadArgumentsAreRefusedBeforeAnythingIsSent) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"setup", "get", "#x", "bogus"}, "'#x' names no module"},
        {{"mem", "read", "#x", "zz", "0"}, "'#x' names no module"},
        {{"files", "put", "#x", "/nonexistent/x", "y"}, "'#x' names no module"},
        {{"discover", "--item", "zz"}, "--item zz: expected TYPE=HEX"},
        {{"io", "write", "#1", "3.bogus=1"}, "'3.bogus': expected SLOT.KIND.INDEX"},
        {{"setup", "get", "#1", "bogus"}, "'bogus' is no setup type"},
        {{"setup", "set", "#1", "0x30", "--int", "x"}, "'x' is no number"},
        {{"setup", "delete", "#1", "0x10000"}, "'0x10000' is no setup type"},
        {{"config", "set", "#1", "--file", "/nonexistent/x"}, "cannot read /nonexistent/x"},
        {{"ccm", "read", "#1", "zz", "4"}, "'zz' is no address"},
        {{"ccm", "write", "#1", "0", ""}, "DATA: 1 to 256 bytes"},
        {{"kseq", "#1", "\\q"}, "a bad escape"},
        {{"mem", "read", "#1", "0", "0"}, "COUNT: 1 to 1048576 bytes"},
        {{"mem", "write", "#1", "0xFFFF", "00 00", "--shared", "0.0"}, "run past the end"},
        {{"serial", "send", "#1", "\\q"}, "a bad escape"},
        {{"serial", "setup", "#1", "--flow", "sideways"}, "--flow: none, rts-cts or xon-xoff"},
        {{"files", "get", "#1", "/"}, "name the local file"},
        {{"files", "put", "#1", "/nonexistent/x", "y"}, "cannot read /nonexistent/x"},
    };
    for (const Case& c : cases) {
        const uint64_t before = server_->stats().received;
        const ZebRun run = run_zeb(c.args);
        const std::string label = c.args[0] + " " + c.args[1];
        EXPECT_EQ(run.status, 2) << label << "\n" << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << label << "\n" << run.err;
        EXPECT_EQ(server_->stats().received, before) << label << ": something was sent";
    }
}

TEST_F(ExitCodes, SeveralModulesAnsweringOneNameIsAmbiguous) {
    rack([](racksim::Rack& r) { r.module(1).set_name("press-line"); });
    const ZebRun run = run_zeb({"info", "press-line"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("2 modules answer to 'press-line' (127.0.0.2, 127.0.0.3)"),
              std::string::npos)
        << run.err;
}

TEST(Help, EveryCommandExplainsItself) {
    const std::vector<std::vector<std::string>> commands = {
        {},
        {"discover"},
        {"info"},
        {"base"},
        {"diag"},
        {"io"},
        {"io", "read"},
        {"io", "write"},
        {"io", "watch"},
        {"setup"},
        {"setup", "list"},
        {"setup", "get"},
        {"setup", "set"},
        {"setup", "delete"},
        {"config", "get"},
        {"config", "set"},
        {"ccm", "read"},
        {"ccm", "write"},
        {"kseq"},
        {"mem", "list"},
        {"mem", "read"},
        {"mem", "write"},
        {"serial", "send"},
        {"serial", "recv"},
        {"serial", "setup"},
        {"ping"},
        {"files", "ls"},
    };
    for (const auto& command : commands) {
        std::vector<std::string> args = command;
        args.push_back("--help");
        const ZebRun run = run_zeb(args);
        std::string name = "zeb";
        for (const auto& word : command) name += " " + word;
        EXPECT_EQ(run.status, 0) << name;
        EXPECT_NE(run.out.find("Usage: " + name), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Exit codes: 0 success"), std::string::npos) << name;
        // A command's help lists the program's options too, since they may follow it.
        if (!command.empty()) {
            EXPECT_NE(run.out.find("Global options (before or after the command):\n  --local"),
                      std::string::npos)
                << run.out;
            EXPECT_NE(run.out.find("  -v,--verbose"), std::string::npos) << run.out;
        }
    }
}

}  // namespace
}  // namespace zebtest
