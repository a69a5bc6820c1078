// A test on the simulated network with one module at 127.0.0.2 and its clock's start noted.
#pragma once

#include <gtest/gtest.h>

#include "frames.h"
#include "sim_network.h"

namespace zebtest {

inline constexpr Endpoint kModule{ipv4(127, 0, 0, 2), kModulePort};

class SimTest : public ::testing::Test {
  protected:
    uint64_t elapsed() { return net_->now() - start_; }
    void restart_clock() { start_ = net_->now(); }
    SimNetwork& net() { return *net_; }

    ScopedSimNetwork net_;
    uint64_t start_ = net_->now();
};

}  // namespace zebtest
