// The rack played when no description is given.
#pragma once

namespace racksim {

// One Qx-RIO module, number 1, at 127.0.0.2: bit inputs wired to bit outputs, and a counter.
extern const char* const kBuiltinRack;

}  // namespace racksim
