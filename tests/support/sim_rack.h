// A RackSim rack played in-process on the simulated network: library calls run against whole
// simulated modules on the virtual clock, with no sockets and no real time.
//
//     ScopedSimNetwork net;
//     SimRack sim(*net, rack);                     // plugged in on the module port
//     IpDevice dev(sim.endpoint(0), {100, 2, 0});  // the library reaches module 0
//     sim.module(0).faults.drop_first = 1;         // and the test shapes what it plays
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "endpoint.h"
#include "rack.h"
#include "sim_network.h"

namespace zebtest {

class SimRack {
  public:
    // Plugs the rack into the network on the module port, for every address from the lowest to
    // the highest of its modules' (and broadcasts), and gives it the network's clock.
    SimRack(SimNetwork& net, racksim::Rack rack);
    ~SimRack();
    SimRack(const SimRack&) = delete;
    SimRack& operator=(const SimRack&) = delete;

    racksim::Rack& rack() { return rack_; }
    racksim::Module& module(size_t i) { return rack_.module(i); }
    // Where the library reaches module i.
    Endpoint endpoint(size_t i) const;

    // What the rack did with each datagram it took, while recording: when it took it (virtual
    // ms) and the datagrams it sent back, each leaving its delay after that.
    struct Served {
        uint64_t at;
        std::vector<racksim::Outgoing> replies;
    };
    void record(bool on) { recording_ = on; }
    const std::vector<Served>& served() const { return served_; }

  private:
    SimNetwork& net_;
    racksim::Rack rack_;
    SimNetwork::PeerId peer_;
    bool recording_ = false;
    std::vector<Served> served_;
};

}  // namespace zebtest
