// One call of a library operation whose module replies are the fuzzer's bytes, on the
// simulated network and its virtual clock, with the checks that go beyond memory safety:
// counts delivered never exceed the caller's capacity, no call outlasts its bound, and no
// socket is left open.
//
// A run reads, in order: the operation's index, the CRC mode, the device's Timeout, Retries,
// NoWait and key mode, the stray packets that reach the device unasked, the operation's own
// arguments (capacities, counts, data), then for each request the library sends the replies
// the module gives (see play_replies).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "sim_network.h"
#include "zeb.h"

namespace zebfuzz {

// How long an operation may take on the virtual clock, as a sum of the device's waits: every
// engine exchange waits at most Timeout (raised by 10 ms for some operations) on each of its
// Retries + 1 tries; an acknowledged exchange's final reply may come `extra_ms` later; a
// mailbox poll phase lasts Timeout from its start plus the poll under way; discovery listens
// for the query time-out.
struct Bound {
    uint32_t exchanges = 1;
    uint32_t extra_ms = 0;  // per try, for the final reply of an acknowledged exchange
    uint32_t polls = 0;
    bool discovery = false;

    uint64_t ms(uint32_t timeout, uint32_t retries) const;
};

inline constexpr Bound kSingle{1, 0, 0, false};
inline constexpr Bound kNone{0, 0, 0, false};  // refused or answered without the network
inline Bound acknowledged(uint32_t extra_ms) {
    return {2, extra_ms, 0, false};
}
inline constexpr Bound kDiscovery{0, 0, 0, true};

// The caller's side of one call: buffers of exactly the size the caller says they have, and
// the in/out counts that are checked after the call.
class Call {
  public:
    Call(FuzzInput& in, ZEBDevice* device, ZEBTransport* transport)
        : in(in), dev(device), transport(transport) {}

    // An in/out count of room (bytes or entries): after the call it must not have grown.
    uint16_t* room(uint16_t typical = 1200, uint16_t max = 2048);
    // A list's room that comes back as the number of answers: more than fit only with
    // ZEBERR_BUFFER_TOO_SMALL (the entries past the room are never written).
    uint16_t* answers_room(uint16_t typical, uint16_t max);
    int32_t* reply_room(int32_t typical = 1300);
    // Exactly n bytes of the caller's own (never a larger allocation, so that any access
    // past them is caught).
    uint8_t* buffer(size_t n);
    // Caller data to send: up to `max` bytes from the input, in a buffer of exactly their size.
    const uint8_t* data(size_t max, const Bytes& typical, uint32_t* length);
    uint32_t number(uint32_t max, uint32_t typical) { return in.number(max, typical); }
    // Widens the bound for a call whose exchanges depend on its arguments.
    void add(const Bound& more);

    // Checks after the call.
    void check_counts(const char* operation, uint32_t result) const;
    uint64_t extra_bound_ms(uint32_t timeout, uint32_t retries) const;

    FuzzInput& in;
    ZEBDevice* dev;
    ZEBTransport* transport;

  private:
    std::deque<std::unique_ptr<uint8_t[]>> buffers_;
    struct Room {
        uint16_t value;
        uint16_t capacity;
        bool answers;
    };
    std::deque<Room> rooms_;
    std::deque<std::pair<int32_t, int32_t>> reply_rooms_;
    std::vector<Bound> more_;
};

struct ReplyOperation {
    const char* name;
    Bound bound;
    uint32_t (*call)(Call&);
};

// Every operation, in a fixed order: seeds name them by index, so new ones go at the end.
const std::vector<ReplyOperation>& reply_operations();

// The replies the module gives to one request. For each: a flag byte (bit 0: put a reply
// header before the body with the request's sequence number, bit 1: with the body's CRC in
// it, bit 2: with the next sequence number instead), a delay of 1 to 256 ms, and the body
// (the whole datagram when bit 0 is clear). `typical` holds the replies written down when
// recording.
struct ReplyDatagram {
    uint8_t flags;
    uint32_t delay_ms;
    Bytes body;
};
void play_replies(FuzzInput& in, const zebtest::Datagram& request, zebtest::PeerReply& out,
                  const std::vector<ReplyDatagram>& typical);

// Where replies come from when recording: a module simulator that answers requests.
using ModuleAnswer = std::function<std::vector<ReplyDatagram>(const zebtest::Datagram& request)>;

// Runs one call. With `recorder` given, the input records, and each request is answered by it.
// Aborts with a message on any broken check.
void run_reply_case(FuzzInput& in, const ModuleAnswer& recorder = nullptr,
                    size_t recorded_operation = 0);

// Where the fuzzed module lives.
inline constexpr uint32_t kModuleIp = 0x7F000002;  // 127.0.0.2

}  // namespace zebfuzz
