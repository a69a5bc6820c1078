// A module's I/O as points: the image laid out from the base definition, filled from input
// streams, changed point by point, and written back whole as an output stream.
#include <algorithm>
#include <cstring>

#include "io/io_reply.h"
#include "io/item_stream.h"
#include "vocab/capacities.h"
#include "zeb_points.h"

namespace zeb {
namespace {

using namespace items;

// Room for what one exchange carries: the base definition's reply, the I/O reply's stream.
constexpr size_t kBaseDefRoom = vocab::kMaxBaseDef;
constexpr size_t kStreamRoom = vocab::capacity::kIoReply;

const ZEBSlotPoints* find_slot(const ZEBImage& image, uint8_t slot) noexcept {
    const size_t n = std::min<size_t>(image.SlotCount, ZEB_IMAGE_SLOTS);
    for (size_t i = 0; i < n; ++i) {
        if (image.Slots[i].Slot == slot) return &image.Slots[i];
    }
    return nullptr;
}

// Where one point's value lives in the image, or null when the image has no such point.
struct PointPlace {
    uint8_t* at = nullptr;
    Group group = kGroups;
    size_t index = 0;
};
PointPlace place_of(const ZEBImage& image, uint8_t slot, uint8_t kind, uint16_t index) noexcept {
    const Group g = group_of(kind);
    const ZEBSlotPoints* s = find_slot(image, slot);
    if (g == kGroups || !s || index >= s->Count[g]) return {};
    const size_t end = size_t(s->At[g]) + group_bytes(g, s->Count[g]);
    if (end > std::min<size_t>(image.ValueBytes, ZEB_IMAGE_VALUE_BYTES)) return {};
    return {const_cast<uint8_t*>(image.Values) + s->At[g], g, index};
}

bool is_bits(Group g) noexcept {
    return g == kGroupBitIn || g == kGroupBitOut;
}

uint32_t read_value(const PointPlace& p) noexcept {
    if (is_bits(p.group)) return (p.at[p.index / 8] >> (p.index % 8)) & 1u;
    const size_t width = value_size(kGroupTypes[p.group]);
    uint32_t v = 0;
    for (size_t b = 0; b < width; ++b) v |= uint32_t(p.at[p.index * width + b]) << (8 * b);
    return v;
}

void write_value(const PointPlace& p, uint32_t value) noexcept {
    if (is_bits(p.group)) {
        uint8_t& byte = p.at[p.index / 8];
        const uint8_t mask = uint8_t(1u << (p.index % 8));
        byte = value ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
        return;
    }
    const size_t width = value_size(kGroupTypes[p.group]);
    for (size_t b = 0; b < width; ++b) p.at[p.index * width + b] = uint8_t(value >> (8 * b));
}

bool fits(Group g, uint32_t value) noexcept {
    if (is_bits(g)) return value <= 1;
    return value_size(kGroupTypes[g]) == 4 || value <= 0xFFFF;
}

// Writes items of at most 255 bytes; refuses what does not fit the room.
class StreamWriter {
  public:
    StreamWriter(uint8_t* out, size_t room) noexcept : out_(out), room_(room) {}
    void byte(uint8_t b) noexcept {
        if (at_ < room_) out_[at_] = b;
        ++at_;
    }
    void bytes(const uint8_t* p, size_t n) noexcept {
        for (size_t i = 0; i < n; ++i) byte(p[i]);
    }
    bool fits() const noexcept { return at_ <= room_; }
    size_t length() const noexcept { return at_; }

