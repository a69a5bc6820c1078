// The manner RackSim serves a fuzzed request in, picked by a number of the input from 0 to
// manner_choice_max(): one of the named manners ("plain", as served, is 0), manners drawn for
// each request, or "plain" from modules that refuse every request with a status word.
#pragma once

#include <cstdint>

#include "rack.h"

namespace zebfuzz {

inline uint32_t manner_choice_max() {
    return static_cast<uint32_t>(racksim::named_manners().size()) + 1;
}

inline void serve_in_manner(racksim::Rack& rack, uint32_t choice) {
    const auto& named = racksim::named_manners();
    racksim::MannerSetting setting;
    if (choice < named.size()) setting.manner = named[choice].manner;
    if (choice == named.size()) setting = racksim::random_manner();
    const uint16_t refusal = choice == named.size() + 1 ? 0x0042 : 0;
    for (racksim::Module& m : rack.modules()) {
        m.faults.refuse_status = refusal;
        if (m.manner == setting) continue;  // a drawn manner keeps drawing
        m.manner = setting;
        racksim::start_manner(setting, m.faults.seed, m.manner_state);
    }
}

}  // namespace zebfuzz
