// A simulated module: identity, its base of slots with module records and I/O images,
// the behaviour of its inputs, its misbehaviour knobs and its counters.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "controller.h"
#include "controller_os.h"
#include "diagnostics.h"
#include "frame.h"
#include "io/item_stream.h"
#include "manner.h"
#include "memory_areas.h"
#include "serial_port.h"
#include "setup_store.h"
#include "shared_ram_regions.h"
#include "vocab/device_def.h"

namespace racksim {

// Device-definition kinds (byte 2 of the device definition).
inline constexpr uint8_t kKindQxRio = zeb::vocab::device_def::kKindQxRio;
inline constexpr uint8_t kKindNode = zeb::vocab::device_def::kKindNode;

inline constexpr int kDefaultBaseSlots = 8;
inline constexpr int kMaxBaseSlots = 32;
// Largest kind-7 pair list: the record (kind, identification, count, pairs) must still fit a
// compact item, whose data is at most its length field's largest value plus 2 bytes.
inline constexpr size_t kMaxRecordPairs = (zeb::items::kCompactLengthMax + 2 - 3) / 2;

struct IoCounts {
    uint8_t bit_in = 0, bit_out = 0, word_in = 0, word_out = 0, dword_in = 0, dword_out = 0;
    bool operator==(const IoCounts&) const = default;
    bool any_inputs() const { return bit_in || word_in || dword_in; }
    bool any_outputs() const { return bit_out || word_out || dword_out; }
    // From counts in the order of the item reader's groups.
    static IoCounts of(const uint8_t (&groups)[zeb::items::kGroups]);
};

// A module record of the base definition (kinds 1, 3, 5, 7, 255).
struct SlotRecord {
    uint8_t kind = 255;
    uint8_t ident = 0;
    IoCounts counts;  // kinds 1, 3, 5: the record's own fields; kind 7: derived from pairs
    std::vector<std::pair<uint8_t, uint8_t>> pairs;  // kind 7 only, as written

    bool operator==(const SlotRecord&) const = default;

    static bool known_kind(uint8_t kind);
    static SlotRecord basic(uint8_t ident, uint8_t bit_in, uint8_t bit_out, uint8_t word_in,
                            uint8_t word_out);  // kind 1
    static SlotRecord wide(uint8_t ident, uint8_t bit_in, uint8_t bit_out, uint8_t dword_in,
                           uint8_t dword_out);                      // kind 3
    static SlotRecord full(uint8_t ident, const IoCounts& counts);  // kind 5
    static SlotRecord paired(uint8_t ident, std::vector<std::pair<uint8_t, uint8_t>> pairs);  // 7
    static SlotRecord no_io(uint8_t ident);  // kind 255

    // Counts a kind-7 pair list sets: known types only, a later pair of a type wins.
    static IoCounts counts_from_pairs(const std::vector<std::pair<uint8_t, uint8_t>>& pairs);
    // The record's bytes as carried in a module-record item (kind byte first).
    Bytes encode() const;
};

// The I/O image of one slot, sized by its record's counts. Bits are packed eight to a byte,
// bit n in bit n % 8 of byte n / 8.
struct SlotImage {
    Bytes bit_in, bit_out;
    std::vector<uint16_t> word_in, word_out;
    std::vector<uint32_t> dword_in, dword_out;

    void resize(const IoCounts& c);
    static bool bit(const Bytes& bits, size_t n) { return (bits.at(n / 8) >> (n % 8)) & 1; }
    static void set_bit(Bytes& bits, size_t n, bool v);
};

// What drives a slot's inputs besides the values set from outside.
struct SlotBehaviour {
    bool counter = false;  // word input 0 (else 32-bit input 0) counts up on every read
    int wired_from = -1;   // inputs mirror this slot's outputs (bit, word and 32-bit alike)
    bool operator==(const SlotBehaviour&) const = default;
};

struct Slot {
    SlotRecord record;
    SlotImage io;
    SlotBehaviour behaviour;

