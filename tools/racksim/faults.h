// A module's misbehaviour: lost requests, and replies that come late, twice, damaged or
// preceded by a stray packet. The replies themselves are made in reply_datagrams.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module.h"

namespace racksim {

struct Outgoing;

// Whether a request that meets these faults is lost; says which fault in *why. Counts the
// loss down in `drop_first` and moves the drop generator on.
bool drop_request(Faults& f, std::string* why);

// The number of the request before `seq`: what a late reply to an earlier try would carry.
uint16_t other_sequence(uint16_t seq);

// A CRC field that is wrong for a payload whose CRC is `right`, and nonzero (0 would mean
// "not computed").
uint16_t wrong_crc(uint16_t right);

// Applies the random reply faults to the datagrams of one answered request (as made by
// reply_datagrams) and counts what they did in `tally`.
void apply_random_faults(Faults& f, uint16_t sequence, std::vector<Outgoing>& replies,
                         FaultTally& tally);

// A short note of the faults that shaped the replies, for the log ("" when none).
std::string fault_note(const Faults& f);

}  // namespace racksim
