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
    if (w.extended()) w.put(kEndBaseDef);
    return w.take();
}

namespace {

// Decodes one module record; false when it is too short for its kind.
bool decode_record(const uint8_t* p, size_t len, SlotRecord* r, std::string* why) {
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    r->kind = p[0];
    r->ident = p[1];
    switch (r->kind) {
        case 1:
        case 3:
            if (len < 6) return fail("record of kind " + std::to_string(r->kind) + " too short");
            if (r->kind == 1) {
                r->counts = {p[2], p[3], p[4], p[5], 0, 0};
            } else {
                r->counts = {p[2], p[3], 0, 0, p[4], p[5]};
            }
            return true;
        case 5:
            if (len < 8) return fail("record of kind 5 too short");
            r->counts = {p[2], p[3], p[4], p[5], p[6], p[7]};
            return true;
        case 7: {
            if (len < 3) return fail("record of kind 7 too short");
            const size_t n = p[2];
            if (n > kMaxRecordPairs) return fail("record of kind 7 has too many pairs");
            if (len < 3 + 2 * n) return fail("record of kind 7 too short for its pairs");
            for (size_t i = 0; i < n; ++i) r->pairs.emplace_back(p[3 + 2 * i], p[4 + 2 * i]);
            r->counts = SlotRecord::counts_from_pairs(r->pairs);
            return true;
        }
        default:
            return true;  // 255: identification only
    }
}

}  // namespace

bool parse_base_def(const uint8_t* data, size_t len, int base_slots, Slots* slots,
                    std::string* why) {
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    Reader in(data, len);
    bool extended = false;
    int slot = -1;
    ItemHeader h;
    while (read_item_header(in, extended, &h)) {
        if (extended && h.type == kEndBaseDef) return true;
        const uint8_t type = h.type;
        const size_t length = h.length;
        if (type == kSelectSlot) {
            if (static_cast<int>(length) >= base_slots) {
                return fail("slot " + std::to_string(length) + " is outside the base of " +
                            std::to_string(base_slots) + " slots");
            }
            slot = static_cast<int>(length);
        } else if (type == kModuleRecord) {
            if (slot < 0) return fail("module record before any slot selection");
            const size_t size = length + 2;
            if (in.left() < size) return fail("module record runs past the end");
            SlotRecord r;
            if (!decode_record(in.here(), size, &r, why)) return false;
            in.skip(size);
            if (SlotRecord::known_kind(r.kind)) {
                slots->insert_or_assign(slot, Slot(std::move(r)));
            } else {
                slots->erase(slot);  // describes no module
            }
        } else if (type == kSwitchExtended && !extended) {
            if (!in.skip(length)) return fail("switch item runs past the end");
            extended = true;
        }
        // Any other item: only its header is passed over.
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
