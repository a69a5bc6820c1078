#include "core/tunnel.h"

namespace zeb {

// The remote-master mailbox that carries tunnelled requests is not part of this build yet, so a
// tunnelled device cannot be reached: say so rather than talk to it directly.
uint32_t tunnel_exchange(ZEBDevice*, uint8_t*, uint16_t, uint8_t*, int32_t* reply_length) noexcept {
    if (reply_length) *reply_length = 0;
    return ZEBERR_BAD_DEVICE;
}

}  // namespace zeb
