// Where the library is put together: the links stacked on a device's own.
#include "core/link.h"
#include "remote/tunnel.h"

namespace zeb {

const StackedLink* stacked_link_of(const ZEBDevice& device) noexcept {
    return tunnel_of(device);
}

}  // namespace zeb
