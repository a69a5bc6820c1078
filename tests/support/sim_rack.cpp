#include "sim_rack.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace zebtest {

namespace {

// The rack's clock is the network's: module timing moves with the virtual clock.
class NetworkClock final : public racksim::Clock {
  public:
    explicit NetworkClock(const SimNetwork& net) : net_(net) {}
    uint64_t now_ms() const override { return net_.now(); }

  private:
    const SimNetwork& net_;
};

}  // namespace

SimRack::SimRack(SimNetwork& net, racksim::Rack rack) : net_(net), rack_(std::move(rack)) {
    rack_.set_clock(std::make_shared<NetworkClock>(net_));
    uint32_t first = racksim::kFirstModuleIp;
    uint32_t last = first;
    if (!rack_.modules().empty()) {
        first = last = rack_.module(0).identity.ip;
        for (const racksim::Module& m : rack_.modules()) {
            first = std::min(first, m.identity.ip);
            last = std::max(last, m.identity.ip);
        }
    }
    peer_ =
        net_.add_peer_range(first, last, kModulePort, [this](const Datagram& d, PeerReply& out) {
            std::vector<racksim::Outgoing> replies =
                rack_.handle(d.to.ip, d.bytes.data(), d.bytes.size());
            if (recording_) served_.push_back({net_.now(), replies});
            for (racksim::Outgoing& o : replies) {
                out.send_from(o.from_ip, std::move(o.bytes), o.delay_ms);
            }
        });
}

SimRack::~SimRack() {
    net_.remove_peer(peer_);
}

Endpoint SimRack::endpoint(size_t i) const {
    return {rack_.modules().at(i).identity.ip, kModulePort};
}

}  // namespace zebtest