    Slot() = default;
    explicit Slot(SlotRecord r) : record(std::move(r)) { io.resize(record.counts); }
    const IoCounts& counts() const { return record.counts; }
};

// Misbehaviour, applied to the requests addressed to the module (or, as an entry of
// `faults_by_function`, to those with one function code).
struct Faults {
    uint32_t drop_first = 0;     // drop this many requests, then answer
    double drop_fraction = 0.0;  // drop this share of requests (0..1), decided by `seed`
    uint64_t seed = 1;
    uint32_t delay_ms = 0;            // every reply leaves this late
    uint32_t final_delay_ms = 0;      // extra delay of the final reply of a two-reply request
    bool corrupt_crc = false;         // replies carry a wrong, nonzero CRC
    bool stray_before_reply = false;  // a copy with another sequence number goes first
    bool answer_twice = false;        // every reply is sent twice
    bool magic_zqq = false;           // replies carry the magic "ZQQ"
    bool broadcast_only = false;      // the discovery answer says "reach me by broadcast only"
    // Every request whose replies carry a status word is refused with this one, without being
    // carried out (0: none); the others are served as usual.
    uint16_t refuse_status = 0;
    uint64_t rng_state = 0;  // drop_fraction's generator; set from `seed` by the rack
    // Faults drawn at random for each answered request (shares of 0..1, from the same
    // generator): all its replies late by `late_ms`, its last reply with a body byte changed
    // after the CRC was taken, and for each reply a copy sent twice or a copy with another
    // sequence number sent first (at most one of these per reply).
    double late_fraction = 0.0;
    uint32_t late_ms = 0;
    double corrupt_fraction = 0.0;
    double duplicate_fraction = 0.0;
    double stray_fraction = 0.0;
    bool operator==(const Faults&) const = default;
};

// What the random faults did, in datagrams, and the copies of earlier replies that the module's
// manner sent first.
struct FaultTally {
    uint64_t late_answers = 0;  // requests whose replies were all sent late
    uint64_t late = 0;          // replies sent late
    uint64_t corrupted = 0;     // replies damaged behind their CRC
    uint64_t duplicated = 0;    // extra copies sent
    uint64_t strays = 0;        // copies with another sequence number
    uint64_t previous = 0;      // copies of the module's previous reply sent first, not late
};

struct Counters {
    uint64_t requests = 0;  // requests addressed to this module (after address filtering)
    uint64_t dropped = 0;   // of those, dropped by a fault
    uint64_t answered = 0;  // requests that got a reply
    std::map<uint8_t, uint64_t> by_function;  // answered requests per function code
    std::map<uint8_t, uint64_t> dropped_by_function;
    std::map<uint8_t, FaultTally> faults_by_function;  // what the random faults did
};

// What the module says about itself and where it is. Its name and number are setup records.
struct Identity {
    uint8_t kind = kKindQxRio;
    uint32_t ip = 0;  // host byte order; 0 = assigned by the rack
    HwAddress hw{};   // all zero = derived by the rack

    Bytes version_block;  // empty = the default block
    Bytes support_block;  // empty = the default block
    Bytes device_def;     // empty = the default block (byte 2 = kind)
};

using Slots = std::map<int, Slot>;

// The I/O base behind the module: its slots with module records and I/O images.
struct BaseIo {
    int base_slots = kDefaultBaseSlots;
    Slots slots;      // the current base definition with the I/O images
    Slots installed;  // what init/rescan restores; set when added to a rack
};

// What hosts wrote into a node's program space: the last block, and how many writes came.
struct ProgramSpace {
    Bytes last_write;
    uint64_t writes = 0;
};

// A simulated module: one part per feature it plays, its misbehaviour and its counters.
// Features to come (memory, serial ports) each add their own part.
struct Module {
    Identity identity;
    BaseIo base;
    SetupStore setup;
    Bytes config;  // the configuration block, read and written whole
    Diagnostics diagnostics;
    ProgramSpace program;  // nodes only

    Faults faults;
    // Faults for one function code in place of `faults` (a rack description fills an entry
    // from the module's faults, changed by what the entry gives).
    std::map<uint8_t, Faults> faults_by_function;
    // How it answers where a host takes more than one way; started by start_manner() when the
    // module joins a rack.
    MannerSetting manner;
    MannerState manner_state;
    Counters counters;

    // Behind the module: a controller, typed memory, shared RAM, and the module's serial ports.
    Controller controller = Controller::standard();
    Memory memory = Memory::standard();
    SharedRam shared_ram = SharedRam::standard();
    SerialPorts serial = SerialPorts::standard();
    // A controller module's own system (files in a host directory, handles, serial ports,
    // last error); a module whose root is empty is no controller module.
    ControllerOs controller_os;

    Module() = default;
    Module(const std::string& name, uint32_t number, uint8_t kind = kKindQxRio) {
        set_name(name);
        set_number(number);
        identity.kind = kind;
    }

    // The name and number records; "" and 0 when the record is missing.
    std::string name() const;
    uint32_t number() const;
    void set_name(const std::string& name);
    void set_number(uint32_t number);

    // Puts a module record in a slot with a zeroed image.
    Slot& add_slot(int slot, SlotRecord record);
    Slot& slot(int n) { return base.slots.at(n); }
    const Slot& slot(int n) const { return base.slots.at(n); }

    // The faults that a request with this function code meets.
    Faults& faults_for(uint8_t code);
};

}  // namespace racksim
