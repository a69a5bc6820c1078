// The RackSim program run by a test with --http on loopback, and an HTTP client for it.
#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace zebtest {

class RackSimRun {
  public:
    // Starts RackSim with `args` and waits for its "HTTP on http://ADDRESS:PORT/" line (or its
    // exit, when it refuses the arguments).
    explicit RackSimRun(const std::vector<std::string>& args);
    // Stops it with SIGTERM and waits for it.
    ~RackSimRun();
    RackSimRun(const RackSimRun&) = delete;
    RackSimRun& operator=(const RackSimRun&) = delete;

    // The HTTP port it listens on; 0 when it did not start.
    int port() const { return port_; }
    // What it printed so far on standard output and standard error (all of it once it ended).
    const std::string& output() const { return output_; }
    // Its exit code, once it ended by itself; -1 while it runs.
    int exit_code() const { return exit_code_; }

    // A client for its HTTP server, with the bearer token when given.
    std::unique_ptr<httplib::Client> client(const std::string& token = "") const;

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    int exit_code_ = -1;
    std::string output_;
};

}  // namespace zebtest
