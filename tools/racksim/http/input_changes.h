// Changes to a module's inputs asked for over HTTP: read from JSON, checked against the module
// whole, then made together, so that a host's next read sees every one of them or, when one is
// refused, none.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

#include "module.h"

namespace racksim {

enum class PointKind : uint8_t { bit, word, dword };

struct InputChange {
    int slot = 0;
    PointKind kind = PointKind::bit;
    size_t index = 0;
    uint32_t value =
        0;             // a word's or 32-bit value as its bits (a negative one in two's complement)
    size_t place = 0;  // its place in the request's list, for messages
};

// {"points": [{"slot": 0, "kind": "bit" | "word" | "dword", "index": 3, "value": 1}, ...]}:
// a bit is 0, 1, false or true; a word -32768 to 65535; a 32-bit value -2^31 to 2^32-1.
// Throws a Refusal (400) that names the place of what is wrong.
std::vector<InputChange> read_input_changes(const nlohmann::json& body);

// Throws a Refusal when a change does not fit the module: 400 for a slot or point it does not
// have, 409 for an input that a host's next read would overwrite with the outputs it mirrors.
void check_input_changes(const Module& m, const std::vector<InputChange>& changes);

// Makes checked changes, in their order.
void apply_input_changes(Module& m, const std::vector<InputChange>& changes);

}  // namespace racksim
