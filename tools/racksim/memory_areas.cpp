#include "memory_areas.h"

#include <algorithm>

#include "statuses.h"

namespace racksim {

MemoryArea* Memory::find(uint16_t type, uint32_t address, bool* type_known) {
    *type_known = false;
    for (MemoryArea& a : areas) {
        if (a.type != type) continue;
        *type_known = true;
        if (a.holds(address)) return &a;
    }
    return nullptr;
}

Memory Memory::standard() {
    Memory m;
    m.areas.push_back({1, 0, Bytes(2048, 0), true, "RAM"});
    m.areas.push_back({2, 0, Bytes(512, 0), true, "NVRAM"});
    MemoryArea rom{3, 0x8000, Bytes(256), false, "ROM"};
    for (size_t i = 0; i < rom.data.size(); ++i) rom.data[i] = static_cast<uint8_t>(i);
    m.areas.push_back(std::move(rom));
    return m;
}

Bytes listing_entry(const MemoryArea& area) {
    Bytes b;
    put_u16(b, area.type);
    put_u32(b, area.start);
    put_u32(b, static_cast<uint32_t>(area.data.size()));
    put_u16(b, static_cast<uint16_t>(area.writable ? 0x0003 : 0x0001));
    for (size_t i = 0; i < kMemoryNameSize; ++i) {
        b.push_back(i < area.name.size() ? static_cast<uint8_t>(area.name[i]) : 0);
    }
    return b;
}

BlockRead read_block(const Bytes& area, uint64_t offset, size_t count) {
    BlockRead r;
    if (offset >= area.size()) {
        r.status = kStatusOutsideArea;
        return r;
    }
    const size_t there = std::min<uint64_t>(count, area.size() - offset);
    r.data.assign(area.begin() + static_cast<ptrdiff_t>(offset),
                  area.begin() + static_cast<ptrdiff_t>(offset + there));
    if (there < count) {
        r.data.resize(count, 0);
        r.status = kStatusPartialRead;
    }
    return r;
}

uint16_t check_write(const Bytes& area, bool writable, uint64_t offset, size_t count) {
    if (offset >= area.size() || count > area.size() - offset) return kStatusOutsideArea;
    if (!writable) return kStatusAreaReadOnly;
    return 0;
}

uint16_t write_block(Bytes& area, bool writable, uint64_t offset, const uint8_t* data,
                     size_t count) {
    if (const uint16_t refused = check_write(area, writable, offset, count)) return refused;
    std::copy(data, data + count, area.begin() + static_cast<ptrdiff_t>(offset));
    return 0;
}

}  // namespace racksim
