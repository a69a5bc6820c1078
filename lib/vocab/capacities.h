// How much one exchange carries. A host receives each reply into a buffer of a fixed size, the
// reply's capacity, and reads nothing beyond it; what a capacity leaves after the reply's header
// (and status word, and counts) is the most that operation can deliver, so a module must fit
// its replies into it and a host needs no more room. A request limit is what a host refuses
// before it sends anything.
#pragma once

#include <cstddef>

namespace zeb::vocab {

// A request's header is 9 bytes, or 16 when it carries the module's hardware address. Every
// reply begins with the 9-byte header, whatever header its request had; most then carry a 16-bit
// status word, and lists a 16-bit count.
inline constexpr size_t kRequestHeaderSize = 9;
inline constexpr size_t kExtendedRequestHeaderSize = 16;
inline constexpr size_t kReplyHeaderSize = 9;
inline constexpr size_t kStatusWordSize = 2;
inline constexpr size_t kCountSize = 2;

// The buffers a host builds each request in and receives each reply in, header included, by
// the exchange. The library's operations and the simulator both draw on this one list.
namespace capacity {
// Replies.
inline constexpr size_t kIdentityReply = 200;       // version, support, device definition
inline constexpr size_t kIoReply = 1200;            // read and write I/O
inline constexpr size_t kBaseDefReply = 1000;       // read base definition, rescan
inline constexpr size_t kInitBaseDefReply = 600;    // init base definition
inline constexpr size_t kWriteBaseDefReply = 600;   // write base definition
inline constexpr size_t kSetupReply = 600;          // read a setup record, list the types
inline constexpr size_t kSetupChangeReply = 200;    // write or delete a setup record
inline constexpr size_t kConfigReply = 1200;        // read and write the configuration block
inline constexpr size_t kStatsReply = 200;          // Ethernet statistics
inline constexpr size_t kStatusReply = 600;         // module status
inline constexpr size_t kQueryReply = 600;          // discovery answers
inline constexpr size_t kControllerReply = 320;     // CCM and K-sequence answers
inline constexpr size_t kMemoryReply = 600;         // memory and shared-RAM reads, listing, access
inline constexpr size_t kMemoryWriteReply = 200;    // memory and shared-RAM writes
inline constexpr size_t kSerialReply = 200;         // the serial pass-through
inline constexpr size_t kSerialAccessReply = 1500;  // its write-and-read exchange
inline constexpr size_t kProgramSpaceReply = 200;   // a node's program-space write
// A controller module's services: most requests and replies fit the common buffer, a path
// search's reply the find buffer, a file read's reply and a file write's request the large one.
inline constexpr size_t kServiceSmall = 100;
inline constexpr size_t kServiceCommon = 500;
inline constexpr size_t kServiceFind = 1000;
inline constexpr size_t kServiceLarge = 1600;
inline constexpr size_t kServiceReadReply = kServiceLarge;
// The smallest of all (identity blocks, keep-alive, serial ports, acknowledged writes, the
// controller module's own functions): bytes a module adds after the fields a host reads never
// take a reply past it.
inline constexpr size_t kSmallestReply = 200;

// Requests.
inline constexpr size_t kShortRequest = 32;           // a function code and a few bytes
inline constexpr size_t kIoRequest = 1200;            // write I/O with its output stream
inline constexpr size_t kBaseDefRequest = 600;        // write or init the base definition
inline constexpr size_t kSetupRequest = 600;          // write a setup record
inline constexpr size_t kMemoryRequest = 600;         // memory and shared RAM
inline constexpr size_t kControllerRequest = 300;     // one CCM or K-sequence request
inline constexpr size_t kSerialRequest = 200;         // every serial request but write-and-read
inline constexpr size_t kSerialAccessRequest = 1500;  // write-and-read
inline constexpr size_t kProgramSpaceRequest = 600;   // a node's program-space write
}  // namespace capacity

// What the replies leave for data.
inline constexpr size_t kMaxIdentityBlock = capacity::kIdentityReply - kReplyHeaderSize;
inline constexpr size_t kMaxBaseDef = capacity::kBaseDefReply - kReplyHeaderSize;
inline constexpr size_t kMaxSetupRecord =
    capacity::kSetupReply - kReplyHeaderSize - kStatusWordSize;
inline constexpr size_t kMaxSetupTypes =
    (capacity::kSetupReply - kReplyHeaderSize - kStatusWordSize - kCountSize) / 2;
inline constexpr size_t kMaxConfigBlock =
    capacity::kConfigReply - kReplyHeaderSize - kStatusWordSize;
inline constexpr size_t kMaxStatsRecord =
    capacity::kStatsReply - kReplyHeaderSize;  // no status word
inline constexpr size_t kMaxStatusBlock =
    capacity::kStatusReply - kReplyHeaderSize - kStatusWordSize;
inline constexpr size_t kMaxMemoryRead =
    capacity::kMemoryReply - kReplyHeaderSize - kStatusWordSize;
// The memory listing's entries (ZEBMemoryArea), after the status word and count.
inline constexpr size_t kMemoryAreaSize = 22;
inline constexpr size_t kMaxMemoryAreas =
    (capacity::kMemoryReply - kReplyHeaderSize - kStatusWordSize - kCountSize) / kMemoryAreaSize;
// A serial read's bytes, after the status word and count.
inline constexpr size_t kMaxSerialRead =
    capacity::kSerialReply - kReplyHeaderSize - kStatusWordSize - kCountSize;
// A file read's reply holds the status word, the 32-bit return value and the 32-bit count
// before the data.
inline constexpr size_t kMaxFileRead = capacity::kServiceLarge - kReplyHeaderSize - 10;

// Request limits.
inline constexpr size_t kMaxQueryItem = 512;       // a discovery query's data item
inline constexpr size_t kMaxMemoryWrite = 512;     // typed memory
inline constexpr size_t kMaxSharedRamWrite = 256;  // shared RAM
inline constexpr size_t kMaxControllerData = 256;  // one CCM or K-sequence request
// A serial write request holds the function code, the operation and a 16-bit count before the
// bytes, and the port after the operation when it names one; its header comes off too.
inline constexpr size_t kSerialWriteRoom = capacity::kSerialRequest - 4;  // less the header size
inline constexpr size_t kSerialPortWriteRoom = kSerialWriteRoom - 1;
// A file write request holds the function code and its complement, the service, the handle and
// the count before the data; its header comes off too.
inline constexpr size_t kFileWriteRoom = capacity::kServiceLarge - 12;  // less the header size

static_assert(kMaxIdentityBlock == 191 && kMaxBaseDef == 991 && kMaxSetupRecord == 589 &&
              kMaxSetupTypes == 293 && kMaxConfigBlock == 1189 && kMaxStatsRecord == 191 &&
              kMaxStatusBlock == 589 && kMaxMemoryRead == 589 && kMaxMemoryAreas == 26 &&
              kMaxSerialRead == 187 && kMaxFileRead == 1581 && kSerialWriteRoom == 196 &&
              kFileWriteRoom == 1588);

}  // namespace zeb::vocab
