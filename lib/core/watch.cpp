// The transport error behind each device's last failure, per thread, and the frame trace.
#include "core/watch.h"

#include <atomic>
#include <cstdio>
#include <string_view>

#include "core/frame.h"
#include "core/platform/platform.h"
#include "vocab/functions.h"

namespace zeb::watch {
namespace {

// The last transport error of the devices a thread used most recently. A thread that drives
// more devices at once than there are entries keeps the newest.
constexpr size_t kRemembered = 16;
struct Remembered {
    const ZEBDevice* device = nullptr;
    uint32_t error = 0;
};
thread_local Remembered t_errors[kRemembered];
thread_local size_t t_next = 0;

Remembered* entry_of(const ZEBDevice& device, bool make) noexcept {
    for (Remembered& e : t_errors) {
        if (e.device == &device) return &e;
    }
    if (!make) return nullptr;
    Remembered& e = t_errors[t_next];
    t_next = (t_next + 1) % kRemembered;
    e = {&device, 0};
    return &e;
}

void remember(const ZEBDevice& device, uint32_t error) noexcept {
    if (Remembered* e = entry_of(device, error != 0)) e->error = error;
}

// A socket or port error, as opposed to the library's own codes and "nothing yet".
bool is_transport_error(uint32_t result) noexcept {
    return result != 0 && result != ZEBERR_NO_PACKET && (result < 0x8000 || result > 0x8FFF);
}

std::atomic<int32_t> g_trace{0};

void trace(const char* arrow, const ZEBDevice& device, const uint8_t* frame, size_t length) {
    char where[32] = "-";
    const uint8_t* a = device.Address.Raw;
    if (device.Transport && device.Transport->Kind == ZEB_TRANSPORT_WINSOCK &&
        device.Transport->Protocol == ZEB_PROTOCOL_IP) {
        std::snprintf(where, sizeof where, "%u.%u.%u.%u:%u", a[4], a[5], a[6], a[7],
                      unsigned(a[2]) << 8 | a[3]);
    } else if (device.Transport && device.Transport->Kind == ZEB_TRANSPORT_SERIAL) {
        std::snprintf(where, sizeof where, "COM%u", unsigned(a[0]));
    }
    if (length < frame::kHeaderSize) {
        std::fprintf(stderr, "zeb %s %s: %zu bytes, no whole header\n", arrow, where, length);
        return;
    }
    // A request's body may start behind the 16-byte header; a reply's always at byte 9.
    size_t body = frame::kHeaderSize;
    if (arrow[0] == '>' && device.ExtendedHeader && length >= frame::kExtendedHeaderSize) {
        body = frame::kExtendedHeaderSize;
    }
    const uint8_t code = length > body ? frame[body] : 0;
    const std::string_view name =
        length > body ? vocab::name_of(vocab::kFunctions, code) : std::string_view{};
    std::fprintf(stderr, "zeb %s %s seq %u crc 0x%04X len %u", arrow, where,
                 unsigned(frame::get_u16(frame + frame::kSequenceAt)),
                 unsigned(frame::get_u16(frame + frame::kCrcAt)),
                 unsigned(frame::get_u16(frame + frame::kLengthAt)));
    if (arrow[0] == '>' && !name.empty()) {
        std::fprintf(stderr, " %.*s:", int(name.size()), name.data());
    } else {
        std::fputc(':', stderr);
    }
    constexpr size_t kShown = 48;
    for (size_t i = body; i < length && i < body + kShown; ++i)
        std::fprintf(stderr, " %02X", frame[i]);
    if (length > body + kShown) std::fprintf(stderr, " ... (%zu bytes)", length - body);
    std::fputc('\n', stderr);
}

}  // namespace

void sent(const ZEBDevice& device, const uint8_t* frame, uint16_t length,
          uint32_t result) noexcept {
    remember(device, is_transport_error(result) ? result : 0);
    if (g_trace.load(std::memory_order_relaxed) && result == 0) trace(">", device, frame, length);
}

void received(const ZEBDevice& device, const uint8_t* frame, int32_t length,
              uint32_t result) noexcept {
    if (is_transport_error(result)) remember(device, result);
    if (g_trace.load(std::memory_order_relaxed) && result == 0 && length > 0) {
        trace("<", device, frame, size_t(length));
    }
}

void forget(const ZEBDevice& device) noexcept {
    if (Remembered* e = entry_of(device, false)) *e = {};
}

}  // namespace zeb::watch

using namespace zeb;

extern "C" {

uint32_t ZEBGetTransportError(const ZEBDevice* device) {
    if (!device) return 0;
    const watch::Remembered* e = watch::entry_of(*device, false);
    return e ? e->error : 0;
}

int32_t ZEBSetTrace(int32_t on) {
    return watch::g_trace.exchange(on != 0 ? 1 : 0);
}

}  // extern "C"
