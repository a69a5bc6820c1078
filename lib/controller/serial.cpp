// The module's own serial ports: send bytes, collect what a port received, ask how much is
// waiting either way, flush the queues, set up a port's line and read the setup back, and a
// combined write-and-answer exchange. Every request is the serial function code and an
// operation byte; the Ex family sets the operation's top bit and names the port in the next
// byte, the plain family leaves the port to the module. None of them reports re-sends.
#include <cstring>

#include "core/request.h"
#include "vocab/capacities.h"
#include "vocab/serial_ops.h"

namespace zeb {
namespace {

constexpr size_t kCapacity =
    vocab::capacity::kSerialRequest;  // every request and reply but write-and-read
constexpr size_t kAccessCapacity = vocab::capacity::kSerialAccessRequest;
constexpr uint16_t kTimeoutRaiseMs = 10;
constexpr uint16_t kSetupFinalExtraMs = 30000;

enum class Op : uint8_t {
    write = vocab::serial::kWrite,
    read = vocab::serial::kRead,
    rx_available = vocab::serial::kRxAvailable,
    flush_rx = vocab::serial::kFlushRx,
    setup = vocab::serial::kSetup,
    tx_left = vocab::serial::kTxLeft,
    read_setup = vocab::serial::kReadSetup,
    access = vocab::serial::kAccess,
    flush_tx = vocab::serial::kFlushTx,
};
constexpr uint8_t kNamesPort = vocab::serial::kNamesPort;

// The port a request names: none (the module's choice), or one counted from 1, which goes out
// as its low byte less one. Port 0 thus goes out as 0xFF, which modules may take as a port of
// their own, so it is not refused.
struct Port {
    bool named;
    uint8_t wire;
};
constexpr Port kModulesChoice{false, 0};
Port numbered(uint32_t port) noexcept {
    return {true, static_cast<uint8_t>(port - 1)};
}

using SerialRequest = Request<kCapacity>;
using SerialReply = Reply<kCapacity>;

constexpr StatusRule kSigned = StatusRule::signed_word;

template <size_t Capacity>
void begin(Request<Capacity>& request, Op op, Port port) noexcept {
    request.u8(fn::kSerial).u8(static_cast<uint8_t>(op) | (port.named ? kNamesPort : 0));
    if (port.named) request.u8(port.wire);
}

uint32_t send(ZEBDevice* device, SerialRequest& request, SerialReply& reply) noexcept {
    return exchange(device, request, reply, Wait::always, Warn::no);
}

// Writes, flushes and setups: the result is the module's status word.
uint32_t status_of(ZEBDevice* device, SerialRequest& request) noexcept {
    SerialReply reply;
    const uint32_t result = send(device, request, reply);
    return failed(result) ? result : status_only(reply, result, kSigned);
}

uint32_t simple(ZEBDevice* device, Op op, Port port) noexcept {
    SerialRequest request(device);
    begin(request, op, port);
    return status_of(device, request);
}

uint32_t write_comm(ZEBDevice* device, Port port, uint32_t count, const uint8_t* source) noexcept {
    if (!source && count) return ZEBERR_BAD_PARAMETER;
    SerialRequest request(device);
    begin(request, Op::write, port);
    // A count too large for the request fails in bytes(), whatever its 16-bit field says.
    request.u16(static_cast<uint16_t>(count)).bytes(source, count);
    return status_of(device, request);
}

// A status word, then a queue's byte count, which is stored whatever the status says.
uint32_t queue_count(ZEBDevice* device, Op op, Port port, uint16_t* out) noexcept {
    SerialRequest request(device);
    begin(request, op, port);
    SerialReply reply;
    const uint32_t result = send(device, request, reply);
    if (failed(result)) return result;
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    const uint16_t count = in.u16();
    if (!in.complete()) return status_or(status, kSigned, ZEBERR_NO_DATA);
    put(out, count);
    return status_or(status, kSigned, result);
}

// The answer of a read: status word, n, then n bytes.
struct CountedBytes {
    uint16_t status = 0;
    bool whole = false;  // status and n arrived
    uint16_t claimed = 0;
    const uint8_t* data = nullptr;
    size_t arrived = 0;
};
template <size_t Capacity>
CountedBytes counted_bytes(const Reply<Capacity>& reply) noexcept {
    ReplyReader in(reply);
    CountedBytes c;
    c.status = in.u16();
    c.claimed = in.u16();
    c.whole = in.complete();
    c.data = in.rest();
    c.arrived = in.rest_size();
    return c;
}

// Delivers at most the bytes asked for (*count) and at most the bytes that arrived; the status
// word, when nonzero, is the result whether or not the bytes were cut. Bytes asked for with no
// buffer to take them are refused before sending: the module would give them up from its
// queue.
uint32_t read_comm(ZEBDevice* device, Port port, uint16_t* count, uint8_t* buffer) noexcept {
    if (!count || (!buffer && *count)) return ZEBERR_BAD_PARAMETER;
    SerialRequest request(device);
    begin(request, Op::read, port);
    request.u16(*count);
    SerialReply reply;
    const uint32_t result = send(device, request, reply);
    if (failed(result)) return result;
    const CountedBytes answer = counted_bytes(reply);
    if (!answer.whole) return status_or(answer.status, kSigned, ZEBERR_NO_DATA);
    const ListCut cut = cut_list(answer.claimed, answer.arrived, buffer ? *count : 0, result);
    if (cut.count) std::memcpy(buffer, answer.data, cut.count);
    *count = static_cast<uint16_t>(cut.count);
    return status_or(answer.status, kSigned, cut.result);
}

// A nonzero wait makes the module answer once more, when the port is set up, so the library
// waits for that answer too. A wait whose low byte is 0 still goes out as a nonzero flag: sent
// as 0 it would leave the library waiting for an answer that never comes.
uint8_t wait_flag(int32_t wait) noexcept {
    const uint8_t low = static_cast<uint8_t>(wait);
    return (wait != 0 && low == 0) ? 1 : low;
}

uint32_t setup_port(ZEBDevice* device, Port port, const ZEBSerialSetup* setup,
                    int32_t wait) noexcept {
    if (!setup) return ZEBERR_BAD_PARAMETER;
    SerialRequest request(device);
    begin(request, Op::setup, port);
    request.u8(wait_flag(wait)).u8(0).bytes(setup->Data, sizeof setup->Data);
    if (!wait) return status_of(device, request);
    SerialReply reply;
    uint32_t result;
    {
        RaisedTimeout raised(device, kTimeoutRaiseMs);
        result = exchange_acknowledged(device, request, reply, {}, kSetupFinalExtraMs);
    }
    if (failed(result)) return result;
    // Re-sends are not reported here either.
    if (result == ZEBWARN_RETRIED) result = 0;
    return status_only(reply, result, kSigned);
}

// The reply is the setup record alone, without a status word.
uint32_t read_setup(ZEBDevice* device, Port port, ZEBSerialSetup* setup) noexcept {
    SerialRequest request(device);
    begin(request, Op::read_setup, port);
    request.u8(0).u8(0);
    SerialReply reply;
    const uint32_t result = send(device, request, reply);
    if (failed(result)) return result;
    ReplyReader in(reply);
    const uint8_t* record = in.block(sizeof(ZEBSerialSetup));
    if (!record) return ZEBERR_NO_DATA;
    if (setup) std::memcpy(setup->Data, record, sizeof setup->Data);
    return 0;
}

}  // namespace
}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBWriteComm(ZEBDevice* device, uint32_t count, const uint8_t* buffer) {
    return write_comm(device, kModulesChoice, count, buffer);
}

