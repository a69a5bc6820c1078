// Memory that the module exposes: typed memory, named by a memory type and a 32-bit address,
// read and written a block at a time or in batches, the module's list of its memory areas, and
// shared RAM, named by two selectors and a 16-bit address. Every reply starts with a status
// word, which becomes the result sign-extended. None of them reports re-sends.
#include <cstring>

#include "controller/shared_ram.h"
#include "core/request.h"
#include "vocab/capacities.h"

namespace zeb {
namespace {

constexpr size_t kRequestCapacity = vocab::capacity::kMemoryRequest;
constexpr size_t kReadReplyCapacity = vocab::capacity::kMemoryReply;
constexpr size_t kWriteReplyCapacity = vocab::capacity::kMemoryWriteReply;
constexpr size_t kMemoryWriteMax = vocab::kMaxMemoryWrite;
// What one reply can carry after its header.
constexpr size_t kReplyBodyMax = kReadReplyCapacity - frame::kHeaderSize;
static_assert(kSharedRamReadMax == kReplyBodyMax - kStatusSize);

using MemoryRequest = Request<kRequestCapacity>;
using ReadReply = Reply<kReadReplyCapacity>;

constexpr StatusRule kSigned = StatusRule::signed_word;

// Data read comes with a status whose low 12 bits are clear, and with this one.
constexpr uint16_t kStatusWithData = 0x0086;
bool status_delivers(uint16_t status) noexcept {
    return (status & 0x0FFF) == 0 || status == kStatusWithData;
}

// A read or write names its place and count after the function code; `place(request, count)`
// writes those fields, which differ between typed memory and shared RAM.
template <class Place>
uint32_t read_block(ZEBDevice* device, uint8_t function, Place place, size_t count,
                    uint8_t* buffer) noexcept {
    if (count > kSharedRamReadMax || (!buffer && count)) return ZEBERR_BAD_PARAMETER;
    MemoryRequest request(device);
    request.u8(function);
    place(request, static_cast<uint16_t>(count));
    ReadReply reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    if (failed(result)) return result;
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    if (!in.complete()) return ZEBERR_NO_DATA;
    if (status_delivers(status)) {
        // Fewer bytes than asked for do not answer the request: none of them are delivered, and
        // a nonzero status word that came without them is the result.
        const uint8_t* data = in.block(count);
        if (!data) return status_or(status, kSigned, ZEBERR_BAD_PARAMETER);
        if (count) std::memcpy(buffer, data, count);
    }
    return status_or(status, kSigned, result);
}

template <class Place>
uint32_t write_block(ZEBDevice* device, uint8_t function, Place place, size_t limit, size_t count,
                     const uint8_t* source) noexcept {
    if (count > limit) return ZEBERR_PACKET_TOO_LARGE;
    if (!source && count) return ZEBERR_BAD_PARAMETER;
    MemoryRequest request(device);
    request.u8(function);
    place(request, static_cast<uint16_t>(count));
    request.bytes(source, count);
    Reply<kWriteReplyCapacity> reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    return failed(result) ? result : status_only(reply, result, kSigned);
}

// Typed memory: a zero byte, the memory type, the count, the 32-bit address.
auto typed_memory(uint16_t type, uint32_t address) noexcept {
    return [=](MemoryRequest& r, uint16_t count) { r.u8(0).u16(type).u16(count).u32(address); };
}

// Shared RAM: bit 15 of the address goes out as a flag byte ahead of the selectors, and the
// address field carries the rest.
constexpr uint16_t kAddressFlagBit = 0x8000;
auto shared_ram(uint16_t base, uint16_t slot, uint16_t address) noexcept {
    return [=](MemoryRequest& r, uint16_t count) {
        r.u8((address & kAddressFlagBit) ? 1 : 0).u16(base).u16(slot);
        r.u16(static_cast<uint16_t>(address & ~kAddressFlagBit)).u16(count);
    };
}

// A batched access: each item is a 9-byte head (direction, type, address, count), followed by
// the data of a write. The reply answers each read item, in order, with the same head and its
// data, after the status word and a word that is zero when no items follow.
constexpr uint8_t kItemRead = 0;
constexpr uint8_t kItemWrite = 1;
constexpr size_t kItemHeadSize = 9;
constexpr size_t kAccessAnswerHead = 2 * kStatusSize;

}  // namespace

uint32_t read_shared_ram(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t address,
                         size_t count, uint8_t* buffer) noexcept {
    return read_block(device, fn::kReadSharedRam, shared_ram(base, slot, address), count, buffer);
}

uint32_t write_shared_ram(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t address,
                          size_t count, const uint8_t* source) noexcept {
    return write_block(device, fn::kWriteSharedRam, shared_ram(base, slot, address),
                       kSharedRamWriteMax, count, source);
}

}  // namespace zeb

