// The datagrams that carry one request's answers: each reply framed as the module's manner
// forms it, with the copies that the manner and the module's fixed faults add.
#pragma once

#include <cstdint>
#include <vector>

#include "functions.h"
#include "manner.h"
#include "module.h"

namespace racksim {

class Replies;

// One answered request, as its replies are to be made.
struct AnswerOf {
    uint32_t from_ip;   // the answering module
    uint8_t code;       // the request's function code
    uint16_t sequence;  // the request's sequence number, which every reply carries
    bool rack_crc;      // the rack's "crc"
};

// Adds the datagrams of `answers` to `out`, in sending order: a copy of the module's previous
// reply when the manner sends one first (`previous`, which then takes this request's last
// reply), a stray copy and a second copy where the faults ask for them, then each reply. Every
// reply stays within the host's reply buffer for it; nothing is allocated once `out` and
// `previous` have their storage.
// Returns whether the copy of the previous reply went.
bool add_reply_datagrams(const AnswerOf& request, const std::vector<Answer>& answers,
                         const Manner& manner, const Faults& faults, Bytes* previous, Replies& out);

}  // namespace racksim
