// Reading a rack description (JSON). Every error names its place in the document.
#include "rack_json.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "byte_text.h"
#include "host_limits.h"
#include "identity.h"
#include "rack.h"
#include "remote_master.h"

namespace racksim {

namespace {

using json = nlohmann::json;

// Carries a located message out of the nested readers.
struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& path, const std::string& message) {
    throw DescriptionError(path + ": " + message);
}

std::string at(const std::string& path, const char* key) {
    return path.empty() ? key : path + "." + key;
}

std::string at(const std::string& path, size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

const json& object(const json& j, const std::string& path) {
    if (!j.is_object()) fail(path, "expected an object");
    return j;
}

const json& array(const json& j, const std::string& path) {
    if (!j.is_array()) fail(path, "expected a list");
    return j;
}

void only_keys(const json& obj, const std::string& path, std::initializer_list<const char*> keys,
               const std::string& context = "") {
    for (const auto& [key, value] : obj.items()) {
        bool known = false;
        for (const char* k : keys) known = known || key == k;
        if (!known) fail(path, "unknown key \"" + key + "\"" + context);
    }
}

int64_t integer(const json& j, const std::string& path, int64_t lo, int64_t hi) {
    if (!j.is_number_integer()) fail(path, "expected a whole number");
    const bool too_big = j.is_number_unsigned() && j.get<uint64_t>() > static_cast<uint64_t>(hi);
    if (too_big || j.get<int64_t>() < lo || j.get<int64_t>() > hi) {
        fail(path, "must be from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return j.get<int64_t>();
}

int64_t integer_or(const json& obj, const char* key, const std::string& path, int64_t lo,
                   int64_t hi, int64_t fallback) {
    return obj.contains(key) ? integer(obj[key], at(path, key), lo, hi) : fallback;
}

uint8_t count_or_zero(const json& obj, const char* key, const std::string& path) {
    return static_cast<uint8_t>(integer_or(obj, key, path, 0, 255, 0));
}

bool boolean_or(const json& obj, const char* key, const std::string& path, bool fallback) {
    if (!obj.contains(key)) return fallback;
    if (!obj[key].is_boolean()) fail(at(path, key), "expected true or false");
    return obj[key].get<bool>();
}

std::string text_or(const json& obj, const char* key, const std::string& path,
                    const std::string& fallback) {
    if (!obj.contains(key)) return fallback;
    if (!obj[key].is_string()) fail(at(path, key), "expected text");
    return obj[key].get<std::string>();
}

Bytes text_bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes byte_block(const json& j, const std::string& path, size_t min, size_t max) {
    array(j, path);
    if (j.size() < min || j.size() > max) {
        fail(path, "must hold " + std::to_string(min) + " to " + std::to_string(max) + " bytes");
    }
    Bytes b;
    for (size_t i = 0; i < j.size(); ++i) {
        b.push_back(static_cast<uint8_t>(integer(j[i], at(path, i), 0, 255)));
    }
    return b;
}

SlotRecord read_record(const json& j, const std::string& path) {
    object(j, path);
    if (!j.contains("kind")) fail(path, "missing \"kind\"");
    const auto kind = integer(j["kind"], at(path, "kind"), 0, 255);
    const auto ident = static_cast<uint8_t>(integer_or(j, "id", path, 0, 255, 0));
    const std::string context = " for a record of kind " + std::to_string(kind);
    auto c = [&](const char* key) { return count_or_zero(j, key, path); };
    switch (kind) {
        case 1:
            only_keys(j, path, {"kind", "id", "bit_in", "bit_out", "word_in", "word_out"}, context);
            return SlotRecord::basic(ident, c("bit_in"), c("bit_out"), c("word_in"), c("word_out"));
        case 3:
            only_keys(j, path, {"kind", "id", "bit_in", "bit_out", "dword_in", "dword_out"},
                      context);
            return SlotRecord::wide(ident, c("bit_in"), c("bit_out"), c("dword_in"),
                                    c("dword_out"));
        case 5:
            only_keys(
                j, path,
                {"kind", "id", "bit_in", "bit_out", "word_in", "word_out", "dword_in", "dword_out"},
                context);
            return SlotRecord::full(ident, {c("bit_in"), c("bit_out"), c("word_in"), c("word_out"),
                                            c("dword_in"), c("dword_out")});
        case 7: {
            only_keys(j, path, {"kind", "id", "pairs"}, context);
            std::vector<std::pair<uint8_t, uint8_t>> pairs;
            if (j.contains("pairs")) {
                const std::string p = at(path, "pairs");
                const json& list = array(j["pairs"], p);
                if (list.size() > kMaxRecordPairs) {
                    fail(p, "at most " + std::to_string(kMaxRecordPairs) + " pairs");
                }
                for (size_t i = 0; i < list.size(); ++i) {
                    const std::string pi = at(p, i);
                    if (!list[i].is_array() || list[i].size() != 2) {
                        fail(pi, "expected [item type, count]");
                    }
                    pairs.emplace_back(static_cast<uint8_t>(integer(list[i][0], pi, 0, 255)),
                                       static_cast<uint8_t>(integer(list[i][1], pi, 0, 255)));
                }
            }
            return SlotRecord::paired(ident, std::move(pairs));
        }
        case 255:
            only_keys(j, path, {"kind", "id"}, context);
            return SlotRecord::no_io(ident);
        default:
            fail(path, "unknown record kind " + std::to_string(kind));
    }
}

// Fills bits from a list of 0/1 values or from a whole number used as a mask.
void read_bits(const json& j, const std::string& path, size_t count, Bytes& bits) {
    if (j.is_array()) {
        if (j.size() > count) {
            fail(path, std::to_string(j.size()) + " values for " + std::to_string(count) + " bits");
        }
        for (size_t i = 0; i < j.size(); ++i) {
            SlotImage::set_bit(bits, i, integer(j[i], at(path, i), 0, 1) != 0);
        }
        return;
    }
    if (!j.is_number_unsigned()) fail(path, "expected a list of 0 and 1 or a bit mask");
    const auto mask = j.get<uint64_t>();
    for (size_t i = 0; i < 64; ++i) {
        if (!((mask >> i) & 1)) continue;
        if (i >= count)
            fail(path,
                 "mask sets bit " + std::to_string(i) + " of " + std::to_string(count) + " bits");
        SlotImage::set_bit(bits, i, true);
    }
}

template <class T>
void read_values(const json& j, const std::string& path, std::vector<T>& values) {
    array(j, path);
    if (j.size() > values.size()) {
        fail(path,
             std::to_string(j.size()) + " values for " + std::to_string(values.size()) + " points");
    }
    for (size_t i = 0; i < j.size(); ++i) {
        values[i] = static_cast<T>(integer(j[i], at(path, i), 0, std::numeric_limits<T>::max()));
    }
}

void read_image(const json& j, const std::string& path, size_t bit_count, Bytes& bits,
                std::vector<uint16_t>& words, std::vector<uint32_t>& dwords) {
    object(j, path);
    only_keys(j, path, {"bits", "words", "dwords"});
    if (j.contains("bits")) read_bits(j["bits"], at(path, "bits"), bit_count, bits);
    if (j.contains("words")) read_values(j["words"], at(path, "words"), words);
    if (j.contains("dwords")) read_values(j["dwords"], at(path, "dwords"), dwords);
}

void read_slots(const json& list, const std::string& path, Module& m) {
    array(list, path);
    std::map<int, std::string> wired;  // slot -> path of its wired_from
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string p = at(path, i);
        const json& j = object(list[i], p);
        only_keys(j, p, {"slot", "record", "inputs", "outputs", "counter", "wired_from"});
        if (!j.contains("slot")) fail(p, "missing \"slot\"");
        if (!j.contains("record")) fail(p, "missing \"record\"");
        const int n = static_cast<int>(integer(j["slot"], at(p, "slot"), 0, m.base.base_slots - 1));
        if (m.base.slots.count(n)) {
            fail(at(p, "slot"), "slot " + std::to_string(n) + " given twice");
        }
        Slot& slot = m.add_slot(n, read_record(j["record"], at(p, "record")));
        const IoCounts& c = slot.counts();
        if (j.contains("inputs")) {
            read_image(j["inputs"], at(p, "inputs"), c.bit_in, slot.io.bit_in, slot.io.word_in,
                       slot.io.dword_in);
        }
        if (j.contains("outputs")) {
            read_image(j["outputs"], at(p, "outputs"), c.bit_out, slot.io.bit_out, slot.io.word_out,
                       slot.io.dword_out);
        }
        slot.behaviour.counter = boolean_or(j, "counter", p, false);
        if (slot.behaviour.counter && c.word_in == 0 && c.dword_in == 0) {
            fail(at(p, "counter"), "needs a word or 32-bit input");
        }
        if (j.contains("wired_from")) {
            slot.behaviour.wired_from =
                static_cast<int>(integer(j["wired_from"], at(p, "wired_from"), 0, 255));
            wired[n] = at(p, "wired_from");
        }
    }
    for (const auto& [n, p] : wired) {
        const int from = m.slot(n).behaviour.wired_from;
        auto src = m.base.slots.find(from);
        if (src == m.base.slots.end())
            fail(p, "no slot " + std::to_string(from) + " in this module");
        if (!src->second.counts().any_outputs()) {
            fail(p, "slot " + std::to_string(from) + " has no outputs");
        }
    }
}

// ---- The controller, memory, shared RAM and serial ports behind a module ----

// Bytes given as a list of numbers or as text.
Bytes contents(const json& j, const std::string& path, size_t max) {
    if (!j.is_string()) return byte_block(j, path, 0, max);
    const auto text = j.get<std::string>();
    if (text.size() > max) fail(path, "must hold at most " + std::to_string(max) + " bytes");
    return Bytes(text.begin(), text.end());
}

// A block of `size` bytes, starting with what "contents" gives.
Bytes sized_block(const json& j, const char* contents_key, size_t size, const std::string& path) {
    Bytes b = j.contains(contents_key) ? contents(j[contents_key], at(path, contents_key), size)
                                       : Bytes{};
    b.resize(size, 0);
    return b;
}

Controller read_controller(const json& j, const std::string& path) {
    object(j, path);
    only_keys(j, path, {"present", "areas", "kseq"});
    Controller c = Controller::standard();
    c.present = boolean_or(j, "present", path, true);
    if (j.contains("areas")) {
        const std::string p = at(path, "areas");
        const json& list = array(j["areas"], p);
        c.areas.clear();
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string pi = at(p, i);
            const json& a = object(list[i], pi);
            only_keys(a, pi, {"type", "name", "size", "writable", "contents"});
            if (!a.contains("type")) fail(pi, "missing \"type\"");
            if (!a.contains("size")) fail(pi, "missing \"size\"");
            const auto type = static_cast<uint8_t>(integer(a["type"], at(pi, "type"), 0, 255));
            if (c.areas.count(type)) {
                fail(at(pi, "type"), "data type " + std::to_string(type) + " given twice");
            }
            const auto size = static_cast<size_t>(
                integer(a["size"], at(pi, "size"), 1, static_cast<int64_t>(kControllerAreaMax)));
            c.areas[type] = {text_or(a, "name", pi, ""), sized_block(a, "contents", size, pi),
                             boolean_or(a, "writable", pi, true)};
        }
    }
    if (j.contains("kseq")) {
        const std::string p = at(path, "kseq");
        const json& list = array(j["kseq"], p);
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string pi = at(p, i);
            const json& k = object(list[i], pi);
            only_keys(k, pi, {"message", "answer"});
            if (!k.contains("message")) fail(pi, "missing \"message\"");
            if (!k.contains("answer")) fail(pi, "missing \"answer\"");
            c.scripts.push_back({contents(k["message"], at(pi, "message"), kKseqMessageMax),
                                 contents(k["answer"], at(pi, "answer"), kKseqAnswerMax)});
        }
    }
    return c;
}

Memory read_memory(const json& j, const std::string& path) {
    const json& list = array(j, path);
    if (list.size() > kMaxMemoryAreas) {
        fail(path, "at most " + std::to_string(kMaxMemoryAreas) + " areas (what a listing holds)");
    }
    Memory m;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string pi = at(path, i);
        const json& a = object(list[i], pi);
        only_keys(a, pi, {"type", "name", "start", "size", "writable", "contents"});
        if (!a.contains("type")) fail(pi, "missing \"type\"");
        if (!a.contains("size")) fail(pi, "missing \"size\"");
        MemoryArea area;
        area.type = static_cast<uint16_t>(integer(a["type"], at(pi, "type"), 0, 0xFFFF));
        area.start = static_cast<uint32_t>(integer_or(a, "start", pi, 0, UINT32_MAX, 0));
        const auto size = static_cast<size_t>(
            integer(a["size"], at(pi, "size"), 1, static_cast<int64_t>(kMaxMemoryAreaSize)));
        if (area.start + uint64_t{size} > uint64_t{1} << 32) {
            fail(at(pi, "size"), "the area would end past address 0xFFFFFFFF");
        }
        area.name = text_or(a, "name", pi, "");
        if (area.name.size() > kMemoryNameSize) {
            fail(at(pi, "name"), "at most " + std::to_string(kMemoryNameSize) + " characters");
        }
        area.writable = boolean_or(a, "writable", pi, true);
        area.data = sized_block(a, "contents", size, pi);
        for (size_t k = 0; k < m.areas.size(); ++k) {
            const MemoryArea& other = m.areas[k];
            if (other.type == area.type && area.start < other.end() && other.start < area.end()) {
                fail(pi, "overlaps " + at(path, k) + " of the same type");
            }
        }
        m.areas.push_back(std::move(area));
    }
    return m;
}

