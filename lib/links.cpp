// Where the library is put together: the links stacked on a device's own.
#include "core/link.h"
#include "io/io_parallel.h"
#include "remote/tunnel.h"

namespace zeb {

const StackedLink* stacked_link_of(const ZEBDevice& device) noexcept {
    return tunnel_of(device);
}

void release_thread_state() noexcept {
    io::release_kept_call_state();
}

}  // namespace zeb
