#include "test_util.h"

#include <gtest/gtest.h>

#include "core/crc16.h"

namespace racksim::test {

uint16_t Reply::status() const {
    return payload.size() >= 2 ? get_u16(payload.data()) : 0xFFFF;
}

Bytes Reply::after_status() const {
    return payload.size() >= 2 ? Bytes(payload.begin() + 2, payload.end()) : Bytes{};
}

// The header is taken apart at its places written out here, not with RackSim's frame code nor
// the vocabulary: the tests read what RackSim sends as an independent oracle would.
Reply decode(const Outgoing& out) {
    Reply r;
    r.from_ip = out.from_ip;
    r.delay_ms = out.delay_ms;
    const Bytes& b = out.bytes;
    if (b.size() < kHeaderSize) {
        ADD_FAILURE() << "reply shorter than a header";
        return r;
    }
    r.magic.assign(b.begin(), b.begin() + 3);
    r.sequence = get_u16(&b[3]);
    r.crc_field = get_u16(&b[5]);
    r.length_right = get_u16(&b[7]) == b.size() - kHeaderSize;
    r.payload.assign(b.begin() + kHeaderSize, b.end());
    r.crc_right = zeb::crc16(r.payload.data(), r.payload.size()) == r.crc_field;
    return r;
}

std::vector<Reply> ask(Rack& rack, uint32_t to_ip, const Bytes& payload, uint16_t seq) {
    const Bytes frame = make_request(seq, payload, true, rack.settings().key);
    std::vector<Reply> replies;
    for (const Outgoing& o : rack.handle(to_ip, frame.data(), frame.size())) {
        replies.push_back(decode(o));
    }
    return replies;
}

Reply ask_one(Rack& rack, uint32_t to_ip, const Bytes& payload, uint16_t seq) {
    std::vector<Reply> replies = ask(rack, to_ip, payload, seq);
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? Reply{} : replies.front();
}

Rack three_modules() {
    Rack rack;
    Module a("alpha", 1);
    a.add_slot(0, SlotRecord::basic(0x23, 16, 0, 0, 0));
    a.add_slot(1, SlotRecord::basic(0x22, 8, 0, 0, 0));
    a.add_slot(3, SlotRecord::basic(0x24, 0, 8, 0, 0));
    a.add_slot(4, SlotRecord::basic(0x30, 0, 0, 4, 4));
    a.add_slot(5, SlotRecord::wide(0x40, 0, 0, 2, 2));
    rack.add_module(std::move(a));
    Module b("beta", 2);
    b.add_slot(0, SlotRecord::full(0x25, {8, 8, 2, 2, 1, 1}));
    rack.add_module(std::move(b));
    rack.add_module(Module("gamma", 3, kKindNode));
    return rack;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

uint16_t u16_at(const Bytes& b, size_t at) {
    if (at + 2 > b.size()) {
        ADD_FAILURE() << "no u16 at " << at << " of " << b.size() << " bytes";
        return 0;
    }
    return get_u16(&b[at]);
}

uint32_t u32_at(const Bytes& b, size_t at) {
    if (at + 4 > b.size()) {
        ADD_FAILURE() << "no u32 at " << at << " of " << b.size() << " bytes";
        return 0;
    }
    return get_u32(&b[at]);
}

}  // namespace racksim::test