SharedRam read_shared_ram(const json& j, const std::string& path) {
    const json& list = array(j, path);
    SharedRam s;
    const auto window_max = static_cast<int64_t>(kSharedRamWindowMax);
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string pi = at(path, i);
        const json& r = object(list[i], pi);
        only_keys(r, pi, {"base", "slot", "size", "flagged_size", "contents", "flagged_contents"});
        const SharedRamKey key{static_cast<uint16_t>(integer_or(r, "base", pi, 0, 0xFFFF, 0)),
                               static_cast<uint16_t>(integer_or(r, "slot", pi, 0, 0xFFFF, 0))};
        if (s.regions.count(key)) {
            fail(pi, "base " + std::to_string(key.base) + " slot " + std::to_string(key.slot) +
                         " given twice");
        }
        const auto size = static_cast<size_t>(integer_or(r, "size", pi, 0, window_max, 1024));
        const auto flagged =
            static_cast<size_t>(integer_or(r, "flagged_size", pi, 0, window_max, 1024));
        SharedRamRegion& region = s.regions[key];
        region.plain = sized_block(r, "contents", size, pi);
        region.flagged = sized_block(r, "flagged_contents", flagged, pi);
    }
    return s;
}

RemoteMasterSettings read_remote_master(const json& j, const std::string& path) {
    object(j, path);
    only_keys(j, path, {"base", "slot", "busy_polls"});
    RemoteMasterSettings r;
    r.base = static_cast<uint16_t>(integer_or(j, "base", path, 0, 0xFFFF, 0));
    r.slot = static_cast<uint16_t>(integer_or(j, "slot", path, 0, 0xFFFF, 0));
    r.busy_polls = static_cast<uint32_t>(integer_or(j, "busy_polls", path, 0, 1000, 0));
    return r;
}

