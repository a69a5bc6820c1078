// The module's own serial ports, all under one function code with the operation in the next
// byte. Operations with the top bit set name the port in the byte after (its number less one);
// the others use the module's default port. Replies fit the host's 200-byte reply buffer, and
// the 1500-byte one of the combined write-and-answer exchange.
#include <algorithm>
#include <string>

#include "handlers.h"
#include "statuses.h"
#include "vocab/ccm.h"
#include "vocab/serial_ops.h"

namespace racksim {

namespace {

// After the status word and the count.
constexpr size_t kReadMax = capacity::kSerialReply - kHeaderSize - 4;
constexpr size_t kAccessReadMax = capacity::kSerialAccessReply - kHeaderSize - 4;
// The combined exchange answers once its bytes have come back, or after this long with what
// has come by then.
constexpr uint64_t kAccessWaitMs = 1000;

namespace ops = zeb::vocab::serial;

bool known_op(uint8_t op, bool named) {
    if (op >= ops::kWrite && op <= ops::kReadSetup) return true;
    return named ? op == ops::kFlushTx : op == ops::kAccess;
}

// The acknowledgement of a setup that waits, marked as a controller request's is: never the same
// bytes as the status reply after it.
const Bytes kSetupAcknowledged = {zeb::vocab::ccm::kAcknowledged, fn::kSerial};

struct Call {
    Context& ctx;
    Reader& in;
    SerialPort* port;  // null: the module has no such port
    std::string what;  // "port N", for the log
    uint64_t now;
};

Bytes status_and_count(uint16_t status, size_t count) {
    Bytes b = status_only(status);
    put_u16(b, static_cast<uint16_t>(std::min<size_t>(count, 0xFFFF)));
    return b;
}

// A refusal in the shape of the operation's reply: those that answer with a count carry 0.
Bytes refusal(uint8_t op, uint16_t status) {
    const bool counted =
        op == ops::kRead || op == ops::kRxAvailable || op == ops::kTxLeft || op == ops::kAccess;
    return counted ? status_and_count(status, 0) : status_only(status);
}

// Every reply here holds fields at fixed places: a status word, then counts and counted bytes
// (or the setup record alone).
Execution refuse(const Call& c, uint8_t op, uint16_t status) {
    return {{refusal_reply(refusal(op, status), Reading::fields)},
            c.what + ": " + status_text(status)};
}

Answer status_answer(uint16_t status, uint32_t extra_delay_ms = 0) {
    return status == kStatusOk
               ? field_reply(status_only(status), extra_delay_ms)
               : refusal_reply(status_only(status), Reading::fields, 0, extra_delay_ms);
}

Execution status_reply(const Call& c, uint16_t status, const std::string& done) {
    return {{status_answer(status)}, c.what + ": " + (status ? status_text(status) : done)};
}

// Status word, count and the received bytes (at most `max`).
Execution received_reply(const Call& c, size_t max, uint32_t delay_ms, const std::string& done) {
    const Bytes bytes = c.port->receive(max);
    const uint16_t status = c.port->take_overrun() ? kStatusReceiveOverrun : uint16_t{kStatusOk};
    Bytes b = status_and_count(status, bytes.size());
    b.insert(b.end(), bytes.begin(), bytes.end());
    return {{field_reply(std::move(b), delay_ms)},
            c.what + ": " + done + ", " + std::to_string(bytes.size()) + " bytes received" +
                (status ? ", " + status_text(status) : "")};
}

// A count, then as many data bytes.
bool counted_data(Reader& in, uint16_t* count) {
    return in.u16(count) && in.left() == *count;
}

Execution write(Call& c) {
    uint16_t count = 0;
    if (!counted_data(c.in, &count)) return refuse(c, ops::kWrite, kStatusMalformed);
    if (!c.port) return refuse(c, ops::kWrite, kStatusNoSuchPort);
    if (!c.port->transmit(c.now, c.in.here(), count)) {
        return refuse(c, ops::kWrite, kStatusTransmitFull);
    }
    return status_reply(c, kStatusOk, "wrote " + std::to_string(count) + " bytes");
}

Execution read(Call& c) {
    uint16_t wanted = 0;
    if (!c.in.u16(&wanted) || !c.in.done()) return refuse(c, ops::kRead, kStatusMalformed);
    if (!c.port) return refuse(c, ops::kRead, kStatusNoSuchPort);
    c.port->advance(c.now);
    return received_reply(c, std::min<size_t>(wanted, kReadMax), 0,
                          "read (" + std::to_string(wanted) + " wanted)");
}

Execution queue_count(Call& c, uint8_t op) {
    if (!c.in.done()) return refuse(c, op, kStatusMalformed);
    if (!c.port) return refuse(c, op, kStatusNoSuchPort);
    c.port->advance(c.now);
    const bool receive = op == ops::kRxAvailable;
    const size_t n = receive ? c.port->rx_count() : c.port->tx_count();
    return {
        {field_reply(status_and_count(kStatusOk, n))},
        c.what + ": " + (receive ? "receive" : "transmit") + " queue holds " + std::to_string(n)};
}

Execution flush(Call& c, uint8_t op) {
    if (!c.in.done()) return refuse(c, op, kStatusMalformed);
    if (!c.port) return refuse(c, op, kStatusNoSuchPort);
    c.port->advance(c.now);
    if (op == ops::kFlushRx) {
        c.port->flush_rx();
        return status_reply(c, kStatusOk, "receive queue flushed");
    }
    c.port->flush_tx();
    return status_reply(c, kStatusOk, "transmit queue flushed");
}

// Wait flag, 0x00, the 8-byte setup. With the flag set the module acknowledges at once and
// takes the new settings once the bytes still queued have left, and answers then; also a
// refusal is then answered twice, as the host waits for both.
Execution setup(Call& c) {
    uint8_t wait = 0;
    if (!c.in.u8(&wait)) return refuse(c, ops::kSetup, kStatusMalformed);
    LineSetup s{};
    const bool whole = c.in.skip(1) && c.in.left() == s.size();
    if (whole) std::copy(c.in.here(), c.in.here() + s.size(), s.begin());
    uint16_t status = kStatusOk;
    if (!whole) status = kStatusMalformed;
    if (whole && !c.port) status = kStatusNoSuchPort;
    uint64_t applied_at = c.now;
    if (status == kStatusOk) {
        if (wait) applied_at = std::max(c.now, c.port->line_ms() + c.port->drain_ms());
        c.port->advance(applied_at);
        if (!c.port->set_setup(applied_at, s)) status = kStatusBadLineSetup;
    }
    const std::string done = "line set up (" + std::to_string(get_u32(s.data())) + " baud)";
    if (!wait) return status_reply(c, status, done);
    Execution ex;
    ex.answers.push_back(unread_reply(kSetupAcknowledged));
    const auto settle = static_cast<uint32_t>(std::min<uint64_t>(applied_at - c.now, UINT32_MAX));
    ex.answers.push_back(status_answer(status, settle + c.ctx.faults.final_delay_ms));
    ex.log = c.what + ": " + (status ? status_text(status) : done) + ", answered after " +
             std::to_string(settle) + " ms";
    return ex;
}

// The reply is the setup alone, without a status word; a refusal is a status word alone.
Execution read_setup(Call& c) {
    if (!c.in.skip(2) || !c.in.done()) return refuse(c, ops::kReadSetup, kStatusMalformed);
    if (!c.port) return refuse(c, ops::kReadSetup, kStatusNoSuchPort);
    const LineSetup& s = c.port->setup();
    return {{field_reply(Bytes(s.begin(), s.end()))}, c.what + ": setup read back"};
}

// Writes the bytes and answers with what the port has received once they have come back.
Execution access(Call& c) {
    uint16_t count = 0;
    if (!counted_data(c.in, &count)) return refuse(c, ops::kAccess, kStatusMalformed);
    if (!c.port) return refuse(c, ops::kAccess, kStatusNoSuchPort);
    if (!c.port->transmit(c.now, c.in.here(), count)) {
        return refuse(c, ops::kAccess, kStatusTransmitFull);
    }
    const uint64_t until = std::min(c.port->line_ms() + c.port->drain_ms(), c.now + kAccessWaitMs);
    c.port->advance(until);
    const auto waited = static_cast<uint32_t>(until > c.now ? until - c.now : 0);
    return received_reply(c, kAccessReadMax, waited,
                          "wrote " + std::to_string(count) + " bytes, answered after " +
                              std::to_string(waited) + " ms");
}

}  // namespace

Execution on_serial(Context& ctx, const Request& req) {
    Reader in(req.payload);
    uint8_t code = 0;
    if (!in.skip(1) || !in.u8(&code)) {
        return {{refusal_reply(status_only(kStatusMalformed), Reading::fields)},
                "serial request without an operation"};
    }
    const bool named = code & ops::kNamesPort;
    const auto op = static_cast<uint8_t>(code & ~ops::kNamesPort);
    if (!known_op(op, named)) {
        return {{refusal_reply(status_only(kStatusUnknownFunction), Reading::fields)},
                "serial operation " + hex_text(code, 2) + ": unknown"};
    }
    SerialPorts& ports = ctx.module.serial;
    int number = ports.default_port;
    uint8_t wire = 0;
    if (named) {
        if (!in.u8(&wire)) {
            return {{refusal_reply(refusal(op, kStatusMalformed), Reading::fields)},
                    "serial request without its port"};
        }
        number = wire + 1;
    }
    Call c{ctx, in, ports.find(number), "serial port " + std::to_string(number),
           ctx.clock.now_ms()};
    switch (op) {
        case ops::kWrite:
            return write(c);
        case ops::kRead:
            return read(c);
        case ops::kRxAvailable:
        case ops::kTxLeft:
            return queue_count(c, op);
        case ops::kFlushRx:
        case ops::kFlushTx:
            return flush(c, op);
        case ops::kSetup:
            return setup(c);
        case ops::kReadSetup:
            return read_setup(c);
        default:
            return access(c);
    }
}

// A setup that waits is acknowledged before its refusal, as the host waits for both. The setup
// read-back carries no status word and is served as usual, and so is an operation the module
// does not know (which it refuses as unknown).
bool refuse_serial(Context& ctx, const Request& req, uint16_t status, Execution* ex) {
    Reader in(req.payload);
    uint8_t code = 0, port = 0, wait = 0;
    if (!in.skip(1) || !in.u8(&code)) return false;
    const bool named = code & ops::kNamesPort;
    const auto op = static_cast<uint8_t>(code & ~ops::kNamesPort);
    if (!known_op(op, named) || op == ops::kReadSetup || (named && !in.u8(&port))) return false;
    const std::string what = "serial operation " + hex_text(code, 2) + ": " + status_text(status);
    if (op == ops::kSetup && in.u8(&wait) && wait) {
        ex->answers = {unread_reply(kSetupAcknowledged),
                       status_answer(status, ctx.faults.final_delay_ms)};
    } else {
        ex->answers = {refusal_reply(refusal(op, status), Reading::fields)};
    }
    ex->log = what;
    return true;
}

}  // namespace racksim