  private:
    uint8_t* out_;
    size_t room_;
    size_t at_ = 0;
};

uint32_t encode_outputs(const ZEBImage& image, uint8_t* stream, uint16_t* size) noexcept {
    StreamWriter w(stream, *size);
    w.byte(kExtendedMarker);
    w.byte(0x00);
    const size_t slots = std::min<size_t>(image.SlotCount, ZEB_IMAGE_SLOTS);
    for (size_t i = 0; i < slots; ++i) {
        const ZEBSlotPoints& s = image.Slots[i];
        const Group outputs[] = {kGroupBitOut, kGroupWordOut, kGroupDwordOut};
        if (!s.Count[kGroupBitOut] && !s.Count[kGroupWordOut] && !s.Count[kGroupDwordOut]) {
            continue;
        }
        w.byte(kSelectSlot);
        w.byte(s.Slot);
        for (const Group g : outputs) {
            size_t left = group_bytes(g, s.Count[g]);
            const uint8_t* values = image.Values + s.At[g];
            // A long run goes as several items of whole values; the module reads them in turn.
            const size_t step =
                kExtendedLengthMax - kExtendedLengthMax % value_size(kGroupTypes[g]);
            while (left > 0) {
                const size_t n = std::min(left, step);
                w.byte(kGroupTypes[g]);
                w.byte(uint8_t(n));
                w.bytes(values, n);
                values += n;
                left -= n;
            }
        }
    }
    w.byte(kEndByte);
    if (!w.fits()) {
        *size = 0;
        return ZEBERR_BUFFER_TOO_SMALL;
    }
    *size = static_cast<uint16_t>(w.length());
    return 0;
}

// Runs one I/O exchange and takes the stream of its reply into the image, as ZEBReadIO() and
// ZEBWriteIO() would deliver it: also with a refusal, never after a failed exchange.
template <class Send>
uint32_t exchange_into(ZEBImage& image, Send send) noexcept {
    io::IoReply reply;
    const uint32_t result = send(reply);
    if (failed(result)) return result;
    uint8_t stream[kStreamRoom];
    uint16_t size = sizeof stream;
    const uint32_t delivered = io::deliver_inputs(reply, result, stream, &size);
    ZEBDecodeStream(&image, stream, size);
    return delivered;
}

}  // namespace
}  // namespace zeb

using namespace zeb;
using namespace zeb::items;

