// The node list: every networked node found on a transport, opened and kept in tables that the
// library owns until the next list is built.
#pragma once

#include <cstdint>

#include "zeb.h"

namespace zeb {

// Builds the node list on a Winsock transport of `protocol` (with `source_address` as the
// transport's source address, or none). Closes what the previous list left open first; on a
// failure closes what this call opened. Returns the first entry and sets *count, or null with
// *count 0.
TaviNode* build_node_list(uint16_t protocol, void* source_address, uint16_t* count) noexcept;

// Closes the devices and the transport that the current list holds open.
void release_node_list() noexcept;

}  // namespace zeb
