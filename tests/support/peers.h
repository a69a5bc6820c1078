// Ready-made module behaviours for SimNetwork peers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sim_network.h"

namespace zebtest {

// Answers every request with `payload` under the request's sequence number, after `delay_ms`.
PeerHandler answer_with(Bytes payload, uint64_t delay_ms = 0);

// Acknowledges every request with `ack`, then answers it finally with `final_payload`, both
// under the request's sequence number.
PeerHandler acknowledge_then(Bytes ack, Bytes final_payload, uint64_t ack_delay_ms = 1,
                             uint64_t final_delay_ms = 2);

// Loses the first `count` requests, then behaves as `then`.
PeerHandler lose_first(size_t count, PeerHandler then);

// Keeps a copy of every request that reaches the peer, then behaves as `then`.
PeerHandler recording(std::shared_ptr<std::vector<Datagram>> log, PeerHandler then);

}  // namespace zebtest
