#include "base_def.h"

#include <utility>

#include "item_stream.h"

namespace racksim {

Bytes encode_base_def(const Slots& slots, bool extended) {
    StreamWriter w(extended);
    for (const auto& [n, slot] : slots) {
        w.select_slot(n);
        w.record_item(slot.record.encode());
    }
    if (w.extended()) w.put(items::kBaseDefEnd);
    return w.take();
}

namespace {

// Decodes one module record (its kind and identification bytes at least). False, with the
// reason, when the record is too short for its kind or lists more pairs than a written record
// could hold; a record of an unknown kind decodes, and describes no module.
bool decode_record(const uint8_t* p, size_t len, SlotRecord* r, std::string* why) {
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    r->kind = p[0];
    r->ident = p[1];
    if (!SlotRecord::known_kind(r->kind)) return true;
    const bool paired = r->kind == 7 && len >= 3;
    if (paired && p[2] > kMaxRecordPairs) return fail("record of kind 7 has too many pairs");
    items::ModuleRecord record;
    if (!items::read_module_record(p, len, record)) {
        return fail(paired ? std::string("record of kind 7 too short for its pairs")
                           : "record of kind " + std::to_string(r->kind) + " too short");
    }
    r->counts = IoCounts::of(record.counts);
    if (paired) {
        for (size_t i = 0; i < p[2]; ++i) r->pairs.emplace_back(p[3 + 2 * i], p[4 + 2 * i]);
    }
    return true;
}

}  // namespace

// Read with the library's item reader, by stricter rules: a stream the module could not hold
// as it came is refused rather than read in part. A switch item in the extended format (which
// no host writes) is taken as its header alone, where the reader gives it its length of data.
bool parse_base_def(const uint8_t* data, size_t len, int base_slots, Slots* slots,
                    std::string* why) {
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    items::ItemReader in(data, len, /*base_definition=*/true);
    int slot = -1;
    items::Item item;
    for (bool extended = false; in.next(item); extended = in.extended()) {
        if (item.type == items::kSelectSlot) {
            if (item.length >= base_slots) {
                return fail("slot " + std::to_string(item.length) + " is outside the base of " +
                            std::to_string(base_slots) + " slots");
            }
            slot = item.length;
        } else if (item.type == items::kModuleRecord) {
            if (slot < 0) return fail("module record before any slot selection");
            if (!item.whole) return fail("module record runs past the end");
            SlotRecord r;
            if (!decode_record(item.data, item.size, &r, why)) return false;
            if (SlotRecord::known_kind(r.kind)) {
                slots->insert_or_assign(slot, Slot(std::move(r)));
            } else {
                slots->erase(slot);  // describes no module
            }
        } else if (item.type == items::kSwitchExtended) {
            if (extended) {
                in.take_header_only(item);
            } else if (!item.whole) {
                return fail("switch item runs past the end");
            }
        }
        // Any other item is a header alone.
    }
    return true;
}

void adopt_base_def(Module& m, Slots fresh, bool fresh_behaviour) {
    Slots& current = m.base.slots;
    for (auto& [n, slot] : fresh) {
        auto old = current.find(n);
        if (old == current.end()) continue;
        if (!fresh_behaviour) slot.behaviour = old->second.behaviour;
        if (old->second.record.counts == slot.record.counts) slot.io = old->second.io;
    }
    current = std::move(fresh);
}

}  // namespace racksim
