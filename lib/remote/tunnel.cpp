// A tunnelled device's requests travel as data through a remote master: the request body goes
// into the forwarding area, command 3 sends it to the node, and the node's answer comes back
// from the same area behind a 4-byte head (status, answer length). No frame is built.
#include "remote/tunnel.h"

#include "core/frame.h"
#include "core/request.h"
#include "remote/mailbox.h"

namespace zeb {
namespace {

constexpr uint16_t kForwardCommand = 3;
constexpr uint16_t kForwardFlags = 0x0800;
constexpr uint16_t kAnswerHeadSize = 4;
constexpr uint16_t kAnswerAt = kAnswerHeadSize;

// Tunnel is 0 while the mailbox operations reach the remote master directly through the
// engine, and 1 again on every way out.
class DirectWhileForwarding {
  public:
    explicit DirectWhileForwarding(ZEBDevice& device) noexcept : device_(device) {
        device_.Tunnel = 0;
    }
    ~DirectWhileForwarding() { device_.Tunnel = 1; }
    DirectWhileForwarding(const DirectWhileForwarding&) = delete;
    DirectWhileForwarding& operator=(const DirectWhileForwarding&) = delete;

  private:
    ZEBDevice& device_;
};

uint32_t forward(ZEBDevice& d, const uint8_t* body, uint16_t body_length, uint8_t* reply,
                 int32_t* reply_length, int32_t capacity) noexcept {
    const uint16_t base = d.TunnelBase;
    const uint16_t slot = d.TunnelSlot;
    // Every step must succeed outright: a remote master's error code or a module status may
    // carry the 0x2000 bit, and going on would read the answer an earlier request left behind.
    uint32_t r = write_vireo(&d, base, slot, kForwardArea, body, body_length, 0);
    if (r != 0) return r;

    uint8_t params[10] = {};
    frame::put_u16(params + 0, d.TunnelNode);
    frame::put_u16(params + 4, body_length);
    frame::put_u16(params + 8, kForwardFlags);
    r = vireo_command_ex(&d, base, slot, kForwardCommand, params, sizeof params);
    if (r != 0) return r;

    uint8_t head[kAnswerHeadSize] = {};
    r = read_vireo(&d, base, slot, kForwardArea, head, kAnswerHeadSize, 0);
    if (r != 0) return r;
    // A node that did not answer leaves nothing to read: the exchange fails with no data, also
    // for the operations that do not look at their reply, rather than an old answer passing
    // for one.
    if (frame::get_u16(head) != 0) return ZEBERR_NO_DATA;

    // The answer goes behind the 9 header bytes, cut to what the caller's buffer holds; a
    // buffer too small for the header takes nothing.
    const uint16_t answer_length = frame::get_u16(head + 2);
    if (capacity < int32_t(frame::kHeaderSize)) return ZEBERR_BUFFER_TOO_SMALL;
    const size_t room = size_t(capacity) - frame::kHeaderSize;
    const auto take = static_cast<uint16_t>(std::min<size_t>(answer_length, room));
    r = read_vireo(&d, base, slot, kForwardArea, reply + frame::kHeaderSize, take, kAnswerAt);
    if (r != 0) return r;
    *reply_length = int32_t(take) + int32_t(frame::kHeaderSize);
    return take < answer_length ? ZEBERR_BUFFER_TOO_SMALL : r;
}

uint32_t tunnel_exchange(ZEBDevice& device, uint8_t* request, uint16_t request_length,
                         uint8_t* reply, int32_t* reply_length) noexcept {
    if (!reply_length) return ZEBERR_BAD_PARAMETER;
    const int32_t capacity = *reply_length;
    *reply_length = 0;
    if (!request || !reply) return ZEBERR_BAD_PARAMETER;
    const uint16_t offset = device.DataOffset;
    if (request_length < offset) return ZEBERR_BAD_PARAMETER;
    DirectWhileForwarding direct(device);
    return forward(device, request + offset, static_cast<uint16_t>(request_length - offset), reply,
                   reply_length, capacity);
}

constexpr StackedLink kTunnel{tunnel_exchange};

}  // namespace

const StackedLink* tunnel_of(const ZEBDevice& device) noexcept {
    return device.Tunnel == 1 ? &kTunnel : nullptr;
}

}  // namespace zeb
