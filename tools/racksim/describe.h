// Human-readable summary of a rack, printed when RackSim starts.
#pragma once

#include <string>

#include "rack.h"

namespace racksim {

// A module kind as a rack file names it: "Qx-RIO", "node", or "kind N".
std::string kind_text(uint8_t kind);

std::string describe_slot(int number, const Slot& slot);
std::string describe_rack(const Rack& rack);

// Names the first module whose address is outside 127.0.0.0/8 ("" if none).
std::string first_remote_module(const Rack& rack);

}  // namespace racksim
