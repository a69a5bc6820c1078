// How a module answers where a host takes its replies more than one way: its manner. A manner
// never changes what a host reads; it varies the acknowledgements a host does not read, bytes
// after the fields a host reads, the form of a refusal, the CRC, the timing of replies within a
// host's waits, and copies of earlier replies. A module plays one manner for every request, or
// draws one for each request from its seed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"

namespace racksim {

// The acknowledgement of a request whose host takes any first reply for it (one without echo
// bytes: a setup write or delete, a base-definition write, a serial setup that waits, a
// program-space write).
enum class AckForm : uint8_t {
    served,  // as the function serves it: the function code and 0, or 20 23 for a serial setup
    code,    // the function code and 0
    status,  // a bare status word 0
    final,   // byte for byte the final reply
    empty,   // no payload
};

// Bytes after the fields a host reads (zeros, or random bytes), never taking a reply past the
// smallest reply buffer a host has. Replies whose every byte a host takes get none, and nor do
// refusals, which may stop short of the fields a host reads.
enum class Padding : uint8_t { none, even, fixed, random };

// A refusal: a nonzero status word saying that the request was not carried out.
enum class RefusalForm : uint8_t {
    served,        // as the function serves it: some carry the fields behind the status, zeroed
    status_alone,  // the status word alone (after the reply's head, for a controller request)
};

// The CRC field: as the rack says ("crc"), on every reply, or 0 on every reply. A field of 0
// means "no CRC": a host takes such a reply unchecked, unless the module has sent it CRCs before
// and the payload's CRC is not 0 (damage, then; 0 is also the CRC of every all-zero payload, such
// as a bare success status). So a module keeps one CRC form for all its replies.
enum class CrcForm : uint8_t { rack, always, never };

// A controller request (CCM, K-sequence) the module does not carry out.
enum class ControllerRefusal : uint8_t {
    served,      // refused in place of the acknowledgement when it cannot be passed on, after it
                 // when the controller refuses it
    before_ack,  // always in place of the acknowledgement (21, code, status)
    after_ack,   // always acknowledged first (20, code), then refused (22, code, status)
};

inline constexpr uint16_t kDefaultPadTo = 64;
inline constexpr uint32_t kDefaultLateMs = 40;
inline constexpr uint32_t kDefaultFinalLateMs = 1000;

struct Manner {
    AckForm ack = AckForm::served;
    Padding padding = Padding::none;
    uint16_t pad_to = kDefaultPadTo;  // Padding::fixed: payload bytes a reply is padded to
    RefusalForm refusal = RefusalForm::served;
    CrcForm crc = CrcForm::rack;
    ControllerRefusal controller_refusal = ControllerRefusal::served;
    bool unread_empty = false;    // replies a host only waits for carry no payload
    bool previous_first = false;  // a copy of the module's previous reply goes just before
    uint32_t late_ms = 0;         // every reply this late: meant to be within a host's time-out
    // The final reply after an acknowledgement without echo bytes this much later still: meant
    // to be past a host's time-out and within the 30 s it adds for such replies.
    uint32_t final_late_ms = 0;
    uint64_t salt = 0;  // varies random padding from one drawn manner to the next

    bool operator==(const Manner&) const = default;
};

// What a module is given: one manner, or one drawn for each request from its generator (then
// `manner` holds the amounts a drawn manner uses: pad_to, late_ms, final_late_ms).
struct MannerSetting {
    Manner manner;
    bool random = false;
    uint64_t seed = 0;  // the generator's seed; 0: the module's faults seed

    bool operator==(const MannerSetting&) const = default;
};

// What a module keeps for its manner: its generator, the CRC form of its drawn manners, and the
// last reply it sent.
struct MannerState {
    uint64_t rng = 0;
    CrcForm crc = CrcForm::rack;
    Bytes previous;
};

struct NamedManner {
    const char* name;
    const char* what;  // one line for --help and the manual
    Manner manner;
};

// The manners by name, "plain" (as served) first. "random" is not among them: it draws from
// these choices for each request.
const std::vector<NamedManner>& named_manners();
inline constexpr const char* kRandomManner = "random";

// The setting a name gives (one of named_manners(), or "random"); nullopt for any other.
std::optional<MannerSetting> manner_named(const std::string& name);
// "plain, ack-code, ..., random", for messages.
std::string manner_names();

// A random setting with the amounts a drawn manner uses.
MannerSetting random_manner(uint32_t late_ms = kDefaultLateMs,
                            uint32_t final_late_ms = kDefaultFinalLateMs);

// Starts a module's manner afresh, its last reply kept: the generator from the setting's seed,
// or from the module's faults seed when the setting gives none, and for drawn manners the CRC
// form the module keeps for all its replies, drawn first.
void start_manner(const MannerSetting& s, uint64_t faults_seed, MannerState& state);

// The manner for one request: the setting's own, or the next drawn from the state's generator.
Manner next_manner(const MannerSetting& s, MannerState& state);

// What a manner does differently from "plain", for the log ("" when nothing).
std::string manner_note(const Manner& m);

}  // namespace racksim
