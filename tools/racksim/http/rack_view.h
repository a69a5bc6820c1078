// The rack as the HTTP interface shows it: modules with their slots, the value of every point,
// faults, manners and counters. Nothing is changed by looking (a counter slot counts on a
// host's reads only).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "http/api_reply.h"
#include "rack.h"

namespace racksim {

// What the view shows of a module, copied under the serving loop's lock; the JSON is built
// from it after the lock is released, so that a large rack's view holds up no request.
struct ModuleState {
    size_t index = 0;  // its place in the rack
    std::string name;
    uint32_t number = 0;
    Identity identity;
    bool controller_module = false;
    int base_slots = 0;
    Slots slots;
    Faults faults;
    std::map<uint8_t, Faults> faults_by_function;
    MannerSetting manner;
    Counters counters;
};

struct RackState {
    RackSettings settings;
    uint64_t bad_frames = 0;
    bool logging = false;  // log text is being built
    std::vector<ModuleState> modules;
};

ModuleState module_state(const Module& m, size_t index);
RackState rack_state(const Rack& rack);

// {"crc", "keyed", "bad_frames", "request_log", "modules"}
OrderedJson rack_view(const RackState& rack);
OrderedJson module_view(const ModuleState& m);
// A module's inputs (or outputs) by slot: {"slots": [{"slot": 0, "bits": [...], "words":
// [...], "dwords": [...]}]}, slots without such points left out. Small: built under the lock.
OrderedJson image_view(const Module& m, bool outputs);
// The faults that differ from none, under the keys of a rack file.
OrderedJson faults_view(const Faults& f);
// {"0x07": {faults}, ...}
OrderedJson faults_by_function_view(const std::map<uint8_t, Faults>& by_function);
// {"name": "plain" | a manner's name | "random" | "custom", "note": what differs from plain}
OrderedJson manner_view(const MannerSetting& s);

// The I/O writes a module has answered (with and without the inputs read back).
uint64_t output_writes(const Counters& c);

}  // namespace racksim
