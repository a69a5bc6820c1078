// Reading the item streams a module and its hosts exchange: the I/O stream (inputs from the
// module, outputs from a host) and the base definition, which share their item headers. One
// reader for the library, its tools and the simulator; every byte it reads is bounds-checked.
//
//     ItemReader in(data, size);
//     for (Item item; in.next(item);) { ... item.type, item.length, item.data, item.size ... }
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocab/items.h"

namespace zeb::items {

using namespace ::zeb::vocab::items;

// Whether a type carries point values, and how wide one value is.
inline constexpr bool carries_points(uint8_t type) {
    return type == kBitIn || type == kBitOut || type == kWordIn || type == kWordOut ||
           type == kDwordIn || type == kDwordOut;
}
inline constexpr size_t value_size(uint8_t type) {
    return (type == kWordIn || type == kWordOut)     ? 2
           : (type == kDwordIn || type == kDwordOut) ? 4
                                                     : 1;
}
inline constexpr bool is_input(uint8_t type) {
    return type == kBitIn || type == kWordIn || type == kDwordIn;
}

// Bytes that follow an item's header: compact lengths count values, extended ones bytes.
inline constexpr size_t data_size(uint8_t type, size_t length, bool extended) {
    switch (type) {
        case kSelectSlot:
        case kMarker:
        case kEnd:
            return 0;
        case kModuleRecord:
        case 14:
            return length + 2;
        default:
            if (type > kEnd) return 0;  // extended only: the header alone
            return (extended || !carries_points(type)) ? length : length * value_size(type);
    }
}

// In a base definition only the selection, the module record and the switch carry data; a
// reader passes over only the header of any other item.
inline constexpr size_t base_definition_data_size(uint8_t type, size_t length) {
    switch (type) {
        case kModuleRecord:
            return length + 2;
        case kSwitchExtended:
            return length;
        default:
            return 0;
    }
}

struct Item {
    uint8_t type = 0;
    uint8_t length = 0;  // the header's length field (a slot number for kSelectSlot)
    const uint8_t* data = nullptr;
    size_t size = 0;  // bytes of data that arrived (fewer than announced when cut short)
    bool whole = true;
};

// Walks a stream item by item. It starts in the compact format and switches at the switch
// item. An I/O stream ends at an end item, at the end byte 0xFF (in either format: no item of
// another maker's writer has that type, and bytes a module pads its reply with after it are
// not items), or at the end of the data. A base definition ends at 0xF0 in the extended
// format or at the end of the data, and its other items are headers alone. An item cut short
// by the end of the data is handed out with what arrived and ends the walk.
class ItemReader {
  public:
    ItemReader(const uint8_t* data, size_t size, bool base_definition = false) noexcept
        : data_(data), size_(data ? size : 0), base_definition_(base_definition) {}

    bool next(Item& item) noexcept {
        if (done_ || at_ >= size_) return false;
        const uint8_t first = data_[at_];
        if (base_definition_ ? (extended_ && first == kBaseDefEnd) : first == kEndByte) {
            return stop();
        }
        size_t header = 1;
        if (extended_) {
            if (size_ - at_ < 2) return stop();
            item.type = first;
            item.length = data_[at_ + 1];
            header = 2;
        } else {
            item.type = first >> 4;
            item.length = first & 0x0F;
        }
        if (item.type == kEnd && !base_definition_) return stop();
        at_ += header;
        const size_t wanted = base_definition_ ? base_definition_data_size(item.type, item.length)
                                               : data_size(item.type, item.length, extended_);
        const size_t left = size_ - at_;
        item.data = data_ + at_;
        item.size = wanted < left ? wanted : left;
        item.whole = item.size == wanted;
        at_ += item.size;
        if (!item.whole) done_ = true;
        if (item.type == kSwitchExtended) extended_ = true;
        return true;
    }

    bool extended() const noexcept { return extended_; }
    // Takes the item last handed out as its header alone: the bytes that came as its data are
    // read again as items. For a reader whose rules give that item no data.
    void take_header_only(const Item& item) noexcept {
        at_ -= item.size;
        done_ = false;
    }
    // Bytes read so far.
    size_t position() const noexcept { return at_; }

