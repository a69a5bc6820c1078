#include "peers.h"

#include "frames.h"

namespace zebtest {

PeerHandler answer_with(Bytes payload, uint64_t delay_ms) {
    return [payload = std::move(payload), delay_ms](const Datagram& request, PeerReply& out) {
        out.send(make_reply(sequence_of(request.bytes), payload), delay_ms);
    };
}

PeerHandler acknowledge_then(Bytes ack, Bytes final_payload, uint64_t ack_delay_ms,
                             uint64_t final_delay_ms) {
    return [=](const Datagram& request, PeerReply& out) {
        out.send(make_reply(sequence_of(request.bytes), ack), ack_delay_ms);
        out.send(make_reply(sequence_of(request.bytes), final_payload), final_delay_ms);
    };
}

PeerHandler lose_first(size_t count, PeerHandler then) {
    auto seen = std::make_shared<size_t>(0);
    return [count, seen, then = std::move(then)](const Datagram& request, PeerReply& out) {
        if ((*seen)++ < count) return;
        then(request, out);
    };
}

PeerHandler recording(std::shared_ptr<std::vector<Datagram>> log, PeerHandler then) {
    return [log = std::move(log), then = std::move(then)](const Datagram& request, PeerReply& out) {
        log->push_back(request);
        if (then) then(request, out);
    };
}

}  // namespace zebtest
