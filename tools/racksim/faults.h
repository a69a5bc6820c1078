// A module's misbehaviour: lost requests, and replies that come late, twice, damaged or
// preceded by a stray packet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "functions.h"
#include "module.h"

namespace racksim {

struct Outgoing;

// Whether the module loses this request; says which fault in *why.
bool drop_request(Module& m, std::string* why);

// The datagrams that carry the answers, with the module's faults applied, in sending order.
std::vector<Outgoing> reply_datagrams(const Module& m, uint16_t sequence,
                                      const std::vector<Answer>& answers, bool crc);

// A short note of the faults that shaped the replies, for the log ("" when none).
std::string fault_note(const Module& m);

}  // namespace racksim