  private:
    bool stop() noexcept {
        done_ = true;
        return false;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool base_definition_;
    bool extended_ = false;
    bool done_ = false;
};

// Point counts of a module record, by group.
enum Group : uint8_t {
    kGroupBitIn,
    kGroupBitOut,
    kGroupWordIn,
    kGroupWordOut,
    kGroupDwordIn,
    kGroupDwordOut,
    kGroups
};
inline constexpr uint8_t kGroupTypes[kGroups] = {kBitIn,   kBitOut,  kWordIn,
                                                 kWordOut, kDwordIn, kDwordOut};
// The group of an item type that carries points, or kGroups.
inline constexpr Group group_of(uint8_t type) {
    for (uint8_t g = 0; g < kGroups; ++g) {
        if (kGroupTypes[g] == type) return Group(g);
    }
    return kGroups;
}
// Bytes a group's values take in a stream: bits eight to a byte.
inline constexpr size_t group_bytes(Group g, size_t count) {
    return (g == kGroupBitIn || g == kGroupBitOut) ? (count + 7) / 8
                                                   : count * value_size(kGroupTypes[g]);
}

// A module record of the base definition (the data of a module-record item).
struct ModuleRecord {
    uint8_t kind = 0;
    uint8_t ident = 0;
    uint8_t counts[kGroups] = {};
};

// Reads a module record: kinds 1, 3, 5 carry their counts in fixed places, kind 7 as (item
// type, count) pairs in which a later pair of a type wins and other types set nothing, kind
// 255 none. Other kinds, and records cut short, describe no module.
inline bool read_module_record(const uint8_t* data, size_t size, ModuleRecord& out) noexcept {
    if (size < 2) return false;
    out = ModuleRecord{};
    out.kind = data[0];
    out.ident = data[1];
    static constexpr Group kKind1[] = {kGroupBitIn, kGroupBitOut, kGroupWordIn, kGroupWordOut};
    static constexpr Group kKind3[] = {kGroupBitIn, kGroupBitOut, kGroupDwordIn, kGroupDwordOut};
    static constexpr Group kKind5[] = {kGroupBitIn,   kGroupBitOut,  kGroupWordIn,
                                       kGroupWordOut, kGroupDwordIn, kGroupDwordOut};
    const auto fixed = [&](const Group* groups, size_t n) {
        if (size < 2 + n) return false;
        for (size_t i = 0; i < n; ++i) out.counts[groups[i]] = data[2 + i];
        return true;
    };
    switch (out.kind) {
        case 1:
            return fixed(kKind1, 4);
        case 3:
            return fixed(kKind3, 4);
        case 5:
            return fixed(kKind5, 6);
        case 7: {
            if (size < 3) return false;
            const size_t pairs = data[2];
            if (size < 3 + 2 * pairs) return false;
            for (size_t i = 0; i < pairs; ++i) {
                const Group g = group_of(data[3 + 2 * i]);
                if (g != kGroups) out.counts[g] = data[4 + 2 * i];
            }
            return true;
        }
        case 255:
            return true;
        default:
            return false;
    }
}

// Walks a base definition: calls on_record(slot, record) for each module record that belongs
// to a selected slot and describes a module. Records before any selection describe nothing.
template <class OnRecord>
void walk_base_definition(const uint8_t* data, size_t size, OnRecord on_record) noexcept {
    ItemReader in(data, size, /*base_definition=*/true);
    int slot = -1;
    for (Item item; in.next(item);) {
        if (item.type == kSelectSlot) {
            slot = item.length;
        } else if (item.type == kModuleRecord && slot >= 0 && item.whole) {
            ModuleRecord record;
            if (read_module_record(item.data, item.size, record)) on_record(uint8_t(slot), record);
        }
    }
}

// Walks the point items of an I/O stream: calls on_points(slot, type, data, size) for each
// item that carries values and follows a slot selection.
template <class OnPoints>
void walk_points(const uint8_t* data, size_t size, OnPoints on_points) noexcept {
    ItemReader in(data, size);
    int slot = -1;
    for (Item item; in.next(item);) {
        if (item.type == kSelectSlot) {
            slot = item.length;
        } else if (carries_points(item.type) && slot >= 0) {
            on_points(uint8_t(slot), item.type, item.data, item.size);
        }
    }
}

}  // namespace zeb::items