SerialPorts read_serial(const json& j, const std::string& path) {
    object(j, path);
    only_keys(j, path, {"default_port", "ports"});
    SerialPorts s = SerialPorts::standard();
    if (j.contains("ports")) {
        const std::string p = at(path, "ports");
        const json& list = array(j["ports"], p);
        s.ports.clear();
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string pi = at(p, i);
            const json& port = object(list[i], pi);
            only_keys(port, pi,
                      {"port", "baud", "data_bits", "parity", "stop_bits", "flow", "received"});
            if (!port.contains("port")) fail(pi, "missing \"port\"");
            const auto n = static_cast<int>(integer(port["port"], at(pi, "port"), 1, 256));
            if (s.ports.count(n))
                fail(at(pi, "port"), "port " + std::to_string(n) + " given twice");
            const LineSetup setup = line_setup(
                static_cast<uint32_t>(integer_or(port, "baud", pi, kMinBaud, kMaxBaud, 9600)),
                static_cast<uint8_t>(integer_or(port, "data_bits", pi, 5, 8, 8)),
                static_cast<uint8_t>(integer_or(port, "parity", pi, 0, 4, 0)),
                static_cast<uint8_t>(integer_or(port, "stop_bits", pi, 0, 2, 0)),
                static_cast<uint8_t>(integer_or(port, "flow", pi, 0, 2, 0)));
            SerialPort& sp = s.ports[n];
            sp.set_setup(0, setup);
            if (port.contains("received")) {
                const Bytes b = contents(port["received"], at(pi, "received"), kSerialQueueSize);
                sp.deliver(b.data(), b.size());
            }
        }
    }
    s.default_port = static_cast<int>(integer_or(j, "default_port", path, 1, 256, 1));
    if (!s.ports.empty() && !s.ports.count(s.default_port)) {
        fail(at(path, "default_port"), "no port " + std::to_string(s.default_port));
    }
    return s;
}

