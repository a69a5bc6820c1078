// Typed memory and shared RAM: block reads and writes, the listing of memory areas, and batched
// access. Every reply starts with a status word, and fits the host's reply buffer.
#include <algorithm>
#include <string>
#include <vector>

#include "handlers.h"
#include "statuses.h"
#include "vocab/memory.h"

namespace racksim {

namespace {

constexpr size_t kReplyBodyMax = capacity::kMemoryReply - kHeaderSize;
constexpr size_t kReadCountMax = kReplyBodyMax - 2;  // after the status word
constexpr size_t kItemHeadSize = zeb::vocab::memory::kItemHeadSize;
constexpr uint8_t kItemRead = zeb::vocab::memory::kItemRead;
constexpr uint8_t kItemWrite = zeb::vocab::memory::kItemWrite;

// Every reply here holds fields at fixed places: a status word, then counts and counted bytes.
Execution status_reply(uint16_t status, const std::string& what) {
    return {{field_reply(status_only(status))}, what + (status ? ": " + status_text(status) : "")};
}

Execution data_reply(const BlockRead& r, const std::string& what) {
    Bytes b = status_only(r.status);
    b.insert(b.end(), r.data.begin(), r.data.end());
    return {{field_reply(std::move(b))}, what + (r.status ? ": " + status_text(r.status) : "")};
}

std::string memory_place(uint16_t type, uint32_t address, size_t count) {
    return "type " + std::to_string(type) + " at " + hex_text(address, 8) + ", " +
           std::to_string(count) + " bytes";
}

// The area a typed block starts in, or the status that refuses it.
MemoryArea* find_area(Module& m, uint16_t type, uint32_t address, uint16_t* refusal) {
    bool known = false;
    MemoryArea* area = m.memory.find(type, address, &known);
    if (!area) *refusal = known ? kStatusOutsideArea : kStatusNoSuchArea;
    return area;
}

// One item of a batch, checked against the module before any item is carried out.
struct Item {
    uint8_t direction = 0;
    uint16_t type = 0;
    uint32_t address = 0;
    uint16_t count = 0;
    const uint8_t* data = nullptr;  // a write's bytes, inside the request
    MemoryArea* area = nullptr;
};

// Reads the item stream of a batch; says in *why when it is cut short, has an unknown
// direction, or carries bytes after its last item.
void parse_items(Reader& in, uint16_t n, std::vector<Item>* items, std::string* why) {
    for (uint16_t i = 0; i < n; ++i) {
        Item it;
        if (!in.u8(&it.direction) || !in.u16(&it.type) || !in.u32(&it.address) ||
            !in.u16(&it.count)) {
            *why = "item " + std::to_string(i) + " cut short";
            return;
        }
        if (it.direction != kItemRead && it.direction != kItemWrite) {
            *why = "item " + std::to_string(i) + " has direction " + std::to_string(it.direction);
            return;
        }
        if (it.direction == kItemWrite) {
            it.data = in.here();
            if (!in.skip(it.count)) {
                *why = "item " + std::to_string(i) + " carries fewer bytes than its count";
                return;
            }
        }
        items->push_back(it);
    }
    if (!in.done()) *why = std::to_string(in.left()) + " bytes after the last item";
}

// The first status that refuses one of the items; 0 when all can be carried out.
uint16_t check_items(Module& m, std::vector<Item>& items) {
    size_t answer = 4;
    for (Item& it : items) {
        uint16_t refusal = 0;
        it.area = find_area(m, it.type, it.address, &refusal);
        if (!it.area) return refusal;
        const uint64_t offset = it.address - it.area->start;
        if (it.direction == kItemWrite) {
            if (uint16_t s = check_write(it.area->data, it.area->writable, offset, it.count)) {
                return s;
            }
        } else {
            answer += kItemHeadSize + it.count;
        }
    }
    return answer > kReplyBodyMax ? kStatusAnswerTooLarge : 0;
}

struct SharedRamRequest {
    SharedRamAccess access;
    const uint8_t* data = nullptr;  // a write's bytes, inside the request
};

// 0x28 or 0x29, flag (0 or 1), base u16, slot u16, address u16, count u16, and for a write the
// data. False when malformed.
bool parse_shared_ram(const Request& req, bool write, SharedRamRequest* out) {
    Reader in(req.payload);
    uint8_t flag = 0;
    SharedRamAccess& a = out->access;
    if (!in.skip(1) || !in.u8(&flag) || !in.u16(&a.key.base) || !in.u16(&a.key.slot) ||
        !in.u16(&a.address) || !in.u16(&a.count) || flag > 1) {
        return false;
    }
    a.flagged = flag == 1;
    out->data = in.here();
    return write ? in.left() == a.count : in.done();
}

std::string shared_ram_place(const SharedRamAccess& a) {
    return "shared RAM base " + std::to_string(a.key.base) + " slot " + std::to_string(a.key.slot) +
           (a.flagged ? " flagged" : "") + " at " + hex_text(a.address) + ", " +
           std::to_string(a.count) + " bytes";
}

}  // namespace

Execution on_read_memory(Context& ctx, const Request& req) {
    // 0x25, 0x00, type u16, count u16, address u32.
    Reader in(req.payload);
    uint16_t type = 0, count = 0;
    uint32_t address = 0;
    if (!in.skip(2) || !in.u16(&type) || !in.u16(&count) || !in.u32(&address) || !in.done()) {
        return status_reply(kStatusMalformed, "read memory: malformed request");
    }
    const std::string what = "read memory " + memory_place(type, address, count);
    if (count > kReadCountMax) return status_reply(kStatusAnswerTooLarge, what);
    uint16_t refusal = 0;
    const MemoryArea* area = find_area(ctx.module, type, address, &refusal);
    if (!area) return status_reply(refusal, what);
    return data_reply(read_block(area->data, address - area->start, count), what);
}

Execution on_write_memory(Context& ctx, const Request& req) {
    // 0x24, 0x00, type u16, count u16, address u32, the data.
    Reader in(req.payload);
    uint16_t type = 0, count = 0;
    uint32_t address = 0;
    if (!in.skip(2) || !in.u16(&type) || !in.u16(&count) || !in.u32(&address) ||
        in.left() != count) {
        return status_reply(kStatusMalformed, "write memory: malformed request");
    }
    const std::string what = "write memory " + memory_place(type, address, count);
    uint16_t refusal = 0;
    MemoryArea* area = find_area(ctx.module, type, address, &refusal);
    if (!area) return status_reply(refusal, what);
    return status_reply(
        write_block(area->data, area->writable, address - area->start, in.here(), count), what);
}

Execution on_enum_memory(Context& ctx, const Request&) {
    // Status word, number of entries, the entries: as many as one reply holds.
    const std::vector<MemoryArea>& areas = ctx.module.memory.areas;
    const size_t n = std::min(areas.size(), kMaxMemoryAreas);
    Bytes b = status_only(n < areas.size() ? kStatusAnswerTooLarge : uint16_t{kStatusOk});
    put_u16(b, static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; ++i) {
        const Bytes e = listing_entry(areas[i]);
        b.insert(b.end(), e.begin(), e.end());
    }
    return {{field_reply(std::move(b))}, "memory listing, " + std::to_string(n) + " areas"};
}

Execution on_access_memory(Context& ctx, const Request& req) {
    // 0x27, 0x00, item count u16, the items. Every item is checked before any is carried out,
    // so a refused batch changes nothing; the items then run in order, so a read sees a write
    // that comes before it. The answer: status word, the number of answer items, and for each
    // read item its head and data.
    Reader in(req.payload);
    uint16_t n = 0;
    std::vector<Item> items;
    std::string why;
    if (!in.skip(2) || !in.u16(&n)) {
        why = "cut short";
    } else {
        parse_items(in, n, &items, &why);
    }
    if (!why.empty()) return status_reply(kStatusMalformed, "batched memory access: " + why);
    const std::string what = "batched memory access, " + std::to_string(n) + " items";
    Module& m = ctx.module;
    if (const uint16_t refusal = check_items(m, items)) {
        Bytes b = status_only(refusal);
        put_u16(b, 0);
        return {{refusal_reply(std::move(b), Reading::fields)}, what + ": " + status_text(refusal)};
    }
    uint16_t status = kStatusOk;
    uint16_t answers = 0;
    Bytes body;
    for (const Item& it : items) {
        const uint64_t offset = it.address - it.area->start;
        if (it.direction == kItemWrite) {
            write_block(it.area->data, it.area->writable, offset, it.data, it.count);
            continue;
        }
        const BlockRead r = read_block(it.area->data, offset, it.count);
        if (r.status) status = r.status;
        body.push_back(it.direction);
        put_u16(body, it.type);
        put_u32(body, it.address);
        put_u16(body, it.count);
        body.insert(body.end(), r.data.begin(), r.data.end());
        ++answers;
    }
    Bytes b = status_only(status);
    put_u16(b, answers);
    b.insert(b.end(), body.begin(), body.end());
    return {{field_reply(std::move(b))}, what + (status ? ": " + status_text(status) : "")};
}

Execution on_read_shared_ram(Context& ctx, const Request& req) {
    SharedRamRequest r;
    if (!parse_shared_ram(req, false, &r)) {
        return status_reply(kStatusMalformed, "read shared RAM: malformed request");
    }
    const SharedRamAccess& a = r.access;
    const std::string what = "read " + shared_ram_place(a);
    if (a.count > kReadCountMax) return status_reply(kStatusAnswerTooLarge, what);
    SharedRamRegion* region = ctx.module.shared_ram.find(a.key.base, a.key.slot);
    if (!region) return status_reply(kStatusNoSuchArea, what);
    if (a.address < region->window(a.flagged).size() && region->before_read) {
        region->before_read(ctx, *region, a);
    }
    return data_reply(read_block(region->window(a.flagged), a.address, a.count), what);
}

Execution on_write_shared_ram(Context& ctx, const Request& req) {
    SharedRamRequest r;
    if (!parse_shared_ram(req, true, &r)) {
        return status_reply(kStatusMalformed, "write shared RAM: malformed request");
    }
    const SharedRamAccess& a = r.access;
    const std::string what = "write " + shared_ram_place(a);
    SharedRamRegion* region = ctx.module.shared_ram.find(a.key.base, a.key.slot);
    if (!region) return status_reply(kStatusNoSuchArea, what);
    const uint16_t status =
        write_block(region->window(a.flagged), true, a.address, r.data, a.count);
    if (status == kStatusOk && region->after_write) region->after_write(ctx, *region, a);
    return status_reply(status, what);
}

}  // namespace racksim
