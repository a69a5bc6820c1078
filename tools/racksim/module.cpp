#include "module.h"

#include "item_stream.h"

namespace racksim {

bool SlotRecord::known_kind(uint8_t kind) {
    return kind == 1 || kind == 3 || kind == 5 || kind == 7 || kind == 255;
}

SlotRecord SlotRecord::basic(uint8_t ident, uint8_t bit_in, uint8_t bit_out, uint8_t word_in,
                             uint8_t word_out) {
    SlotRecord r;
    r.kind = 1;
    r.ident = ident;
    r.counts = {bit_in, bit_out, word_in, word_out, 0, 0};
    return r;
}

SlotRecord SlotRecord::wide(uint8_t ident, uint8_t bit_in, uint8_t bit_out, uint8_t dword_in,
                            uint8_t dword_out) {
    SlotRecord r;
    r.kind = 3;
    r.ident = ident;
    r.counts = {bit_in, bit_out, 0, 0, dword_in, dword_out};
    return r;
}

SlotRecord SlotRecord::full(uint8_t ident, const IoCounts& counts) {
    SlotRecord r;
    r.kind = 5;
    r.ident = ident;
    r.counts = counts;
    return r;
}

SlotRecord SlotRecord::paired(uint8_t ident, std::vector<std::pair<uint8_t, uint8_t>> pairs) {
    SlotRecord r;
    r.kind = 7;
    r.ident = ident;
    r.counts = counts_from_pairs(pairs);
    r.pairs = std::move(pairs);
    return r;
}

SlotRecord SlotRecord::no_io(uint8_t ident) {
    SlotRecord r;
    r.kind = 255;
    r.ident = ident;
    return r;
}

IoCounts IoCounts::of(const uint8_t (&groups)[items::kGroups]) {
    static_assert(items::kGroupBitIn == 0 && items::kGroupBitOut == 1 && items::kGroupWordIn == 2 &&
                  items::kGroupWordOut == 3 && items::kGroupDwordIn == 4 &&
                  items::kGroupDwordOut == 5);
    return {groups[0], groups[1], groups[2], groups[3], groups[4], groups[5]};
}

IoCounts SlotRecord::counts_from_pairs(const std::vector<std::pair<uint8_t, uint8_t>>& pairs) {
    uint8_t groups[items::kGroups] = {};
    for (const auto& [type, count] : pairs) {
        const items::Group g = items::group_of(type);
        if (g != items::kGroups) groups[g] = count;  // other types set nothing
    }
    return IoCounts::of(groups);
}

Bytes SlotRecord::encode() const {
    Bytes b{kind, ident};
    const IoCounts& c = counts;
    switch (kind) {
        case 1:
            b.insert(b.end(), {c.bit_in, c.bit_out, c.word_in, c.word_out});
            break;
        case 3:
            b.insert(b.end(), {c.bit_in, c.bit_out, c.dword_in, c.dword_out});
            break;
        case 5:
            b.insert(b.end(),
                     {c.bit_in, c.bit_out, c.word_in, c.word_out, c.dword_in, c.dword_out});
            break;
        case 7:
            b.push_back(static_cast<uint8_t>(pairs.size()));
            for (const auto& [type, count] : pairs) b.insert(b.end(), {type, count});
            break;
        default:
            break;
    }
    return b;
}

void SlotImage::resize(const IoCounts& c) {
    bit_in.assign((c.bit_in + 7u) / 8u, 0);
    bit_out.assign((c.bit_out + 7u) / 8u, 0);
    word_in.assign(c.word_in, 0);
    word_out.assign(c.word_out, 0);
    dword_in.assign(c.dword_in, 0);
    dword_out.assign(c.dword_out, 0);
}

void SlotImage::set_bit(Bytes& bits, size_t n, bool v) {
    uint8_t& byte = bits.at(n / 8);
    const auto mask = static_cast<uint8_t>(1u << (n % 8));
    byte = static_cast<uint8_t>(v ? (byte | mask) : (byte & ~mask));
}

Slot& Module::add_slot(int slot, SlotRecord record) {
    return base.slots.insert_or_assign(slot, Slot(std::move(record))).first->second;
}

std::string Module::name() const {
    const Bytes* r = setup.find(kSetupName);
    return r ? name_of(*r) : std::string();
}

uint32_t Module::number() const {
    const Bytes* r = setup.find(kSetupNumber);
    return r ? number_of(*r) : 0;
}

void Module::set_name(const std::string& name) {
    setup.put(kSetupName, Bytes(name.begin(), name.end()));
}

void Module::set_number(uint32_t number) {
    setup.put(kSetupNumber, number_record(number));
}

Faults& Module::faults_for(uint8_t code) {
    auto it = faults_by_function.find(code);
    return it == faults_by_function.end() ? faults : it->second;
}

}  // namespace racksim