// Reads faults over `f`: what the object gives replaces, the rest stays.
Faults read_faults(const json& j, const std::string& path, Faults f = {}) {
    object(j, path);
    only_keys(
        j, path,
        {"drop_first", "drop_fraction", "seed", "delay_ms", "final_delay_ms", "corrupt_crc",
         "stray_before_reply", "answer_twice", "magic_zqq", "broadcast_only", "refuse_status"});
    const int64_t kMaxDelay = 600000;
    f.drop_first =
        static_cast<uint32_t>(integer_or(j, "drop_first", path, 0, UINT32_MAX, f.drop_first));
    if (j.contains("drop_fraction")) {
        const json& d = j["drop_fraction"];
        if (!d.is_number() || d.get<double>() < 0 || d.get<double>() > 1) {
            fail(at(path, "drop_fraction"), "must be a number from 0 to 1");
        }
        f.drop_fraction = d.get<double>();
    }
    f.seed = static_cast<uint64_t>(
        integer_or(j, "seed", path, 0, INT64_MAX, static_cast<int64_t>(f.seed)));
    f.delay_ms = static_cast<uint32_t>(integer_or(j, "delay_ms", path, 0, kMaxDelay, f.delay_ms));
    f.final_delay_ms = static_cast<uint32_t>(
        integer_or(j, "final_delay_ms", path, 0, kMaxDelay, f.final_delay_ms));
    f.corrupt_crc = boolean_or(j, "corrupt_crc", path, f.corrupt_crc);
    f.stray_before_reply = boolean_or(j, "stray_before_reply", path, f.stray_before_reply);
    f.answer_twice = boolean_or(j, "answer_twice", path, f.answer_twice);
    f.magic_zqq = boolean_or(j, "magic_zqq", path, f.magic_zqq);
    f.broadcast_only = boolean_or(j, "broadcast_only", path, f.broadcast_only);
    f.refuse_status =
        static_cast<uint16_t>(integer_or(j, "refuse_status", path, 0, 0xFFFF, f.refuse_status));
    return f;
}

