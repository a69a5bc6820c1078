#include "faults.h"

#include "rack.h"
#include "random.h"

namespace racksim {

uint16_t other_sequence(uint16_t seq) {
    return seq > 1 ? static_cast<uint16_t>(seq - 1) : 0xFFFF;
}

uint16_t wrong_crc(uint16_t right) {
    const auto c = static_cast<uint16_t>(right ^ 0xFFFF);
    return c != 0 ? c : 0x0001;
}

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
        // leave the rest of the answer arriving unasked. Damage behind a CRC field of 0 (no
        // CRC) no host could see, so there the field itself is damaged.
        Bytes& b = replies.back().bytes;
        const uint64_t r = next_random(f.rng_state);
        const bool checked = get_u16(&b[header::kCrcAt]) != 0;
        const size_t at = checked && b.size() > kHeaderSize
                              ? kHeaderSize + r % (b.size() - kHeaderSize)
                              : header::kCrcAt;
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
            set_u16(&stray.bytes[header::kSequenceAt], other_sequence(sequence));
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
    if (f.refuse_status) add("refused with status " + std::to_string(f.refuse_status));
    return s.empty() ? s : " [" + s + "]";
}

}  // namespace racksim