extern "C" {

uint32_t ZEBImageFromBaseDef(ZEBImage* image, const uint8_t* definition, uint16_t size) {
    if (!image || (!definition && size)) return ZEBERR_BAD_PARAMETER;
    // Slots by number first: a slot described twice keeps its last record, and the image
    // lists them in ascending order.
    ModuleRecord records[ZEB_IMAGE_SLOTS];
    bool described[ZEB_IMAGE_SLOTS] = {};
    walk_base_definition(definition, size, [&](uint8_t slot, const ModuleRecord& r) {
        records[slot] = r;
        described[slot] = true;
    });
    std::memset(image, 0, sizeof *image);
    uint32_t result = 0;
    size_t used = 0;
    for (size_t slot = 0; slot < ZEB_IMAGE_SLOTS; ++slot) {
        if (!described[slot]) continue;
        const ModuleRecord& r = records[slot];
        size_t need = 0;
        for (uint8_t g = 0; g < kGroups; ++g) need += group_bytes(Group(g), r.counts[g]);
        if (need == 0) continue;
        if (need > ZEB_IMAGE_VALUE_BYTES - used) {
            result = ZEBERR_BUFFER_TOO_SMALL;
            continue;
        }
        ZEBSlotPoints& s = image->Slots[image->SlotCount++];
        s.Slot = uint8_t(slot);
        s.Kind = r.kind;
        s.Ident = r.ident;
        for (uint8_t g = 0; g < kGroups; ++g) {
            s.Count[g] = r.counts[g];
            s.At[g] = static_cast<uint16_t>(used);
            used += group_bytes(Group(g), r.counts[g]);
        }
    }
    image->ValueBytes = static_cast<uint16_t>(used);
    return result;
}

uint32_t ZEBDecodeStream(ZEBImage* image, const uint8_t* stream, uint16_t size) {
    if (!image || (!stream && size)) return ZEBERR_BAD_PARAMETER;
    // How far each slot's kinds have been filled by the items so far.
    uint16_t filled[ZEB_IMAGE_SLOTS][kGroups] = {};
    walk_points(stream, size, [&](uint8_t slot, uint8_t type, const uint8_t* data, size_t n) {
        const ZEBSlotPoints* s = find_slot(*image, slot);
        const Group g = group_of(type);
        // walk_points passes only types that carry points; the check says so to the compiler.
        if (!s || g == kGroups) return;
        const size_t room = group_bytes(g, s->Count[g]);
        const size_t width = value_size(type);
        uint16_t& at = filled[slot][g];
        const size_t take = std::min((n / width) * width, room - std::min<size_t>(at, room));
        if (take == 0 || size_t(s->At[g]) + room > ZEB_IMAGE_VALUE_BYTES) return;
        std::memcpy(image->Values + s->At[g] + at, data, take);
        at = static_cast<uint16_t>(at + take);
    });
    return 0;
}

uint32_t ZEBEncodeOutputs(const ZEBImage* image, uint8_t* stream, uint16_t* size) {
    if (!image || !stream || !size) return ZEBERR_BAD_PARAMETER;
    return encode_outputs(*image, stream, size);
}

uint32_t ZEBReadImageLayout(ZEBDevice* device, ZEBImage* image) {
    if (!image) return ZEBERR_BAD_PARAMETER;
    uint8_t definition[kBaseDefRoom] = {kExtendedMarker, 0x00};
    uint16_t size = sizeof definition;
    const uint32_t result = ZEBReadBaseDef(device, definition, &size);
    if (!succeeded(result) && result != ZEBERR_BUFFER_TOO_SMALL) return result;
    const uint32_t laid_out = ZEBImageFromBaseDef(image, definition, size);
    return laid_out ? laid_out : result;
}

uint32_t ZEBReadInputs(ZEBDevice* device, ZEBImage* image) {
    if (!image) return ZEBERR_BAD_PARAMETER;
    return exchange_into(*image, [&](io::IoReply& reply) {
        io::IoRequest request(device);
        request.u8(fn::kReadIo).u8(kExtendedMarker);
        return exchange(device, request, reply, Wait::unless_no_wait, Warn::yes);
    });
}

uint32_t ZEBWriteOutputs(ZEBDevice* device, ZEBImage* image) {
    if (!image) return ZEBERR_BAD_PARAMETER;
    uint8_t outputs[kStreamRoom];
    uint16_t length = sizeof outputs;
    if (const uint32_t refused = encode_outputs(*image, outputs, &length)) return refused;
    return exchange_into(*image, [&](io::IoReply& reply) {
        return io::send_stream(device, fn::kWriteIo, outputs, length, reply);
    });
}

uint32_t ZEBGetPoint(const ZEBImage* image, uint8_t slot, uint8_t kind, uint16_t index,
                     uint32_t* value) {
    if (!image || !value) return ZEBERR_BAD_PARAMETER;
    const PointPlace p = place_of(*image, slot, kind, index);
    if (!p.at) return ZEBERR_BAD_PARAMETER;
    *value = read_value(p);
    return 0;
}

uint32_t ZEBGetPointSigned(const ZEBImage* image, uint8_t slot, uint8_t kind, uint16_t index,
                           int32_t* value) {
    uint32_t v = 0;
    if (!value) return ZEBERR_BAD_PARAMETER;
    if (const uint32_t r = ZEBGetPoint(image, slot, kind, index, &v)) return r;
    const Group g = group_of(kind);
    *value =
        value_size(kGroupTypes[g]) == 2 && !is_bits(g) ? int32_t(int16_t(uint16_t(v))) : int32_t(v);
    return 0;
}

uint32_t ZEBSetPoint(ZEBImage* image, uint8_t slot, uint8_t kind, uint16_t index, uint32_t value) {
    if (!image) return ZEBERR_BAD_PARAMETER;
    const PointPlace p = place_of(*image, slot, kind, index);
    if (!p.at || !fits(p.group, value)) return ZEBERR_BAD_PARAMETER;
    write_value(p, value);
    return 0;
}

}  // extern "C"
