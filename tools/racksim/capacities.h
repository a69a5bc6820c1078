// What a module may put in a reply: a host takes each reply in a buffer of the vocabulary's
// capacity, header included, so RackSim refuses to hold anything whose reply would not fit.
#pragma once

#include <cstddef>

#include "frame.h"
#include "vocab/capacities.h"

namespace racksim {

namespace capacity = zeb::vocab::capacity;

using zeb::vocab::kMaxConfigBlock;
using zeb::vocab::kMaxSetupRecord;
using zeb::vocab::kMaxSetupTypes;
using zeb::vocab::kMaxStatsRecord;
using zeb::vocab::kMaxStatusBlock;
using zeb::vocab::kStatusWordSize;

}  // namespace racksim