using namespace zeb;

extern "C" {

uint32_t ZEBReadMemory(ZEBDevice* device, uint16_t memory_type, uint32_t address, uint32_t count,
                       uint8_t* buffer) {
    return read_block(device, fn::kReadMemory, typed_memory(memory_type, address), count, buffer);
}

uint32_t ZEBWriteMemory(ZEBDevice* device, uint16_t memory_type, uint32_t address, uint32_t count,
                        const uint8_t* buffer) {
    return write_block(device, fn::kWriteMemory, typed_memory(memory_type, address),
                       kMemoryWriteMax, count, buffer);
}

uint32_t ZEBReadSharedRAM(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t address,
                          uint32_t count, uint8_t* buffer) {
    return read_shared_ram(device, base, slot, address, count, buffer);
}

uint32_t ZEBWriteSharedRAM(ZEBDevice* device, uint16_t base, uint16_t slot, uint16_t address,
                           uint32_t count, const uint8_t* buffer) {
    return write_shared_ram(device, base, slot, address, count, buffer);
}

// The batch is refused before sending when the request, or the answer its reads call for, would
// not fit one packet. Read items are filled in order; a wrong or short answer item stops there,
// with the earlier ones delivered.
uint32_t ZEBAccessMemory(ZEBDevice* device, ZEBMemoryItem* items, uint32_t item_count) {
    if (!items && item_count) return ZEBERR_BAD_PARAMETER;
    MemoryRequest request(device);
    request.u8(fn::kAccessMemory).u8(0).u16(static_cast<uint16_t>(item_count));
    size_t answer = kAccessAnswerHead;
    // Every item adds at least its head, so an oversized count stops at the first few dozen.
    for (uint32_t i = 0; i < item_count; ++i) {
        const ZEBMemoryItem item = items[i];
        if (item.Direction != kItemRead && item.Direction != kItemWrite) {
            return ZEBERR_BAD_PARAMETER;
        }
        if (!item.Buffer && item.Count) return ZEBERR_BAD_PARAMETER;
        request.u8(item.Direction).u16(item.MemoryType).u32(item.Address).u16(item.Count);
        if (item.Direction == kItemWrite) {
            request.bytes(item.Buffer, item.Count);
        } else {
            answer += kItemHeadSize + item.Count;
        }
        if (uint32_t refused = request.refusal()) return refused;
        if (answer > kReplyBodyMax) return ZEBERR_PACKET_TOO_LARGE;
    }
    ReadReply reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    if (failed(result)) return result;
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    if (!in.complete()) return ZEBERR_NO_DATA;
    // Unlike the single reads, 0x0086 delivers nothing here.
    if (status & 0x0FFF) return status_or(status, kSigned, result);
    if (in.u16() == 0) return status_or(status, kSigned, result);
    for (uint32_t i = 0; i < item_count; ++i) {
        const ZEBMemoryItem item = items[i];
        if (item.Direction != kItemRead) continue;
        in.u8();  // the answer's direction byte is not compared
        const uint16_t type = in.u16();
        const uint32_t address = in.u32();
        const uint16_t count = in.u16();
        if (!in.complete()) return ZEBERR_BAD_PARAMETER;
        if (type != item.MemoryType || address != item.Address || count != item.Count) {
            return ZEBERR_MISMATCHED_REPLY;
        }
        const uint8_t* data = in.block(count);
        if (!data) return ZEBERR_BAD_PARAMETER;
        if (count) std::memcpy(item.Buffer, data, count);
    }
    return status_or(status, kSigned, result);
}

// The reply: status word, number of entries n, then n entries of 22 bytes. Only whole entries
// that arrived are delivered, also with a nonzero status; a list shorter than its count gives
// ZEBERR_NO_DATA.
uint32_t ZEBENumMemory(ZEBDevice* device, uint16_t* area_count, ZEBMemoryArea* areas) {
    MemoryRequest request(device);
    request.u8(fn::kEnumMemory);
    ReadReply reply;
    const uint32_t result = exchange(device, request, reply, Wait::always, Warn::no);
    if (failed(result)) return result;
    ReplyReader in(reply);
    const uint16_t status = in.u16();
    const uint16_t claimed = in.u16();
    if (!in.complete()) return status_or(status, kSigned, ZEBERR_NO_DATA);
    const size_t room = (areas && area_count) ? *area_count : 0;
    const ListCut cut = cut_list(claimed, in.rest_size() / sizeof(ZEBMemoryArea), room, result);
    if (cut.count) std::memcpy(areas, in.rest(), cut.count * sizeof(ZEBMemoryArea));
    put(area_count, static_cast<uint16_t>(cut.count));
    return status_or(status, kSigned, cut.result);
}

}  // extern "C"
