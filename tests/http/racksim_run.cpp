#include "racksim_run.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace zebtest {

RackSimRun::RackSimRun(const std::vector<std::string>& args) {
    std::vector<std::string> all = {RACKSIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        execv(RACKSIM_PATH, argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    out_ = pipe_fds[0];
    const std::string mark = "HTTP on http://";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (const size_t at = output_.find(mark); at != std::string::npos) {
            const size_t colon = output_.find(':', at + mark.size());
            const size_t slash = output_.find('/', colon);
            if (colon != std::string::npos && slash != std::string::npos) {
                port_ = std::stoi(output_.substr(colon + 1, slash - colon - 1));
                return;
            }
        }
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n > 0) {
            output_.append(buf, static_cast<size_t>(n));
            continue;
        }
        // It ended without serving: its message is all there is.
        int status = 0;
        waitpid(pid_, &status, 0);
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        pid_ = -1;
        return;
    }
}

RackSimRun::~RackSimRun() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

std::unique_ptr<httplib::Client> RackSimRun::client(const std::string& token) const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_read_timeout(20, 0);
    if (!token.empty()) c->set_bearer_token_auth(token.c_str());
    return c;
}

}  // namespace zebtest