// One of `names` (in the order of the enum's values), as the enum.
template <class E, size_t N>
E choice(const json& obj, const char* key, const std::string& path, const char* const (&names)[N],
         E fallback) {
    if (!obj.contains(key)) return fallback;
    const std::string p = at(path, key);
    std::string listed;
    for (size_t i = 0; i < N; ++i) {
        if (obj[key].is_string() && obj[key].get<std::string>() == names[i]) {
            return static_cast<E>(i);
        }
        listed += (i ? ", " : "") + std::string(names[i]);
    }
    fail(p, "expected one of " + listed);
}

// A manner by name ("ack-status", "random"), or an object of choices over "plain".
MannerSetting read_manner(const json& j, const std::string& path) {
    if (j.is_string()) {
        const std::optional<MannerSetting> s = manner_named(j.get<std::string>());
        if (!s)
            fail(path, "unknown manner \"" + j.get<std::string>() + "\" (" + manner_names() + ")");
        return *s;
    }
    if (!j.is_object()) fail(path, "expected a manner's name or an object of choices");
    only_keys(j, path,
              {"ack", "padding", "pad_to", "refusal", "crc", "controller_refusal", "unread",
               "previous_first", "late_ms", "final_late_ms", "random", "seed"});
    static const char* const kAck[] = {"served", "code", "status", "final", "empty"};
    static const char* const kPadding[] = {"none", "even", "fixed", "random"};
    static const char* const kRefusal[] = {"served", "status_alone"};
    static const char* const kCrc[] = {"rack", "always", "never"};
    static const char* const kController[] = {"served", "before_ack", "after_ack"};
    static const char* const kUnread[] = {"served", "empty"};
    const int64_t kMaxDelay = 600000;
    MannerSetting s;
    s.random = boolean_or(j, "random", path, false);
    Manner& m = s.manner;
    if (s.random) m = random_manner().manner;
    m.ack = choice(j, "ack", path, kAck, m.ack);
    m.padding = choice(j, "padding", path, kPadding, m.padding);
    m.pad_to = static_cast<uint16_t>(
        integer_or(j, "pad_to", path, 0, capacity::kSmallestReply - kHeaderSize, m.pad_to));
    m.refusal = choice(j, "refusal", path, kRefusal, m.refusal);
    m.crc = choice(j, "crc", path, kCrc, m.crc);
    m.controller_refusal = choice(j, "controller_refusal", path, kController, m.controller_refusal);
    m.unread_empty = choice(j, "unread", path, kUnread, m.unread_empty ? 1 : 0) == 1;
    m.previous_first = boolean_or(j, "previous_first", path, m.previous_first);
    m.late_ms = static_cast<uint32_t>(integer_or(j, "late_ms", path, 0, kMaxDelay, m.late_ms));
    m.final_late_ms =
        static_cast<uint32_t>(integer_or(j, "final_late_ms", path, 0, kMaxDelay, m.final_late_ms));
    s.seed = static_cast<uint64_t>(integer_or(j, "seed", path, 0, INT64_MAX, 0));
    return s;
}

