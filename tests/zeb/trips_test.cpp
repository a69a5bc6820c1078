// What a new user trips over, each reproduced against RackSim: the local address from the
// environment and what to try when nothing answers, a refused port named as such, lookups that
// end at the first answer, module statuses and Windows errors told apart, paths with '/',
// Ctrl-C in a transfer, a read of line settings refused by a status word, and the frame trace.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "zeb_fixture.h"

namespace zebtest {
namespace {

class Trips : public ZebTest {};

TEST_F(Trips, LocalAddressFromTheEnvironmentAndWhatToTryWhenNothingAnswers) {
    // ZEB_LOCAL stands in for --local; --local wins over it.
    const ZebRun from_env = run_zeb_with({"discover", "--json"}, {"ZEB_LOCAL=127.0.0.1"}, false);
    ASSERT_EQ(from_env.status, 0) << from_env.err;
    EXPECT_EQ(json_of(from_env).size(), 3u);
    EXPECT_EQ(run_zeb_with({"info", "#2"}, {"ZEB_LOCAL=127.0.0"}).status, 0);

    stop_server();
    const ZebRun none = run_zeb({"discover"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No modules found.\n");
    EXPECT_EQ(none.err,
              "zeb: no module answered on 127.0.0.1: is RackSim (or the module) running on the "
              "network of 127.0.0.1?\n");
    const ZebRun lookup = run_zeb({"info", "#1"});
    EXPECT_EQ(lookup.status, 3);
    EXPECT_EQ(lookup.err,
              "zeb: no module answers to '#1' on 127.0.0.1\nzeb: is RackSim (or the module) "
              "running on the network of 127.0.0.1?\n");
}

// Without a local address a broadcast has no way out of a namespace that holds only loopback:
// that is the unreachable network a new user meets. Nowhere else is it tried, since there the
// broadcast would leave on a real network.
TEST_F(Trips, AnUnreachableNetworkSaysWhatToTry) {
    // The interfaces of this process's namespace, one a line after two lines of headings.
    std::ifstream devices("/proc/net/dev");
    std::string line;
    for (int n = 0; std::getline(devices, line); ++n) {
        const std::string name = line.substr(0, line.find(':'));
        const bool loopback = name.find_first_not_of(' ') != std::string::npos &&
                              name.substr(name.find_first_not_of(' ')) == "lo";
        if (n >= 2 && !loopback) GTEST_SKIP() << "not in a namespace of loopback only";
    }
    if (!devices.eof()) GTEST_SKIP() << "no list of interfaces";
    const ZebRun run = run_zeb_with({"discover"}, {}, false);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("zeb: discovery from 0.0.0.0: result 0x00002743 WSAENETUNREACH"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("\nzeb: is RackSim running? Against RackSim give --local 127.0.0.1 or "
                           "set ZEB_LOCAL=127.0.0.1\n"),
              std::string::npos)
        << run.err;
}

TEST_F(Trips, NothingListeningIsNamedAsSuch) {
    stop_server();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"io", "read", "127.0.0.2"},
          std::vector<std::string>{"info", "127.0.0.2"},
          std::vector<std::string>{"setup", "list", "127.0.0.2"}}) {
        const ZebRun run = run_zeb(args);
        EXPECT_EQ(run.status, 3) << args[0] << ": " << run.err;
        EXPECT_NE(run.err.find(": nothing answers at 127.0.0.2 (connection refused)\n"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.err.find("ZEBERR_NO_DATA"), std::string::npos) << run.err;
    }
}

TEST_F(Trips, ALookupEndsAtTheFirstAnswer) {
    // The query listens 600 ms; a lookup that had to wait for all of it takes longer. The
    // quickest of three runs counts, so that a busy machine does not decide.
    for (const char* module : {"#1", "press-line", "02:52:53:00:00:01"}) {
        auto quickest = std::chrono::steady_clock::duration::max();
        for (int i = 0; i < 3; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const ZebRun run = run_zeb({"base", module});
            quickest = std::min(quickest, std::chrono::steady_clock::now() - start);
            ASSERT_EQ(run.status, 0) << module << ": " << run.err;
        }
        EXPECT_LT(quickest, std::chrono::milliseconds(600)) << module;
    }
}

TEST_F(Trips, ModuleStatusesAndWindowsErrorsAreToldApart) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
        const char* not_said;
    };
    const Case cases[] = {
        {{"serial", "recv", "127.0.0.2", "--port", "9"},
         "result 0x00000090 module status 0x0090: the module reported an error\n",
         "Windows"},
        {{"files", "get", "packer", "/no-such-file.txt", "/dev/null"},
         "the module's last error, ERROR_FILE_NOT_FOUND (Windows error 2): ",
         "status"},
    };
    for (const Case& c : cases) {
        const ZebRun run = run_zeb(c.args);
        EXPECT_EQ(run.status, 1) << c.args[0];
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(c.not_said), std::string::npos) << run.err;
    }
}

