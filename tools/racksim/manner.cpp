#include "manner.h"

#include "random.h"

namespace racksim {

namespace {

Manner with(void (*set)(Manner&)) {
    Manner m;
    set(m);
    return m;
}

// Keeps the drawn manners apart from the faults drawn from the same seed.
constexpr uint64_t kMannerStream = 0x6D616E6E65720000ull;  // "manner"

// One in this many drawn manners is late, or has a late final reply: lateness costs a host's
// waits, the forms cost nothing.
constexpr uint64_t kLateOneIn = 8;

}  // namespace

const std::vector<NamedManner>& named_manners() {
    static const std::vector<NamedManner> manners = {
        {"plain", "every reply as its function serves it", {}},
        {"ack-code", "acknowledgements without echo: function code, 0",
         with([](Manner& m) { m.ack = AckForm::code; })},
        {"ack-status", "acknowledgements without echo: a bare status 0",
         with([](Manner& m) { m.ack = AckForm::status; })},
        {"ack-final", "acknowledgements without echo: the final reply's bytes",
         with([](Manner& m) { m.ack = AckForm::final; })},
        {"ack-empty", "acknowledgements without echo: no payload",
         with([](Manner& m) { m.ack = AckForm::empty; })},
        {"pad-even", "a zero byte after the fields read: even lengths",
         with([](Manner& m) { m.padding = Padding::even; })},
        {"pad-fixed", "zero bytes after the fields read, to 64 bytes",
         with([](Manner& m) { m.padding = Padding::fixed; })},
        {"pad-random", "1 to 16 random bytes after the fields read",
         with([](Manner& m) { m.padding = Padding::random; })},
        {"bare-refusals", "a refusal is its status word alone",
         with([](Manner& m) { m.refusal = RefusalForm::status_alone; })},
        {"crc-always", "a CRC on every reply, whatever the rack says",
         with([](Manner& m) { m.crc = CrcForm::always; })},
        {"crc-never", "no CRC on any reply (the field is 0)",
         with([](Manner& m) { m.crc = CrcForm::never; })},
        {"late", "every reply 40 ms late", with([](Manner& m) { m.late_ms = kDefaultLateMs; })},
        {"late-final", "final replies after acknowledgements 1000 ms late",
         with([](Manner& m) { m.final_late_ms = kDefaultFinalLateMs; })},
        {"previous-first", "a copy of the previous reply before each answer",
         with([](Manner& m) { m.previous_first = true; })},
        {"refuse-before-ack", "controller requests refused in place of the ack",
         with([](Manner& m) { m.controller_refusal = ControllerRefusal::before_ack; })},
        {"refuse-after-ack", "controller requests acknowledged, then refused",
         with([](Manner& m) { m.controller_refusal = ControllerRefusal::after_ack; })},
        {"unread-empty", "replies only waited for carry no payload",
         with([](Manner& m) { m.unread_empty = true; })},
    };
    return manners;
}

std::optional<MannerSetting> manner_named(const std::string& name) {
    if (name == kRandomManner) return random_manner();
    for (const NamedManner& n : named_manners()) {
        if (name == n.name) return MannerSetting{n.manner, false, 0};
    }
    return std::nullopt;
}

std::string manner_names() {
    std::string s;
    for (const NamedManner& n : named_manners()) s += std::string(n.name) + ", ";
    return s + kRandomManner;
}

MannerSetting random_manner(uint32_t late_ms, uint32_t final_late_ms) {
    MannerSetting s;
    s.random = true;
    s.manner.late_ms = late_ms;
    s.manner.final_late_ms = final_late_ms;
    return s;
}

void start_manner(const MannerSetting& s, uint64_t faults_seed, MannerState& state) {
    state.rng = (s.seed ? s.seed : faults_seed) ^ kMannerStream;
    state.crc = s.random ? static_cast<CrcForm>(next_random(state.rng) % 3) : s.manner.crc;
}

Manner next_manner(const MannerSetting& s, MannerState& state) {
    if (!s.random) return s.manner;
    // Two numbers per request, whatever is drawn, so that a test can replay the draws.
    uint64_t r = next_random(state.rng);
    auto take = [&r](uint64_t n) {
        const uint64_t v = r % n;
        r /= n;
        return v;
    };
    Manner m;
    m.ack = static_cast<AckForm>(take(5));
    m.padding = static_cast<Padding>(take(4));
    m.pad_to = s.manner.pad_to;
    m.refusal = static_cast<RefusalForm>(take(2));
    m.crc = state.crc;
    m.controller_refusal = static_cast<ControllerRefusal>(take(3));
    m.unread_empty = take(2) == 1;
    m.previous_first = take(2) == 1;
    m.late_ms = take(kLateOneIn) == 0 ? s.manner.late_ms : 0;
    m.final_late_ms = take(kLateOneIn) == 0 ? s.manner.final_late_ms : 0;
    m.salt = next_random(state.rng);
    return m;
}

std::string manner_note(const Manner& m) {
    static const char* const kAck[] = {"", "ack code", "ack status", "ack = final", "ack empty"};
    static const char* const kPad[] = {"", "padded even", "padded", "random padding"};
    static const char* const kCrc[] = {"", "CRC", "no CRC"};
    static const char* const kController[] = {"", "refusal before ack", "refusal after ack"};
    std::string s;
    auto add = [&](const std::string& what) {
        if (!what.empty()) s += (s.empty() ? "" : ", ") + what;
    };
    add(kAck[static_cast<int>(m.ack)]);
    add(kPad[static_cast<int>(m.padding)]);
    if (m.refusal == RefusalForm::status_alone) add("bare refusal");
    add(kCrc[static_cast<int>(m.crc)]);
    add(kController[static_cast<int>(m.controller_refusal)]);
    if (m.unread_empty) add("unread empty");
    if (m.previous_first) add("previous first");
    if (m.late_ms) add("late " + std::to_string(m.late_ms) + " ms");
    if (m.final_late_ms) add("final late " + std::to_string(m.final_late_ms) + " ms");
    return s;
}

}  // namespace racksim
