// Requests of a device whose Tunnel field is 1 travel through a remote-master module.
#pragma once

#include "core/link.h"

namespace zeb {

// The tunnel, stacked on a device whose Tunnel field is 1; null for any other device.
const StackedLink* tunnel_of(const ZEBDevice& device) noexcept;

}  // namespace zeb
