// Typed memory a module exposes: areas named by a memory type and a 32-bit address range, each
// listed in 22-byte entries; and the block rules that typed memory and shared RAM share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "capacities.h"
#include "vocab/memory.h"

namespace racksim {

// A listing reply holds 26 entries of 22 bytes after its status word and count.
inline constexpr size_t kMemoryEntrySize = zeb::vocab::memory::kAreaEntrySize;
inline constexpr size_t kMaxMemoryAreas =
    (capacity::kMemoryReply - kHeaderSize - 4) / kMemoryEntrySize;
inline constexpr size_t kMemoryNameSize = 10;
inline constexpr size_t kMaxMemoryAreaSize = size_t{1} << 20;

struct MemoryArea {
    uint16_t type = 0;
    uint32_t start = 0;
    Bytes data;  // the area's bytes; its size is the area's size
    bool writable = true;
    std::string name;  // at most kMemoryNameSize characters

    uint64_t end() const { return uint64_t{start} + data.size(); }
    bool holds(uint32_t address) const { return address >= start && address < end(); }
    bool operator==(const MemoryArea&) const = default;
};

struct Memory {
    std::vector<MemoryArea> areas;  // at most kMaxMemoryAreas; areas of one type do not overlap

    // The area of this type that holds the address, or null. *type_known says whether the
    // module has any area of the type.
    MemoryArea* find(uint16_t type, uint32_t address, bool* type_known);

    // What a module has unless its rack entry says otherwise: type 1 "RAM" (2 KiB), type 2
    // "NVRAM" (512 bytes), and type 3 "ROM" at 0x8000 (256 bytes of 0, 1, 2, ..., read-only).
    static Memory standard();
    bool operator==(const Memory&) const = default;
};

// The area's entry in the listing: type u16, start u32, size u32, flags u16 (bit 0 readable,
// bit 1 writable), then the name in 10 bytes, padded with zeros.
Bytes listing_entry(const MemoryArea& area);

// A block read from an area: `count` bytes at `offset`. One that starts outside the area is
// refused (kStatusOutsideArea, no data); one that runs past the end carries the bytes there,
// then zeros, with kStatusPartialRead.
struct BlockRead {
    uint16_t status = 0;
    Bytes data;  // empty when refused
};
BlockRead read_block(const Bytes& area, uint64_t offset, size_t count);

// Writes a block whole or not at all: it must start inside the area and end inside it
// (kStatusOutsideArea), and the area must be writable (kStatusAreaReadOnly).
uint16_t write_block(Bytes& area, bool writable, uint64_t offset, const uint8_t* data,
                     size_t count);
// The same checks without writing.
uint16_t check_write(const Bytes& area, bool writable, uint64_t offset, size_t count);

}  // namespace racksim
