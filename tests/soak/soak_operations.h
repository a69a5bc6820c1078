// The operations the soak runs, one or two library calls each, with what each call must
// deliver: the module's own state, read under the server's lock right after the call, or what
// the module answered when no fault was in force.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "server.h"
#include "zeb.h"

namespace soak {

// What one call came to.
struct Outcome {
    uint32_t result = 0;
    bool wrong_data = false;  // succeeded, but delivered what the module does not hold
    std::string what;         // for the report of wrong data
};

// A worker's view: its device, its module in the served rack, and what a clean module answered.
struct Worker {
    Worker(racksim::Server& s, ZEBTransport& t, ZEBDevice& d, size_t m, uint64_t seed)
        : server(s), transport(t), device(d), module(m), random(seed) {}

    racksim::Server& server;
    ZEBTransport& transport;
    ZEBDevice& device;
    size_t module;  // index in the rack
    std::mt19937_64 random;
    // Clean answers, recorded before the faults are switched on.
    std::vector<uint8_t> version, device_def, base_def, inputs, config;
    // The remote master's data area after the last write that surely landed, if any.
    std::vector<uint8_t> vireo;
    bool vireo_known = false;
    uint64_t timeouts = 0;  // calls that ended in ZEBERR_TIMEOUT: their last wait had no re-send
};

struct Operation {
    const char* family;
    // What the bound allows (see bound_ms): engine exchanges, the extra wait of acknowledged
    // final replies, remote-master poll phases, and a discovery's listening.
    uint32_t exchanges;
    uint32_t extra_ms;
    uint32_t polls;
    bool discovery;
    std::function<Outcome(Worker&)> run;
};

const std::vector<Operation>& operations();

// Records the clean answers of the worker's module (faults must be off).
bool record_clean(Worker& w, std::string* error);

// How long a call may take: its exchanges at Timeout + 10 ms on each of Retries + 1 tries, the
// final replies' extra time, each poll phase (Timeout and the poll under way), and discovery's
// listening.
uint64_t bound_ms(const Operation& op, const ZEBDevice& d);

}  // namespace soak
