// The remote-master mailbox. The host prepares the control block with command byte 0, starts
// it by writing the command byte, and polls the block until the remote master marks it done
// (state 2) or failed (state 3, with an error code). Each poll is a full shared-RAM exchange
// through the engine, so polls follow each other no faster than the module answers.
#include <algorithm>
#include <cstring>

#include "controller/shared_ram.h"
#include "core/platform/clock.h"
#include "core/request.h"
#include "remote/mailbox.h"

namespace zeb {
namespace {

// Addresses with bit 15 set: the shared-RAM operations send them as the flagged region.
constexpr uint16_t kControlBlock = 0x8030;
constexpr uint16_t kDataWindow = 0x803C;
constexpr size_t kControlSize = 12;
constexpr size_t kCommandHead = 6;
constexpr size_t kStatusBytes = 4;
constexpr size_t kChunk = 256;
static_assert(kChunk <= kSharedRamWriteMax && kChunk <= kSharedRamReadMax);
static_assert(kCommandHead + kCommandParamsMax == kSharedRamWriteMax);

constexpr uint8_t kRunCommand = 6;
constexpr uint8_t kReadData = 7;
constexpr uint8_t kWriteData = 8;
constexpr uint8_t kStateDone = 2;
constexpr uint8_t kStateFailed = 3;

// How one kind of mailbox operation waits for the remote master.
struct PollRule {
    bool time_test_first;    // test the time before each poll rather than after it
    bool read_failure_ends;  // a failed poll read ends the call; otherwise the next pass follows
    bool wide_error;         // the error code is bytes 2-3, not byte 2 alone
};
constexpr PollRule kDataPoll{false, true, false};
constexpr PollRule kCommandPoll{true, false, false};
constexpr PollRule kCommandExPoll{false, false, true};

// Polls the control block until the remote master is done or has failed, or until the device's
// Timeout has passed since `started` (when the command byte was written).
uint32_t await_master(ZEBDevice* device, uint16_t base, uint16_t slot, uint32_t started,
                      PollRule rule) noexcept {
    const auto expired = [&] { return ClockMs() - started >= device->Timeout; };
    for (;;) {
        if (rule.time_test_first && expired()) return ZEBERR_TIMEOUT;
        uint8_t status[kStatusBytes] = {};
        const uint32_t r = read_shared_ram(device, base, slot, kControlBlock, kStatusBytes, status);
        if (succeeded(r)) {
            if (status[1] == kStateDone) return 0;
            if (status[1] == kStateFailed) {
                return rule.wide_error ? uint32_t(status[2]) | uint32_t(status[3]) << 8 : status[2];
            }
        } else if (rule.read_failure_ends) {
            return r;
        }
        if (!rule.time_test_first && expired()) return ZEBERR_TIMEOUT;
    }
}

// Writes the command byte that starts a prepared block (with state 0 where `with_state`) and
// waits for the outcome.
uint32_t start_and_await(ZEBDevice* device, uint16_t base, uint16_t slot, uint8_t command,
                         bool with_state, PollRule rule) noexcept {
    const uint8_t start[2] = {command, 0};
    const uint32_t r =
        write_shared_ram(device, base, slot, kControlBlock, with_state ? 2 : 1, start);
    if (!succeeded(r)) return r;
    return await_master(device, base, slot, ClockMs(), rule);
}

// The control block of one data chunk: command 0, state 0, area, offset, length.
uint32_t prepare_chunk(ZEBDevice* device, uint16_t base, uint16_t slot, uint8_t area,
                       uint16_t offset, size_t length) noexcept {
    uint8_t block[kControlSize] = {};
    frame::put_u16(block + 4, area);
    frame::put_u16(block + 6, offset);
    frame::put_u16(block + 8, static_cast<uint16_t>(length));
    return write_shared_ram(device, base, slot, kControlBlock, kControlSize, block);
}

uint32_t command_with(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t command,
                      const uint8_t* params, size_t param_length, PollRule rule) noexcept {
    if (!device) return ZEBERR_BAD_DEVICE;
    if (param_length > kCommandParamsMax) return ZEBERR_PACKET_TOO_LARGE;
    if (param_length && !params) return ZEBERR_BAD_PARAMETER;
    uint8_t block[kCommandHead + kCommandParamsMax] = {};
    frame::put_u16(block + 4, command);
    if (param_length) std::memcpy(block + kCommandHead, params, param_length);
    const uint32_t r =
        write_shared_ram(device, base, slot, kControlBlock, kCommandHead + param_length, block);
    if (!succeeded(r)) return r;
    return start_and_await(device, base, slot, kRunCommand, true, rule);
}

}  // namespace

uint32_t write_vireo(ZEBDevice* device, uint16_t base, uint16_t slot, uint8_t area,
                     const uint8_t* source, uint16_t count, uint16_t offset) noexcept {
    if (count == 0) return 0;
    if (!device) return ZEBERR_BAD_DEVICE;
    if (!source) return ZEBERR_BAD_PARAMETER;
    const uint32_t r = for_each_chunk(count, kChunk, [&](size_t at, size_t n) -> uint32_t {
        const auto chunk_offset = static_cast<uint16_t>(offset + at);
        uint32_t step = prepare_chunk(device, base, slot, area, chunk_offset, n);
        if (succeeded(step))
            step = write_shared_ram(device, base, slot, kDataWindow, n, source + at);
        if (succeeded(step))
            step = start_and_await(device, base, slot, kWriteData, false, kDataPoll);
        return step;
    });
    // Re-sends inside the exchanges are not reported by the mailbox operations.
    return r == ZEBWARN_RETRIED ? 0 : r;
}

uint32_t read_vireo(ZEBDevice* device, uint16_t base, uint16_t slot, uint8_t area, uint8_t* buffer,
                    uint16_t count, uint16_t offset) noexcept {
    if (count == 0) return 0;
    if (!device) return ZEBERR_BAD_DEVICE;
    if (!buffer) return ZEBERR_BAD_PARAMETER;
    const uint32_t r = for_each_chunk(count, kChunk, [&](size_t at, size_t n) -> uint32_t {
        const auto chunk_offset = static_cast<uint16_t>(offset + at);
        uint32_t step = prepare_chunk(device, base, slot, area, chunk_offset, n);
        if (succeeded(step)) step = start_and_await(device, base, slot, kReadData, true, kDataPoll);
        if (succeeded(step))
            step = read_shared_ram(device, base, slot, kDataWindow, n, buffer + at);
        return step;
    });
    return r == ZEBWARN_RETRIED ? 0 : r;
}

uint32_t vireo_command(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t command) noexcept {
    return command_with(device, base, slot, command, nullptr, 0, kCommandPoll);
}

uint32_t vireo_command_ex(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t command,
                          const uint8_t* params, size_t param_length) noexcept {
    return command_with(device, base, slot, command, params, param_length, kCommandExPoll);
}

}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBWriteVireoData(ZEBDevice* device, uint32_t base, uint32_t slot, uint32_t area,
                           const uint8_t* buffer, uint16_t count, uint16_t offset) {
    return write_vireo(device, uint16_t(base), uint16_t(slot), uint8_t(area), buffer, count,
                       offset);
}

