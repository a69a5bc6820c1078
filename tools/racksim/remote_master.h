// A remote master behind one shared-RAM region of a module: the host prepares a control block
// at flagged address 0x30 and starts it with a command byte (6 command, 7 read data, 8 write
// data); the remote master carries it out when the host next polls the block, and marks it
// done (state 2) or failed (state 3, error code in bytes 2-3). Its data areas are 64 KiB each.
// Command 3 forwards the request in area 4 to the rack module whose number is the node number,
// and leaves that module's answer in area 4 behind a 4-byte head (status, length).
#pragma once

#include <cstdint>

#include "shared_ram_regions.h"

namespace racksim {

struct RemoteMasterSettings {
    uint16_t base = 0;
    uint16_t slot = 0;
    uint32_t busy_polls = 0;  // polls that still see state 0 before a block is carried out
};

// Error codes of a failed block.
inline constexpr uint16_t kMasterUnknownCommand = 0x0001;
inline constexpr uint16_t kMasterBadBlock = 0x0002;  // a chunk outside 1..256 bytes
// Status of the answer head when the node is not in the rack or stays silent.
inline constexpr uint16_t kNodeNotAnswering = 0x0001;

// Hooks a remote master into the module's region (created with 1 KiB windows if missing).
void install_remote_master(SharedRam& shared_ram, const RemoteMasterSettings& settings);

}  // namespace racksim
