#include "reply_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/crc16.h"
#include "core/state.h"
#include "sim_device.h"

namespace zebfuzz {

namespace {

using zebtest::Datagram;
using zebtest::Endpoint;
using zebtest::PeerReply;

constexpr size_t kMaxReplyBody = 1600;
constexpr uint32_t kMaxDelayMs = 255;
constexpr uint32_t kMaxReplies = 4;
constexpr uint32_t kMaxStrays = 3;
// What the clock may run over a bound: the waits of one poll step.
constexpr uint64_t kSlackMs = 2;

[[noreturn]] void broken(const char* operation, const char* what, unsigned long long a,
                         unsigned long long b) {
    std::fprintf(stderr, "%s: %s (%llu, limit %llu)\n", operation, what, a, b);
    std::abort();
}

Bytes framed(uint16_t sequence, uint8_t flags, const Bytes& body) {
    if (!(flags & 1)) return body;
    if (flags & 4) sequence = static_cast<uint16_t>(sequence + 1);
    const uint16_t crc = (flags & 2) ? zeb::crc16(body.data(), body.size()) : 0;
    const auto length = static_cast<uint16_t>(body.size());
    Bytes frame = {'Z',
                   'Q',
                   'K',
                   uint8_t(sequence),
                   uint8_t(sequence >> 8),
                   uint8_t(crc),
                   uint8_t(crc >> 8),
                   uint8_t(length),
                   uint8_t(length >> 8)};
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

// A packet the module side sends with no request behind it; framed ones carry the number the
// next request will have.
void inject_strays(FuzzInput& in, zebtest::SimNetwork& net, zeb::plat::Handle socket) {
    const uint32_t strays = in.number(kMaxStrays, 0);
    for (uint32_t i = 0; i < strays; ++i) {
        const auto flags = static_cast<uint8_t>(in.number(7, 3));
        const uint32_t delay = in.number(kMaxDelayMs, 0);
        const Bytes body = in.bytes(kMaxReplyBody, {});
        net.inject_to(socket, {kModuleIp, zebtest::kModulePort}, framed(1, flags, body), delay);
    }
}

// Reads every byte of a packet handed over, so that a wrong length shows.
void ZEB_CALL touch_packet(ZEBDevice*, uint8_t* packet, int32_t length) {
    volatile uint8_t sum = 0;
    for (int32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + packet[i]);
}

}  // namespace

uint64_t Bound::ms(uint32_t timeout, uint32_t retries) const {
    const uint64_t tries = uint64_t{retries} + 1;
    const uint64_t exchange = tries * (uint64_t{timeout} + 10);
    uint64_t total = exchanges * exchange + tries * extra_ms + polls * (timeout + exchange);
    // The probe's own exchange (20 ms, no re-send), the listening, and the wait under way.
    if (discovery) total += 20 + zeb::state::query_timeout_ms() + 20;
    return total;
}

uint16_t* Call::room(uint16_t typical, uint16_t max) {
    const auto n = static_cast<uint16_t>(in.number(max, typical));
    rooms_.push_back({n, n, false});
    return &rooms_.back().value;
}

uint16_t* Call::answers_room(uint16_t typical, uint16_t max) {
    uint16_t* n = room(typical, max);
    rooms_.back().answers = true;
    return n;
}

int32_t* Call::reply_room(int32_t typical) {
    // A little below zero too: a caller's count is not to be trusted.
    const auto n = static_cast<int32_t>(in.number(3000, uint32_t(typical + 16))) - 16;
    reply_rooms_.emplace_back(n, n);
    return &reply_rooms_.back().first;
}

uint8_t* Call::buffer(size_t n) {
    buffers_.push_back(std::make_unique<uint8_t[]>(n));
    std::memset(buffers_.back().get(), 0xCC, n);
    return buffers_.back().get();
}

const uint8_t* Call::data(size_t max, const Bytes& typical, uint32_t* length) {
    const Bytes b = in.bytes(max, typical);
    uint8_t* p = buffer(b.size());
    if (!b.empty()) std::memcpy(p, b.data(), b.size());
    *length = static_cast<uint32_t>(b.size());
    return p;
}

void Call::add(const Bound& more) {
    more_.push_back(more);
}

uint64_t Call::extra_bound_ms(uint32_t timeout, uint32_t retries) const {
    uint64_t total = 0;
    for (const Bound& b : more_) total += b.ms(timeout, retries);
    return total;
}

void Call::check_counts(const char* operation, uint32_t result) const {
    for (const Room& r : rooms_) {
        if (r.value > r.capacity && !(r.answers && result == ZEBERR_BUFFER_TOO_SMALL)) {
            broken(operation, "count grew past the caller's room", r.value, r.capacity);
        }
    }
    for (const auto& [value, capacity] : reply_rooms_) {
        // A length never above the room; below 0 only when the caller's room was, untouched.
        if (value > std::max(capacity, 0) || (value < 0 && value != capacity)) {
            broken(operation, "reply length outside the caller's room",
                   static_cast<unsigned long long>(value),
                   static_cast<unsigned long long>(capacity));
        }
    }
}

void play_replies(FuzzInput& in, const Datagram& request, PeerReply& out,
                  const std::vector<ReplyDatagram>& typical) {
    if (request.bytes.size() < 5) return;
    const auto sequence = static_cast<uint16_t>(request.bytes[3] | request.bytes[4] << 8);
    const uint32_t n = in.number(kMaxReplies, uint32_t(typical.size()));
    for (uint32_t i = 0; i < n; ++i) {
        const ReplyDatagram none{0, 0, {}};
        const ReplyDatagram& t = i < typical.size() ? typical[i] : none;
        const auto flags = static_cast<uint8_t>(in.number(7, t.flags));
        // Never at once: a real reply takes time, and mailbox polls rely on that to end.
        const uint32_t delay = in.number(kMaxDelayMs, t.delay_ms) + 1;
        const Bytes body = in.bytes(kMaxReplyBody, t.body);
        out.send_from(kModuleIp, framed(sequence, flags, body), delay);
    }
}

void run_reply_case(FuzzInput& in, const ModuleAnswer& recorder, size_t recorded_operation) {
    const std::vector<ReplyOperation>& ops = reply_operations();
    const ReplyOperation& op =
        ops[in.number(uint32_t(ops.size() - 1), uint32_t(recorded_operation))];
    zeb::state::set_next_sequence(1);
    const int32_t crc_before = SetCRCMode(in.flag(true) ? 1 : 0);
    const ZEBAsyncHandler handler_before = zeb::state::async_handler();
    zeb::state::set_async_handler(touch_packet);
    const auto timeout = static_cast<uint16_t>(in.number(300, 100));
    const auto retries = static_cast<uint16_t>(in.number(3, 1));
    const bool no_wait = in.flag(false);
    const bool keyed = in.flag(false);
    {
        zebtest::ScopedSimNetwork net;
        net->set_spin_limit(1'000'000);
        net->add_peer_range(
            kModuleIp, kModuleIp, zebtest::kModulePort, [&](const Datagram& d, PeerReply& out) {
                play_replies(in, d, out, recorder ? recorder(d) : std::vector<ReplyDatagram>{});
            });
        {
            zebtest::IpDevice dev({kModuleIp, zebtest::kModulePort}, {timeout, retries, 0});
            if (dev.device_result != 0)
                broken(op.name, "device did not open", dev.device_result, 0);
            dev->NoWait = no_wait ? 1 : 0;
            if (keyed) dev.set_key("fz");
            inject_strays(in, *net, dev.socket());

            Call call(in, &dev.device, &dev.transport);
            const size_t sockets = net->sockets_open();
            const uint64_t start = net->now();
            const uint32_t result = op.call(call);
            const uint64_t took = net->now() - start;
            const uint64_t bound =
                op.bound.ms(timeout, retries) + call.extra_bound_ms(timeout, retries) + kSlackMs;
            if (took > bound) broken(op.name, "call outlasted its bound (ms)", took, bound);
            call.check_counts(op.name, result);
            if (net->sockets_open() != sockets) {
                broken(op.name, "sockets open after the call", net->sockets_open(), sockets);
            }
        }
        if (net->sockets_open() != 0) broken(op.name, "sockets left open", net->sockets_open(), 0);
    }
    zeb::state::set_async_handler(handler_before);
    SetCRCMode(crc_before);
}

}  // namespace zebfuzz
