#include "rack.h"

#include <algorithm>
#include <cstdio>

#include "faults.h"
#include "frame.h"
#include "functions.h"
#include "reply_datagrams.h"

namespace racksim {

Rack::Rack() : clock_(std::make_shared<SteadyClock>()), files_(std::make_shared<MemoryStore>()) {}

Module& Rack::add_module(Module m) {
    Identity& id = m.identity;
    if (id.ip == 0) {
        uint32_t ip = kFirstModuleIp + static_cast<uint32_t>(modules_.size());
        while (find_ip(ip)) ++ip;
        id.ip = ip;
    }
    if (id.hw == HwAddress{}) {
        auto serial = static_cast<uint16_t>(modules_.size() + 1);
        do {
            id.hw = derived_hw(serial++);
        } while (find_hw(id.hw));
    }
    m.base.installed = m.base.slots;
    start_diagnostics(m, clock_->now_ms());
    m.faults.rng_state = m.faults.seed;
    for (auto& [code, f] : m.faults_by_function) f.rng_state = f.seed;
    start_manner(m.manner, m.faults.seed, m.manner_state);
    modules_.push_back(std::move(m));
    return modules_.back();
}

void Rack::set_clock(std::shared_ptr<const Clock> clock) {
    clock_ = std::move(clock);
    for (Module& m : modules_) start_diagnostics(m, clock_->now_ms());
}

Module* Rack::find(const std::string& name) {
    for (Module& m : modules_) {
        if (m.name() == name) return &m;
    }
    return nullptr;
}

Module* Rack::find_hw(const HwAddress& hw) {
    for (Module& m : modules_) {
        if (m.identity.hw == hw) return &m;
    }
    return nullptr;
}

HwAddress derived_hw(uint16_t serial) {
    // Locally administered (02), then "RS", then the serial number.
    return {0x02,
            0x52,
            0x53,
            0x00,
            static_cast<uint8_t>(serial >> 8),
            static_cast<uint8_t>(serial & 0xFF)};
}

Module* Rack::find_ip(uint32_t ip) {
    for (Module& m : modules_) {
        if (m.identity.ip == ip) return &m;
    }
    return nullptr;
}

bool Rack::is_broadcast(uint32_t ip) const {
    if (ip == kBroadcastIp) return true;
    if ((ip & 0xFF) != 0xFF) return false;
    for (const Module& m : modules_) {
        if (m.identity.ip == ip) return false;
    }
    return true;
}

std::vector<Outgoing> Rack::handle(uint32_t to_ip, const uint8_t* data, size_t len) {
    Replies replies;
    handle(to_ip, data, len, replies);
    return {replies.begin(), replies.end()};
}

void Rack::handle(uint32_t to_ip, const uint8_t* data, size_t len, Replies& out) {
    out.clear();
    const char* why = "";
    bool bad_crc = false;
    const bool parsed =
        parse_request_into(data, len, settings_.key, &request_, &keyed_, &why, &bad_crc);
    // A .255 address is a broadcast unless a module owns it.
    bool owned = false;
    if (to_ip != kBroadcastIp && (to_ip & 0xFF) == 0xFF)
        for_each_at(to_ip, [&](Module&) { owned = true; });
    const bool broadcast = to_ip == kBroadcastIp || ((to_ip & 0xFF) == 0xFF && !owned);
    auto reached = [&](const Module& m) { return broadcast || m.identity.ip == to_ip; };
    if (!parsed) {
        ++bad_frames_;
        for (Module& m : modules_) {
            if (!reached(m)) continue;
            EthernetCounters& c = count_in(m, len, broadcast);
            ++(bad_crc ? c.crc_errors : c.bad_frames);
        }
        if (logging()) log("request to " + ip_text(to_ip) + " dropped: " + why);
        return;
    }
    auto offer = [&](Module& m) {
        if (request_.extended && request_.node != m.identity.hw) {
            count_in(m, len, broadcast);  // seen on the wire, addressed to another module
            return;
        }
        serve(m, request_, len, broadcast, out);
    };
    if (!broadcast) {
        for_each_at(to_ip, offer);
        return;
    }
    for (Module& m : modules_) offer(m);
}

void Rack::reindex() {
    by_ip_.clear();
    for (size_t i = 0; i < modules_.size(); ++i) by_ip_.emplace_back(modules_[i].identity.ip, i);
    std::sort(by_ip_.begin(), by_ip_.end());
    indexed_ = modules_.size();
}

template <class F>
void Rack::for_each_at(uint32_t ip, F f) {
    if (indexed_ != modules_.size()) reindex();
    auto first = std::lower_bound(by_ip_.begin(), by_ip_.end(), std::make_pair(ip, size_t(0)));
    auto last = first;
    while (last != by_ip_.end() && last->first == ip) ++last;
    const bool current = std::all_of(first, last, [&](const std::pair<uint32_t, size_t>& e) {
        return modules_[e.second].identity.ip == ip;
    });
    if (!current) {
        indexed_ = SIZE_MAX;  // an address changed: index again next time
        for (Module& m : modules_) {
            if (m.identity.ip == ip) f(m);
        }
        return;
    }
    for (auto it = first; it != last; ++it) f(modules_[it->second]);
}

EthernetCounters& Rack::count_in(Module& m, size_t len, bool broadcast) {
    EthernetCounters& c = m.diagnostics.ethernet;
    ++c.frames_in;
    c.bytes_in += static_cast<uint32_t>(len);
    if (broadcast) ++c.broadcast_in;
    return c;
}

void Rack::serve(Module& m, const Request& req, size_t len, bool broadcast, Replies& out) {
    const uint8_t code = req.payload[0];
    // The log line's head, built only when something will print it.
    auto head = [&] {
        char code_text[16];
        std::snprintf(code_text, sizeof code_text, " fn 0x%02X ", code);
        return printable(m.name()) + " (" + ip_text(m.identity.ip) + ")" + code_text;
    };
    ++m.counters.requests;
    ++m.diagnostics.requests;
    Faults& faults = m.faults_for(code);
    std::string why;
    if (drop_request(faults, &why)) {
        // Lost before the module read it: missed by its interface, not received.
        ++m.counters.dropped;
        ++m.counters.dropped_by_function[code];
        ++m.diagnostics.lost;
        ++m.diagnostics.ethernet.missed;
        if (logging()) log(head() + why);
        return;
    }
    count_in(m, len, broadcast);
    const Manner manner = next_manner(m.manner, m.manner_state);
    Context ctx{*this, m, faults, manner, *clock_, *files_, logging(), &spare_};
    Execution ex;
    if (!faults.refuse_status || !refuse(ctx, req, faults.refuse_status, &ex)) {
        ex = execute(ctx, req);
    }
    // Its storage serves the next request.
    struct KeepSpare {
        Execution& spare;
        Execution& ex;
        ~KeepSpare() { spare = std::move(ex); }
    } keep{spare_, ex};
    if (ex.answers.empty()) {
        if (logging() && !ex.log.empty()) log(head() + ex.log);
        return;
    }
    for (const Answer& a : ex.answers) {
        if (a.payload.size() > kMaxReplyPayload) {
            if (logging()) log(head() + "reply too large for a frame, not sent");
            return;
        }
    }
    ++m.counters.answered;
    ++m.counters.by_function[code];
    if (logging()) {
        const std::string note = manner_note(manner);
        log(head() + ex.log + fault_note(faults) + (note.empty() ? "" : " {" + note + "}"));
    }
    const size_t first = out.size();
    bool copied = add_reply_datagrams({m.identity.ip, code, req.sequence, settings_.crc},
                                      ex.answers, manner, faults, &m.manner_state.previous, out);
    if (faults.late_fraction > 0 || faults.corrupt_fraction > 0 || faults.duplicate_fraction > 0 ||
        faults.stray_fraction > 0) {
        // Only this request's replies meet the random faults (and only then is a copy made).
        std::vector<Outgoing> mine(out.begin() + first, out.end());
        out.truncate(first);
        FaultTally& tally = m.counters.faults_by_function[code];
        const uint64_t late_before = tally.late_answers;
        apply_random_faults(faults, req.sequence, mine, tally);
        copied = copied && tally.late_answers == late_before;  // else counted as late
        for (Outgoing& o : mine) out.add(o.from_ip, o.delay_ms).bytes = std::move(o.bytes);
    }
    if (copied) ++m.counters.faults_by_function[code].previous;
    EthernetCounters& c = m.diagnostics.ethernet;
    for (size_t i = first; i < out.size(); ++i) {
        ++c.frames_out;
        c.bytes_out += static_cast<uint32_t>(out[i].bytes.size());
    }
}

std::string ip_text(uint32_t ip) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                  ip & 0xFF);
    return buf;
}

bool parse_ip(const std::string& text, uint32_t* ip) {
    uint32_t v = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
        unsigned n = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
            n = n * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || n > 255) return false;
        v = (v << 8) | n;
    }
    if (i != text.size()) return false;
    *ip = v;
    return true;
}

std::string hw_text(const HwAddress& hw) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", hw[0], hw[1], hw[2], hw[3],
                  hw[4], hw[5]);
    return buf;
}

bool parse_hw(const std::string& text, HwAddress* hw) {
    if (text.size() != 17) return false;
    HwAddress out{};
    for (size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[3 * i - 1] != ':' && text[3 * i - 1] != '-') return false;
        unsigned v = 0;
        for (size_t j = 0; j < 2; ++j) {
            const char c = text[3 * i + j];
            unsigned d;
            if (c >= '0' && c <= '9') {
                d = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                d = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                d = static_cast<unsigned>(c - 'A' + 10);
            } else {
                return false;
            }
            v = v * 16 + d;
        }
        out[i] = static_cast<uint8_t>(v);
    }
    *hw = out;
    return true;
}

}  // namespace racksim
