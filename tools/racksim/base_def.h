// The base definition stream: slot selections followed by module records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "bytes.h"
#include "module.h"

namespace racksim {

// A base definition. Compact unless `extended`; an extended stream (or a compact one that had to
// switch for a slot above 15) ends with 0xF0.
Bytes encode_base_def(const Slots& slots, bool extended);
// The module's current base definition.
inline Bytes encode_base_def(const Module& m, bool extended) {
    return encode_base_def(m.base.slots, extended);
}

// Reads a base definition written by a host into fresh slots (records with zeroed images).
// Records of unknown kinds leave their slot empty. Returns false, with the reason in *why,
// when the stream is malformed or names a slot outside the module's base.
bool parse_base_def(const uint8_t* data, size_t len, int base_slots, Slots* slots,
                    std::string* why);

// Makes `fresh` the module's base, keeping the image of every slot whose counts did not change.
// Slots that stay occupied keep their behaviour unless `fresh_behaviour` says to take the
// behaviour that `fresh` carries.
void adopt_base_def(Module& m, Slots fresh, bool fresh_behaviour = false);

}  // namespace racksim
