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

// Whether a request that meets these faults is lost; says which fault in *why. Counts the
// loss down in `drop_first` and moves the drop generator on.
bool drop_request(Faults& f, std::string* why);

// The datagrams from the module at `from_ip` that carry the answers, with the faults applied,
// in sending order.
std::vector<Outgoing> reply_datagrams(uint32_t from_ip, const Faults& f, uint16_t sequence,
                                      const std::vector<Answer>& answers, bool crc);
class Replies;
// The same, added to `out`.
void add_reply_datagrams(uint32_t from_ip, const Faults& f, uint16_t sequence,
                         const std::vector<Answer>& answers, bool crc, Replies& out);

// Applies the random reply faults to the datagrams of one answered request (as made by
// reply_datagrams) and counts what they did in `tally`.
void apply_random_faults(Faults& f, uint16_t sequence, std::vector<Outgoing>& replies,
                         FaultTally& tally);

// A short note of the faults that shaped the replies, for the log ("" when none).
std::string fault_note(const Faults& f);

}  // namespace racksim
