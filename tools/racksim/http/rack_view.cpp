#include "http/rack_view.h"

#include <cstdio>
#include <string>

#include "describe.h"
#include "vocab/functions.h"

namespace racksim {

namespace {

using json = OrderedJson;
namespace vfn = zeb::vocab::fn;

std::string code_key(uint8_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

json bits_view(const Bytes& bits, size_t count) {
    json out = json::array();
    for (size_t i = 0; i < count; ++i) out.push_back(SlotImage::bit(bits, i) ? 1 : 0);
    return out;
}

// One side of a slot's image: {"bits": [...], "words": [...], "dwords": [...]}.
json side_view(const Slot& s, bool outputs) {
    const IoCounts& c = s.counts();
    const SlotImage& io = s.io;
    return outputs ? json{{"bits", bits_view(io.bit_out, c.bit_out)},
                          {"words", io.word_out},
                          {"dwords", io.dword_out}}
                   : json{{"bits", bits_view(io.bit_in, c.bit_in)},
                          {"words", io.word_in},
                          {"dwords", io.dword_in}};
}

json slot_view(int n, const Slot& s) {
    json out = {{"slot", n},
                {"record", {{"kind", s.record.kind}, {"id", s.record.ident}}},
                {"counter", s.behaviour.counter},
                {"inputs", side_view(s, false)},
                {"outputs", side_view(s, true)}};
    if (s.behaviour.wired_from >= 0) out["wired_from"] = s.behaviour.wired_from;
    return out;
}

json tally_view(const std::map<uint8_t, FaultTally>& by_function) {
    FaultTally t;
    for (const auto& [code, f] : by_function) {
        t.late_answers += f.late_answers;
        t.late += f.late;
        t.corrupted += f.corrupted;
        t.duplicated += f.duplicated;
        t.strays += f.strays;
        t.previous += f.previous;
    }
    return {{"late_answers", t.late_answers}, {"late", t.late},     {"corrupted", t.corrupted},
            {"duplicated", t.duplicated},     {"strays", t.strays}, {"previous", t.previous}};
}

json by_code(const std::map<uint8_t, uint64_t>& counts) {
    json out = json::object();
    for (const auto& [code, n] : counts) out[code_key(code)] = n;
    return out;
}

json counters_view(const Counters& c) {
    return {{"requests", c.requests},
            {"answered", c.answered},
            {"dropped", c.dropped},
            {"output_writes", output_writes(c)},
            {"by_function", by_code(c.by_function)},
            {"dropped_by_function", by_code(c.dropped_by_function)},
            {"random_faults", tally_view(c.faults_by_function)}};
}

}  // namespace

uint64_t output_writes(const Counters& c) {
    uint64_t n = 0;
    for (uint8_t code : {vfn::kWriteIo, vfn::kWriteIoNoRead}) {
        if (auto it = c.by_function.find(code); it != c.by_function.end()) n += it->second;
    }
    return n;
}

json faults_view(const Faults& f) {
    const Faults none;
    json out = json::object();
    auto put = [&](const char* key, const auto& value, const auto& fallback) {
        if (value != fallback) out[key] = value;
    };
    put("drop_first", f.drop_first, none.drop_first);
    put("drop_fraction", f.drop_fraction, none.drop_fraction);
    put("seed", f.seed, none.seed);
    put("delay_ms", f.delay_ms, none.delay_ms);
    put("final_delay_ms", f.final_delay_ms, none.final_delay_ms);
    put("corrupt_crc", f.corrupt_crc, none.corrupt_crc);
    put("stray_before_reply", f.stray_before_reply, none.stray_before_reply);
    put("answer_twice", f.answer_twice, none.answer_twice);
    put("magic_zqq", f.magic_zqq, none.magic_zqq);
    put("broadcast_only", f.broadcast_only, none.broadcast_only);
    put("refuse_status", f.refuse_status, none.refuse_status);
    put("late_fraction", f.late_fraction, none.late_fraction);
    put("late_ms", f.late_ms, none.late_ms);
    put("corrupt_fraction", f.corrupt_fraction, none.corrupt_fraction);
    put("duplicate_fraction", f.duplicate_fraction, none.duplicate_fraction);
    put("stray_fraction", f.stray_fraction, none.stray_fraction);
    return out;
}

json faults_by_function_view(const std::map<uint8_t, Faults>& by_function) {
    json out = json::object();
    for (const auto& [code, f] : by_function) out[code_key(code)] = faults_view(f);
    return out;
}

json manner_view(const MannerSetting& s) {
    std::string name = "custom";
    if (s.random) {
        name = kRandomManner;
    } else {
        for (const NamedManner& n : named_manners()) {
            if (s.manner == n.manner) name = n.name;
        }
    }
    return {{"name", name}, {"note", manner_note(s.manner)}};
}

json image_view(const Module& m, bool outputs) {
    json slots = json::array();
    for (const auto& [n, slot] : m.base.slots) {
        const IoCounts& c = slot.counts();
        const bool any = outputs ? c.any_outputs() : c.any_inputs();
        if (!any) continue;
        json s = side_view(slot, outputs);
        s["slot"] = n;
        slots.push_back(std::move(s));
    }
    json out = {{"module", m.name()}, {"slots", std::move(slots)}};
    if (outputs) out["writes"] = output_writes(m.counters);
    return out;
}

ModuleState module_state(const Module& m, size_t index) {
    ModuleState s;
    s.index = index;
    s.name = m.name();
    s.number = m.number();
    s.identity.kind = m.identity.kind;
    s.identity.ip = m.identity.ip;
    s.identity.hw = m.identity.hw;
    s.controller_module = m.controller_os.enabled();
    s.base_slots = m.base.base_slots;
    s.slots = m.base.slots;
    s.faults = m.faults;
    s.faults_by_function = m.faults_by_function;
    s.manner = m.manner;
    s.counters = m.counters;
    return s;
}

RackState rack_state(const Rack& rack) {
    RackState r;
    r.settings = rack.settings();
    r.bad_frames = rack.bad_frames();
    r.logging = rack.logging();
    r.modules.reserve(rack.modules().size());
    for (const Module& m : rack.modules()) r.modules.push_back(module_state(m, r.modules.size()));
    return r;
}

json module_view(const ModuleState& m) {
    json slots = json::array();
    for (const auto& [n, slot] : m.slots) slots.push_back(slot_view(n, slot));
    return {{"index", m.index},
            {"name", m.name},
            {"number", m.number},
            {"kind", kind_text(m.identity.kind)},
            {"address", ip_text(m.identity.ip)},
            {"hardware_address", hw_text(m.identity.hw)},
            {"controller_module", m.controller_module},
            {"base_slots", m.base_slots},
            {"faults", faults_view(m.faults)},
            {"faults_by_function", faults_by_function_view(m.faults_by_function)},
            {"manner", manner_view(m.manner)},
            {"counters", counters_view(m.counters)},
            {"slots", std::move(slots)}};
}

json rack_view(const RackState& rack) {
    json modules = json::array();
    for (const ModuleState& m : rack.modules) modules.push_back(module_view(m));
    return {{"crc", rack.settings.crc},
            {"keyed", !rack.settings.key.empty()},
            {"bad_frames", rack.bad_frames},
            {"request_log", rack.logging ? "on" : "off"},
            {"modules", std::move(modules)}};
}

}  // namespace racksim