TEST_F(Trips, ALineSetupRefusedByAStatusWordIsTold) {
    const ZebRun run = run_zeb({"serial", "setup", "127.0.0.2", "--port", "9"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "zeb: line settings of port 9 of 127.0.0.2: the module answered with a status word "
              "alone: result 0x00000090 module status 0x0090: the module reported an error\n"
              "zeb: does the module have a port 9?\n");
    EXPECT_EQ(run_zeb({"serial", "setup", "127.0.0.2", "--port", "1"}).status, 0);
}

TEST_F(Trips, FilesTakeSlashesAndListTheRootByDefault) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"files", "ls", "packer", "/"},
          std::vector<std::string>{"files", "ls", "packer"}}) {
        const ZebRun run = run_zeb(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(" readme.txt\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(" recipes\n"), std::string::npos) << run.out;
    }
    const ZebRun sub = run_zeb({"files", "ls", "packer", "/recipes/"});
    ASSERT_EQ(sub.status, 0) << sub.err;
    EXPECT_NE(sub.out.find(" bread.txt\n"), std::string::npos) << sub.out;
}

TEST_F(Trips, CtrlCInATransferClosesTheModulesFile) {
    // A file of 200 requests on a module whose replies each take 10 ms.
    const std::filesystem::path root = state_dir_ + "/packer-root";
    std::filesystem::create_directories(root);
    std::ofstream(root / "big.bin") << std::string(200 * 1024, 'x');
    rack([&](racksim::Rack& r) {
        r.module(1).controller_os.root = root.string();
        r.module(1).faults.delay_ms = 10;
    });
    const std::string local = state_dir_ + "/big.bin";
    const pid_t pid = fork();
    if (pid == 0) {
        execl(ZEB_PATH, ZEB_PATH, "files", "get", "packer", "/big.bin", local.c_str(), "--local",
              "127.0.0.1", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Once part of it has come, Ctrl-C.
    for (int i = 0;
         i < 2000 && !(std::filesystem::exists(local) && std::filesystem::file_size(local) >= 4096);
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_LT(std::filesystem::file_size(local), 200u * 1024u) << "it stopped before the end";
    EXPECT_EQ(rack([](racksim::Rack& r) { return r.module(1).controller_os.open_handles(); }), 0u);
}

TEST_F(Trips, TheFrameTraceIsAskedForByFlagOrEnvironment) {
    const ZebRun quiet = run_zeb({"info", "127.0.0.2"});
    EXPECT_EQ(quiet.err, "");
    for (const ZebRun& run : {run_zeb({"-v", "info", "127.0.0.2"}),
                              run_zeb_with({"info", "127.0.0.2"}, {"ZEB_TRACE=1"})}) {
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, quiet.out) << "standard output stays as it is";
        EXPECT_NE(run.err.find("127.0.0.2:28784 seq "), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace zebtest
