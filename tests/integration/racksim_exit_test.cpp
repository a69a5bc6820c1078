// RackSim, the program, keeping what hosts wrote: started as a process of its own, and the
// rack file read back once it has ended.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "rack_fixture.h"

extern char** environ;

namespace zebtest {
namespace {

constexpr uint32_t kPress = 0x7F000002;

struct Child {
    pid_t pid = -1;
    int wait_status = -1;
};

Child start_racksim(const std::vector<std::string>& args) {
    std::vector<std::string> all = {RACKSIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Child c;
    if (posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return c;
}

TEST_F(RackTest, RackSimSavesWhatHostsWroteOnExit) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("racksim-kept-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "rack.json").string();
    std::ofstream(path) << R"({"modules": [{"name": "keeper", "number": 4,
                                "slots": [{"slot": 0, "record": {"kind": 1, "bit_in": 8}}]}]})";
    Child sim = start_racksim({"--rack", path, "--save", path});
    ASSERT_GT(sim.pid, 0);
    open_transport();
    ZEBDevice& d = open_device(kPress, 100, 0);
    const uint8_t record[] = {0x00, 0x01, 'k'};
    // Until RackSim serves, the module port is closed and the write fails at once.
    uint32_t result = ZEBERR_TIMEOUT;
    for (int i = 0; i < 200 && result != 0; ++i) {
        result = ZEBWriteSetupData(&d, 0x0140, record, sizeof record);
        if (result != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(result, 0u);
    const uint8_t block[] = {'m', 'o', 'd', 'e', '=', '2'};
    EXPECT_EQ(ZEBWriteConfigData(&d, block, sizeof block, nullptr, nullptr), 0u);
    EXPECT_EQ(ZEBWriteSetupData(&d, 0x16, reinterpret_cast<const uint8_t*>("kept"), 4), 0u);

    kill(sim.pid, SIGTERM);
    ASSERT_EQ(waitpid(sim.pid, &sim.wait_status, 0), sim.pid);
    EXPECT_TRUE(WIFEXITED(sim.wait_status));
    EXPECT_EQ(WEXITSTATUS(sim.wait_status), 0);

    std::string error;
    auto saved = racksim::Rack::load(path, &error);
    ASSERT_TRUE(saved) << error;
    const racksim::Module& m = saved->module(0);
    EXPECT_EQ(m.name(), "kept");
    EXPECT_EQ(m.number(), 4u);
    ASSERT_TRUE(m.setup.find(0x0140));
    EXPECT_EQ(*m.setup.find(0x0140), (racksim::Bytes{0x00, 0x01, 'k'}));
    EXPECT_EQ(m.config, (racksim::Bytes{'m', 'o', 'd', 'e', '=', '2'}));
    EXPECT_EQ(m.base.installed.size(), 1u);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace zebtest