// A key written as a decimal number or as 0x and hex digits, from 0 to `max`.
bool parse_key_number(const std::string& text, uint32_t max, uint32_t* value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t first = hex ? 2 : 0;
    if (text.size() <= first || text.size() - first > 5) return false;
    uint32_t v = 0;
    for (size_t i = first; i < text.size(); ++i) {
        const char c = text[i];
        uint32_t d;
        if (c >= '0' && c <= '9') {
            d = static_cast<uint32_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            d = static_cast<uint32_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            d = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        v = v * (hex ? 16 : 10) + d;
    }
    if (v > max) return false;
    *value = v;
    return true;
}

bool parse_function_code(const std::string& text, uint8_t* code) {
    uint32_t v = 0;
    if (!parse_key_number(text, 0xFF, &v)) return false;
    *code = static_cast<uint8_t>(v);
    return true;
}

// A block of bytes: text, or {"hex": "01 02 ..."} where the hex may also be a list of strings
// that follow on from each other.
Bytes byte_value(const json& j, const std::string& path, size_t max) {
    Bytes b;
    if (j.is_string()) {
        const auto& text = j.get_ref<const std::string&>();
        b.assign(text.begin(), text.end());
    } else if (j.is_object() && j.size() == 1 && j.contains("hex")) {
        const std::string p = at(path, "hex");
        const json& hex = j["hex"];
        std::string why;
        auto read = [&](const json& part, const std::string& where) {
            if (!part.is_string()) fail(where, "expected hex digits as text");
            if (!parse_hex(part.get<std::string>(), &b, &why)) fail(where, why);
        };
        if (hex.is_array()) {
            for (size_t i = 0; i < hex.size(); ++i) read(hex[i], at(p, i));
        } else {
            read(hex, p);
        }
    } else {
        fail(path, "expected text or {\"hex\": \"01 02 ...\"}");
    }
    if (b.size() > max) {
        fail(path,
             std::to_string(b.size()) + " bytes; a host reads at most " + std::to_string(max));
    }
    return b;
}

void put_record(Module& m, uint16_t type, Bytes record, const std::string& path) {
    if (m.setup.put(type, std::move(record)) == SetupStore::Put::full) {
        fail(path, "more than " + std::to_string(kMaxSetupTypes) +
                       " setup records; a host lists at most that many");
    }
}

// {"<type>": bytes, ...}. The name and number may be given here instead of as "name" and
// "number", not in both places.
void read_setup(const json& j, const std::string& path, const json& module, Module& m) {
    object(j, path);
    for (const auto& [key, value] : j.items()) {
        uint32_t type = 0;
        if (!parse_key_number(key, 0xFFFF, &type)) {
            fail(path, "\"" + key + "\" is not a setup type (0 to 65535, or 0x0000 to 0xFFFF)");
        }
        const std::string p = at(path, key.c_str());
        if (m.setup.find(static_cast<uint16_t>(type))) {
            fail(p, "setup type " + std::to_string(type) + " given twice");
        }
        if (type == kSetupName && module.contains("name")) {
            fail(p, "the name record, already given as \"name\"");
        }
        if (type == kSetupNumber && module.contains("number")) {
            fail(p, "the number record, already given as \"number\"");
        }
        put_record(m, static_cast<uint16_t>(type), byte_value(value, p, kMaxSetupRecord), p);
    }
}

// {"<function code>": {faults}, ...}: each entry starts from the module's faults.
std::map<uint8_t, Faults> read_faults_by_function(const json& j, const std::string& path,
                                                  const Faults& module_faults) {
    object(j, path);
    std::map<uint8_t, Faults> out;
    for (const auto& [key, value] : j.items()) {
        uint8_t code = 0;
        if (!parse_function_code(key, &code)) {
            fail(path, "\"" + key + "\" is not a function code (0 to 255, or 0x00 to 0xFF)");
        }
        if (out.count(code)) fail(path, "function code " + std::to_string(code) + " given twice");
        out.emplace(code, read_faults(value, at(path, key.c_str()), module_faults));
    }
    return out;
}

uint8_t read_kind(const json& j, const std::string& path) {
    if (j.is_string()) {
        const auto s = j.get<std::string>();
        if (s == "Qx-RIO") return kKindQxRio;
        if (s == "node") return kKindNode;
        fail(path, "unknown kind \"" + s + "\" (Qx-RIO, node or a number)");
    }
    return static_cast<uint8_t>(integer(j, path, 0, 255));
}

// A controller module's root, relative ones taken from `base_dir`. It may be missing (RackSim
// makes it at start-up) but no file.
std::string read_controller_root(const json& j, const std::string& path,
                                 const std::string& base_dir) {
    if (!j.is_string() || j.get<std::string>().empty() ||
        j.get<std::string>().find('\0') != std::string::npos) {
        fail(path, "expected a folder name");
    }
    namespace fs = std::filesystem;
    const fs::path given(j.get<std::string>());
    std::error_code ec;
    fs::path dir =
        given.is_absolute() ? given : fs::path(base_dir.empty() ? "." : base_dir) / given;
    dir = fs::absolute(dir, ec).lexically_normal();
    if (ec) fail(path, "no folder " + dir.string());
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
        fail(path, dir.string() + " is no folder");
    return dir.string();
}

Module read_module(const json& j, const std::string& path, size_t index,
                   const std::string& base_dir) {
    object(j, path);
    only_keys(j, path, {"name",          "number",           "kind",
                        "address",       "hardware_address", "base_slots",
                        "slots",         "version_block",    "support_block",
                        "device_def",    "faults",           "faults_by_function",
                        "setup",         "config",           "controller",
                        "memory",        "shared_ram",       "serial",
                        "remote_master", "controller_root",  "manner"});
    Module m;
    Identity& id = m.identity;
    if (j.contains("setup")) read_setup(j["setup"], at(path, "setup"), j, m);
    // "name": null and "number": null say that the module holds no such record.
    if (!j.contains("name") && !m.setup.find(kSetupName)) {
        put_record(m, kSetupName, text_bytes("module" + std::to_string(index + 1)), path);
    } else if (j.contains("name") && !j["name"].is_null()) {
        const std::string name = text_or(j, "name", path, "");
        if (name.size() > 255 || name.find('\0') != std::string::npos) {
            fail(at(path, "name"), "must be at most 255 characters without a zero byte");
        }
        put_record(m, kSetupName, text_bytes(name), at(path, "name"));
    }
    if (!j.contains("number") && !m.setup.find(kSetupNumber)) {
        put_record(m, kSetupNumber, number_record(static_cast<uint32_t>(index + 1)), path);
    } else if (j.contains("number") && !j["number"].is_null()) {
        const auto number =
            static_cast<uint32_t>(integer(j["number"], at(path, "number"), INT32_MIN, UINT32_MAX));
        put_record(m, kSetupNumber, number_record(number), at(path, "number"));
    }
    if (j.contains("kind")) id.kind = read_kind(j["kind"], at(path, "kind"));
    if (j.contains("address")) {
        const std::string p = at(path, "address");
        if (!j["address"].is_string() || !parse_ip(j["address"].get<std::string>(), &id.ip)) {
            fail(p, "expected an IPv4 address such as \"127.0.0.2\"");
        }
        if (id.ip == 0 || (id.ip & 0xFF) == 0xFF || (id.ip >> 28) >= 0xE) {
            fail(p, ip_text(id.ip) + " cannot be a module's address");
        }
    }
    if (j.contains("hardware_address")) {
        const std::string p = at(path, "hardware_address");
        if (!j["hardware_address"].is_string() ||
            !parse_hw(j["hardware_address"].get<std::string>(), &id.hw) || id.hw == HwAddress{}) {
            fail(p, "expected a nonzero address such as \"02:52:53:00:00:01\"");
        }
    }
    m.base.base_slots =
        static_cast<int>(integer_or(j, "base_slots", path, 1, kMaxBaseSlots, kDefaultBaseSlots));
    if (j.contains("slots")) read_slots(j["slots"], at(path, "slots"), m);
    if (j.contains("version_block")) {
        id.version_block =
            byte_block(j["version_block"], at(path, "version_block"), 1, kMaxIdentityBlock);
    }
    if (j.contains("support_block")) {
        id.support_block =
            byte_block(j["support_block"], at(path, "support_block"), 1, kMaxIdentityBlock);
    }
    if (j.contains("device_def")) {
        id.device_def = byte_block(j["device_def"], at(path, "device_def"), 3, kMaxIdentityBlock);
    }
    if (j.contains("config"))
        m.config = byte_value(j["config"], at(path, "config"), kMaxConfigBlock);
    if (j.contains("faults")) m.faults = read_faults(j["faults"], at(path, "faults"));
    if (j.contains("manner")) m.manner = read_manner(j["manner"], at(path, "manner"));
    if (j.contains("faults_by_function")) {
        m.faults_by_function = read_faults_by_function(j["faults_by_function"],
                                                       at(path, "faults_by_function"), m.faults);
    }
    if (j.contains("controller"))
        m.controller = read_controller(j["controller"], at(path, "controller"));
    if (j.contains("memory")) m.memory = read_memory(j["memory"], at(path, "memory"));
    if (j.contains("shared_ram"))
        m.shared_ram = read_shared_ram(j["shared_ram"], at(path, "shared_ram"));
    if (j.contains("serial")) m.serial = read_serial(j["serial"], at(path, "serial"));
    if (j.contains("controller_root")) {
        m.controller_os.root =
            read_controller_root(j["controller_root"], at(path, "controller_root"), base_dir);
    }
    if (j.contains("remote_master")) {
        install_remote_master(m.shared_ram,
                              read_remote_master(j["remote_master"], at(path, "remote_master")));
    }
    return m;
}

Rack read_rack(const json& root, const std::string& base_dir) {
    object(root, "rack");
    only_keys(root, "rack", {"key", "crc", "modules"});
    Rack rack;
    rack.settings().key = text_or(root, "key", "", "");
    if (rack.settings().key.size() > 59 || rack.settings().key.find('\0') != std::string::npos) {
        fail("key", "must be at most 59 characters without a zero byte");
    }
    rack.settings().crc = boolean_or(root, "crc", "", true);
    if (!root.contains("modules")) fail("rack", "missing \"modules\"");
    const json& list = array(root["modules"], "modules");
    if (list.empty()) fail("modules", "no modules");

    std::vector<Module> modules;
    std::map<uint32_t, size_t> ips;  // explicit addresses first, so defaults avoid them
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string p = at("modules", i);
        modules.push_back(read_module(list[i], p, i, base_dir));
        const Module& m = modules.back();
        if (std::string why = installed_base_too_large(m.base.slots); !why.empty()) {
            fail(p + " (\"" + printable(m.name()) + "\")", why);
        }
        const uint32_t ip = m.identity.ip;
        if (ip == 0) continue;
        if (auto [it, fresh] = ips.emplace(ip, i); !fresh) {
            fail(at(p, "address"),
                 ip_text(ip) + " is already used by " + at("modules", it->second));
        }
    }
    uint32_t next = kFirstModuleIp;
    for (Module& m : modules) {
        if (m.identity.ip != 0) continue;
        while (ips.count(next)) ++next;
        m.identity.ip = next;
        ips.emplace(next, 0);
    }
    std::map<HwAddress, size_t> hws;
    for (size_t i = 0; i < modules.size(); ++i) {
        const HwAddress hw = modules[i].identity.hw;
        if (hw == HwAddress{}) continue;
        if (auto [it, fresh] = hws.emplace(hw, i); !fresh) {
            fail(at(at("modules", i), "hardware_address"),
                 hw_text(hw) + " is already used by " + at("modules", it->second));
        }
    }
    uint16_t serial = 1;
    for (Module& m : modules) {
        HwAddress& hw = m.identity.hw;
        if (hw != HwAddress{}) continue;
        do {
            hw = derived_hw(serial++);
        } while (hws.count(hw));
        hws.emplace(hw, 0);
    }
    for (Module& m : modules) rack.add_module(std::move(m));
    return rack;
}

}  // namespace

