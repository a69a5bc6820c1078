// What a host takes and sends. A module's replies must fit the host's reply buffers and the
// write of all its outputs must fit the host's request buffer, so RackSim refuses a base that
// would break either: what it plays is what a module could send.
#pragma once

#include <cstddef>
#include <string>

#include "capacities.h"
#include "module.h"

namespace racksim {

// What of the exchanges with a base would not fit, in both item formats: the I/O reply, the
// write of all outputs and the base-definition read. "" when everything fits.
std::string base_too_large(const Slots& slots);

// The same, and also the reply to init, which carries the installed base.
std::string installed_base_too_large(const Slots& slots);

}  // namespace racksim
