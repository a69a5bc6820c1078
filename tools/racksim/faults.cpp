#include "faults.h"

#include "core/crc16.h"
#include "rack.h"

namespace racksim {

namespace {

// splitmix64: small, fast and the same on every platform, so a seed replays exactly.
uint64_t next_random(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A CRC field that is wrong for the payload and nonzero (0 would mean "not computed").
uint16_t wrong_crc(uint16_t right) {
    const auto c = static_cast<uint16_t>(right ^ 0xFFFF);
    return c != 0 ? c : 0x0001;
}

uint16_t other_sequence(uint16_t seq) {
    // The number of the request before: what a late reply to an earlier try would carry.
    return seq > 1 ? static_cast<uint16_t>(seq - 1) : 0xFFFF;
}

double uniform(uint64_t& state) {
    return static_cast<double>(next_random(state) >> 11) * 0x1.0p-53;
}

}  // namespace

bool drop_request(Faults& f, std::string* why) {
    if (f.drop_first > 0) {
        --f.drop_first;
        *why = "dropped (drop_first, " + std::to_string(f.drop_first) + " more to drop)";
        return true;
    }
    if (f.drop_fraction > 0) {
        if (uniform(f.rng_state) < f.drop_fraction) {
            *why = "dropped (drop_fraction)";
            return true;
        }
    }
    return false;
}

void add_reply_datagrams(uint32_t from_ip, const Faults& f, uint16_t sequence,
                         const std::vector<Answer>& answers, bool crc, Replies& out) {
    uint32_t delay = f.delay_ms;
    for (size_t i = 0; i < answers.size(); ++i) {
        delay += answers[i].extra_delay_ms;
        // The copies that faults add go first: a stray packet, then a duplicate. Slots are
        // named by place, as adding one may move the others.
        const size_t first = out.size();
        const bool stray = f.stray_before_reply && i == 0;
        if (stray) out.add(from_ip, delay);
        if (f.answer_twice) out.add(from_ip, delay);
        Bytes& frame = out.add(from_ip, delay).bytes;
        make_reply_into(sequence, answers[i].payload, crc, &frame);
        if (f.magic_zqq) frame[2] = 'Q';
        if (f.corrupt_crc) {
            const Bytes& p = answers[i].payload;
            set_u16(&frame[5], wrong_crc(zeb::crc16(p.data(), p.size())));
        }
        for (size_t j = first; j + 1 < out.size(); ++j) out.bytes_of(j) = frame;
        if (stray) set_u16(&out.bytes_of(first)[3], other_sequence(sequence));
    }
}

std::vector<Outgoing> reply_datagrams(uint32_t from_ip, const Faults& f, uint16_t sequence,
                                      const std::vector<Answer>& answers, bool crc) {
    Replies replies;
    add_reply_datagrams(from_ip, f, sequence, answers, crc, replies);
    return {replies.begin(), replies.end()};
}

void apply_random_faults(Faults& f, uint16_t sequence, std::vector<Outgoing>& replies,
                         FaultTally& tally) {
    if (replies.empty()) return;
    if (f.late_fraction > 0 && uniform(f.rng_state) < f.late_fraction) {
        // The whole answer late, so that a host that gave up on it meets all of it as stale.
        for (Outgoing& o : replies) o.delay_ms += f.late_ms;
        ++tally.late_answers;
        tally.late += replies.size();
        return;
    }
    if (f.corrupt_fraction > 0 && uniform(f.rng_state) < f.corrupt_fraction) {
        // The last reply only: an earlier one (an acknowledgement) that fails its check would
        // leave the rest of the answer arriving unasked.
        Bytes& b = replies.back().bytes;
        const uint64_t r = next_random(f.rng_state);
        const size_t at = b.size() > 9 ? 9 + r % (b.size() - 9) : 5;
        b[at] ^= static_cast<uint8_t>(1 + (r >> 32) % 255);
        ++tally.corrupted;
    }
    if (f.duplicate_fraction <= 0 && f.stray_fraction <= 0) return;
    std::vector<Outgoing> out;
    out.reserve(replies.size() * 2);
    for (Outgoing& o : replies) {
        const double u = uniform(f.rng_state);
        if (u < f.duplicate_fraction) {
            out.push_back(o);
            ++tally.duplicated;
        } else if (u < f.duplicate_fraction + f.stray_fraction) {
            Outgoing stray = o;
            set_u16(&stray.bytes[3], other_sequence(sequence));
            out.push_back(std::move(stray));
            ++tally.strays;
        }
        out.push_back(std::move(o));
    }
    replies = std::move(out);
}

std::string fault_note(const Faults& f) {
    std::string s;
    auto add = [&](const std::string& what) { s += (s.empty() ? "" : ", ") + what; };
    if (f.delay_ms) add("late " + std::to_string(f.delay_ms) + " ms");
    if (f.corrupt_crc) add("bad CRC");
    if (f.stray_before_reply) add("stray packet first");
    if (f.answer_twice) add("twice");
    if (f.magic_zqq) add("magic ZQQ");
    return s.empty() ? s : " [" + s + "]";
}

}  // namespace racksim