bool read_faults_json(const json& faults, const json* by_function, const std::string& path,
                      Faults* out, std::map<uint8_t, Faults>* by_out, std::string* error) {
    try {
        const Faults f = read_faults(faults, path);
        std::map<uint8_t, Faults> by;
        if (by_function) by = read_faults_by_function(*by_function, path + "_by_function", f);
        *out = f;
        *by_out = std::move(by);
        return true;
    } catch (const DescriptionError& e) {
        *error = e.what();
    } catch (const json::exception& e) {
        *error = e.what();
    }
    return false;
}

bool read_manner_json(const json& manner, const std::string& path, MannerSetting* out,
                      std::string* error) {
    try {
        *out = read_manner(manner, path);
        return true;
    } catch (const DescriptionError& e) {
        *error = e.what();
    } catch (const json::exception& e) {
        *error = e.what();
    }
    return false;
}

std::optional<Rack> Rack::parse(const std::string& text, std::string* error,
                                const std::string& base_dir) {
    try {
        const json root = json::parse(text, nullptr, true, /*ignore_comments=*/true);
        Rack rack = read_rack(root, base_dir);
        rack.description_ = text;
        return rack;
    } catch (const json::parse_error& e) {
        // e.what() starts with the library's own tag; keep the readable part.
        std::string what = e.what();
        const auto pos = what.find("] ");
        if (error)
            *error = "not valid JSON: " + what.substr(pos == std::string::npos ? 0 : pos + 2);
    } catch (const DescriptionError& e) {
        if (error) *error = e.what();
    } catch (const json::exception& e) {
        if (error) *error = e.what();
    }
    return std::nullopt;
}

std::optional<Rack> Rack::load(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<Rack> {
        if (error) *error = path + ": " + why;
        return std::nullopt;
    };
    // A directory opens as a stream that reads nothing; say so rather than "end of input".
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return fail("is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) return fail("read failed");
    const std::string text = contents.str();
    if (text.empty()) return fail("empty file");
    // The JSON reader stops at a NUL byte as at the end of the text.
    if (const size_t nul = text.find('\0'); nul != std::string::npos) {
        return fail("not a text file (NUL byte at offset " + std::to_string(nul) + ")");
    }
    std::string why;
    std::optional<Rack> rack =
        parse(text, &why, std::filesystem::path(path).parent_path().string());
    if (!rack) return fail(why);
    return rack;
}

}  // namespace racksim