uint32_t ZEBReadVireoData(ZEBDevice* device, uint32_t base, uint32_t slot, uint32_t area,
                          uint8_t* buffer, uint16_t count, uint16_t offset) {
    return read_vireo(device, uint16_t(base), uint16_t(slot), uint8_t(area), buffer, count, offset);
}

uint32_t ZEBDoVireoCommand(ZEBDevice* device, uint32_t base, uint32_t slot, uint16_t command) {
    return vireo_command(device, uint16_t(base), uint16_t(slot), command);
}

uint32_t ZEBDoVireoCommandEx(ZEBDevice* device, uint32_t base, uint32_t slot, uint16_t command,
                             const uint8_t* params, uint16_t param_length) {
    return vireo_command_ex(device, uint16_t(base), uint16_t(slot), command, params, param_length);
}

// The same four under the controller family's prefix.
uint32_t XCPUWriteVireoData(ZEBDevice* device, uint32_t base, uint32_t slot, uint32_t area,
                            const uint8_t* buffer, uint16_t count, uint16_t offset) {
    return ZEBWriteVireoData(device, base, slot, area, buffer, count, offset);
}

uint32_t XCPUReadVireoData(ZEBDevice* device, uint32_t base, uint32_t slot, uint32_t area,
                           uint8_t* buffer, uint16_t count, uint16_t offset) {
    return ZEBReadVireoData(device, base, slot, area, buffer, count, offset);
}

uint32_t XCPUDoVireoCommand(ZEBDevice* device, uint32_t base, uint32_t slot, uint16_t command) {
    return ZEBDoVireoCommand(device, base, slot, command);
}

uint32_t XCPUDoVireoCommandEx(ZEBDevice* device, uint32_t base, uint32_t slot, uint16_t command,
                              const uint8_t* params, uint16_t param_length) {
    return ZEBDoVireoCommandEx(device, base, slot, command, params, param_length);
}

}  // extern "C"
