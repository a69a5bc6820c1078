#include "zeb_fixture.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "rack.h"

namespace zebtest {

namespace {

void drain(int fd, std::string& into, bool& open) {
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
        into.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        open = false;
    }
}

}  // namespace

ZebRun run_zeb(const std::vector<std::string>& args, int limit_ms) {
    return run_zeb_with(args, {}, true, limit_ms);
}

ZebRun run_zeb_with(const std::vector<std::string>& args, const std::vector<std::string>& env,
                    bool local, int limit_ms) {
    std::vector<std::string> all = args;
    if (local && std::find(args.begin(), args.end(), "--local") == args.end()) {
        all.insert(all.end(), {"--local", "127.0.0.1"});
    }
    if (std::find(args.begin(), args.end(), "--timeout") == args.end()) {
        all.insert(all.end(), {"--timeout", "150"});
    }
    std::vector<char*> argv{const_cast<char*>(ZEB_PATH)};
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    ZebRun run;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
        execv(ZEB_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    bool out_open = true, err_open = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    bool killed = false;
    while (out_open || err_open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (!out_open) fds[0].fd = -1;
        if (!err_open) fds[1].fd = -1;
        poll(fds, 2, static_cast<int>(std::clamp<long long>(left, 10, 100)));
        if (fds[0].revents) drain(out[0], run.out, out_open);
        if (fds[1].revents) drain(err[0], run.err, err_open);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void ZebTest::SetUp() {
    // No setting of the developer's reaches the program; the record of outputs is the test's.
    unsetenv("ZEB_LOCAL");
    unsetenv("ZEB_TRACE");
    char dir[] = "/tmp/zeb-test-state-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    state_dir_ = dir;
    setenv("XDG_STATE_HOME", dir, 1);
    std::string error;
    auto rack = racksim::Rack::load(SAMPLE_RACK, &error);
    ASSERT_TRUE(rack) << error;
    racksim::ServerOptions options;
    options.port = racksim::kModulePort;
    server_ = std::make_unique<racksim::Server>(std::move(*rack), options);
    ASSERT_TRUE(server_->start(&error)) << error;
}

void ZebTest::TearDown() {
    stop_server();
    if (!state_dir_.empty()) std::filesystem::remove_all(state_dir_);
}

void ZebTest::stop_server() {
    if (server_) server_->stop();
    server_.reset();
}

nlohmann::json ZebTest::json_of(const ZebRun& run) {
    try {
        return nlohmann::json::parse(run.out);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "no JSON: " << e.what() << "\n" << run.out << run.err;
        return {};
    }
}

}  // namespace zebtest