uint32_t ZEBReadComm(ZEBDevice* device, uint16_t* count, uint8_t* buffer) {
    return read_comm(device, kModulesChoice, count, buffer);
}

uint32_t ZEBGetRXAvailable(ZEBDevice* device, uint16_t* available) {
    return queue_count(device, Op::rx_available, kModulesChoice, available);
}

uint32_t ZEBFlushRXQueue(ZEBDevice* device) {
    return simple(device, Op::flush_rx, kModulesChoice);
}

uint32_t ZEBSetupSerialPort(ZEBDevice* device, const ZEBSerialSetup* setup, int32_t wait) {
    return setup_port(device, kModulesChoice, setup, wait);
}

uint32_t ZEBReadSerialPortSetup(ZEBDevice* device, ZEBSerialSetup* setup) {
    return read_setup(device, kModulesChoice, setup);
}

uint32_t ZEBGetTXLeft(ZEBDevice* device, uint16_t* left) {
    return queue_count(device, Op::tx_left, kModulesChoice, left);
}

uint32_t ZEBWriteCommEx(ZEBDevice* device, uint32_t port, uint32_t count, const uint8_t* buffer) {
    return write_comm(device, numbered(port), count, buffer);
}

uint32_t ZEBReadCommEx(ZEBDevice* device, uint32_t port, uint16_t* count, uint8_t* buffer) {
    return read_comm(device, numbered(port), count, buffer);
}

uint32_t ZEBGetRXAvailableEx(ZEBDevice* device, uint32_t port, uint16_t* available) {
    return queue_count(device, Op::rx_available, numbered(port), available);
}

uint32_t ZEBFlushRXQueueEx(ZEBDevice* device, uint32_t port) {
    return simple(device, Op::flush_rx, numbered(port));
}

uint32_t ZEBFlushTXQueueEx(ZEBDevice* device, uint32_t port) {
    return simple(device, Op::flush_tx, numbered(port));
}

uint32_t ZEBSetupSerialPortEx(ZEBDevice* device, uint32_t port, const ZEBSerialSetup* setup,
                              int32_t wait) {
    return setup_port(device, numbered(port), setup, wait);
}

uint32_t ZEBReadSerialPortSetupEx(ZEBDevice* device, uint32_t port, ZEBSerialSetup* setup) {
    return read_setup(device, numbered(port), setup);
}

uint32_t ZEBGetTXLeftEx(ZEBDevice* device, uint32_t port, uint16_t* left) {
    return queue_count(device, Op::tx_left, numbered(port), left);
}

// One write and its answer, in a larger packet. With a null reply buffer or count only the
// status counts. An answer cut to the caller's room is reported over the module's status.
uint32_t ZEBAccessComm(ZEBDevice* device, uint32_t count, const uint8_t* buffer,
                       uint16_t* reply_count, uint8_t* reply_buffer) {
    if (!buffer && count) return ZEBERR_BAD_PARAMETER;
    Request<kAccessCapacity> request(device);
    begin(request, Op::access, kModulesChoice);
    request.u16(static_cast<uint16_t>(count)).bytes(buffer, count);
    Reply<kAccessCapacity> reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    if (failed(result)) return result;
    if (!reply.has(0, kStatusSize)) return ZEBERR_NO_DATA;
    const CountedBytes answer = counted_bytes(reply);
    if (!reply_buffer || !reply_count) return status_or(answer.status, kSigned, result);
    if (!answer.whole) return status_or(answer.status, kSigned, ZEBERR_NO_DATA);
    const ListCut cut = cut_list(answer.claimed, answer.arrived, *reply_count, result);
    if (cut.count) std::memcpy(reply_buffer, answer.data, cut.count);
    *reply_count = static_cast<uint16_t>(cut.count);
    if (cut.result == ZEBERR_BUFFER_TOO_SMALL) return cut.result;
    return status_or(answer.status, kSigned, cut.result);
}

}  // extern "C"
