#include "reply_datagrams.h"

#include <algorithm>

#include "capacities.h"
#include "core/crc16.h"
#include "faults.h"
#include "frame.h"
#include "rack.h"
#include "random.h"

namespace racksim {

namespace {

// Padding never takes a reply past the smallest reply buffer a host has, whatever the request.
constexpr size_t kMaxPaddedPayload = capacity::kSmallestReply - kHeaderSize;
constexpr size_t kMaxRandomPadding = 16;

// The first of several replies when a host takes it whatever it holds.
bool free_acknowledgement(const std::vector<Answer>& answers, size_t i) {
    return i + 1 < answers.size() && answers[i].reading == Reading::unread;
}

// Makes the frames of one request's replies as its manner forms them. A reply's frame depends
// on nothing but the request, the reply and the manner, so it can be made twice alike.
class Shaper {
  public:
    Shaper(const AnswerOf& request, const std::vector<Answer>& answers, const Manner& manner)
        : request_(request), answers_(answers), manner_(manner) {}

    void frame(size_t i, Bytes& out) const {
        if (free_acknowledgement(answers_, i) && manner_.ack == AckForm::final) {
            frame(answers_.size() - 1, out);
            return;
        }
        out.reserve(kHeaderSize + std::max(answers_[i].payload.size(), kMaxPaddedPayload));
        start_reply(request_.sequence, &out);
        body(i, out);
        // A refusal may stop short of the fields a host reads (its status word alone): bytes
        // after it would be read as those fields.
        const Answer& a = answers_[i];
        if (a.reading != Reading::to_the_end && a.refusal_at == kNoRefusal) pad(i, out);
        const bool crc =
            manner_.crc == CrcForm::always || (manner_.crc == CrcForm::rack && request_.rack_crc);
        seal_reply(&out, crc);
    }

  private:
    void body(size_t i, Bytes& out) const {
        const Answer& a = answers_[i];
        if (free_acknowledgement(answers_, i)) {
            switch (manner_.ack) {
                case AckForm::code:
                    out.insert(out.end(), {request_.code, 0x00});
                    return;
                case AckForm::status:
                    out.insert(out.end(), {0x00, 0x00});
                    return;
                case AckForm::empty:
                    return;
                default:
                    break;
            }
        } else if (a.reading == Reading::unread && manner_.unread_empty) {
            return;
        }
        size_t n = a.payload.size();
        if (a.refusal_at != kNoRefusal && manner_.refusal == RefusalForm::status_alone) {
            n = std::min(n, static_cast<size_t>(a.refusal_at) + kStatusWordSize);
        }
        out.insert(out.end(), a.payload.begin(), a.payload.begin() + static_cast<ptrdiff_t>(n));
    }

    void pad(size_t i, Bytes& out) const {
        const size_t body = out.size() - kHeaderSize;
        if (body >= kMaxPaddedPayload) return;
        // Random bytes drawn from the request and the reply alone.
        uint64_t state = manner_.salt ^ (uint64_t{request_.sequence} << 8) ^ i;
        size_t n = 0;
        switch (manner_.padding) {
            case Padding::none:
                return;
            case Padding::even:
                n = body % 2;
                break;
            case Padding::fixed:
                n = manner_.pad_to > body ? manner_.pad_to - body : 0;
                break;
            case Padding::random:
                n = 1 + next_random(state) % kMaxRandomPadding;
                break;
        }
        n = std::min(n, kMaxPaddedPayload - body);
        for (size_t k = 0; k < n; ++k) {
            out.push_back(manner_.padding == Padding::random
                              ? static_cast<uint8_t>(next_random(state))
                              : uint8_t{0});
        }
    }

    const AnswerOf& request_;
    const std::vector<Answer>& answers_;
    const Manner& manner_;
};

}  // namespace

bool add_reply_datagrams(const AnswerOf& request, const std::vector<Answer>& answers,
                         const Manner& manner, const Faults& faults, Bytes* previous,
                         Replies& out) {
    if (answers.empty()) return false;
    const Shaper shaper(request, answers, manner);
    const size_t last = answers.size() - 1;
    uint32_t delay = faults.delay_ms + manner.late_ms;
    // A copy of the module's previous reply, just before the first reply: unless it carries
    // this request's number, which would make it an answer.
    bool copied = false;
    if (manner.previous_first && previous && previous->size() >= kHeaderSize &&
        get_u16(&(*previous)[3]) != request.sequence) {
        out.add(request.from_ip, delay + answers[0].extra_delay_ms).bytes = *previous;
        copied = true;
    }
    for (size_t i = 0; i < answers.size(); ++i) {
        delay += answers[i].extra_delay_ms;
        if (i == last && i > 0 && free_acknowledgement(answers, 0)) delay += manner.final_late_ms;
        // The copies that faults add go first: a stray packet, then a duplicate. Slots are
        // named by place, as adding one may move the others.
        const size_t first = out.size();
        const bool stray = faults.stray_before_reply && i == 0;
        if (stray) out.add(request.from_ip, delay);
        if (faults.answer_twice) out.add(request.from_ip, delay);
        Bytes& frame = out.add(request.from_ip, delay).bytes;
        shaper.frame(i, frame);
        if (faults.magic_zqq) frame[2] = 'Q';
        if (faults.corrupt_crc) {
            const uint16_t right =
                zeb::crc16(frame.data() + kHeaderSize, frame.size() - kHeaderSize);
            set_u16(&frame[5], wrong_crc(right));
        }
        for (size_t j = first; j + 1 < out.size(); ++j) out.bytes_of(j) = frame;
        if (stray) set_u16(&out.bytes_of(first)[3], other_sequence(request.sequence));
    }
    if (previous) *previous = out[out.size() - 1].bytes;
    return copied;
}

}  // namespace racksim
