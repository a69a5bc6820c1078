// The zeb program run against RackSim serving the sample rack on loopback: press-line
// (127.0.0.2, number 1), packer (127.0.0.3, number 2) and conveyor-node (127.0.0.4, number 3).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "server.h"

namespace zebtest {

struct ZebRun {
    std::string out;
    std::string err;
    int status = -1;  // the exit code; -1 when the program did not end by itself
};

// Runs zeb with `args`, then "--local 127.0.0.1" so that every broadcast stays on loopback and
// a short reply time-out, each unless the arguments give one. Stops it after `limit_ms`.
ZebRun run_zeb(const std::vector<std::string>& args, int limit_ms = 30000);
// The same with NAME=VALUE settings added to its environment, and without "--local" when
// `local` is false (the environment then names the local address: nothing leaves loopback).
ZebRun run_zeb_with(const std::vector<std::string>& args, const std::vector<std::string>& env,
                    bool local = true, int limit_ms = 30000);

class ZebTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    template <class F>
    auto rack(F f) {
        return server_->with_rack(f);
    }
    void stop_server();

    // The JSON a run printed; fails the test when it is none.
    static nlohmann::json json_of(const ZebRun& run);

    std::unique_ptr<racksim::Server> server_;
    // Each test keeps its record of outputs written in a directory of its own.
    std::string state_dir_;
};

}  // namespace zebtest
