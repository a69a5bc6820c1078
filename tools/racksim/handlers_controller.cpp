// Requests for the controller behind the module: CCM reads and writes of its data areas, and
// K-sequence messages. The module acknowledges a request it can pass on at once and answers
// when the controller has; one it cannot pass on is refused in place of the acknowledgement.
// A host takes either form of refusal, so a manner may use one form for all of them.
#include <string>

#include "handlers.h"
#include "statuses.h"

namespace racksim {

namespace {

// Each reply starts with a marker (vocab/ccm.h) and the request's function code.
Bytes reply_head(uint8_t marker, uint8_t code, uint16_t status) {
    Bytes b{marker, code};
    put_u16(b, status);
    return b;
}

// The status word follows the marker and the function code.
constexpr int kStatusAt = 2;

// The acknowledgement, marker and code only, so never the same bytes as the answer. A host
// compares those two bytes; any after them it does not read.
Answer acknowledgement(uint8_t code) {
    return field_reply(Bytes{ccm::kAcknowledged, code});
}

Execution refused_in_place(uint8_t code, uint16_t status, const std::string& what) {
    return {{refusal_reply(reply_head(ccm::kRefused, code, status), Reading::fields, kStatusAt)},
            what + ": refused, " + status_text(status)};
}

Execution refused_after_ack(const Context& ctx, uint8_t code, uint16_t status,
                            const std::string& what) {
    Execution ex;
    ex.answers.push_back(acknowledgement(code));
    ex.answers.push_back(refusal_reply(reply_head(ccm::kAnswered, code, status), Reading::fields,
                                       kStatusAt, ctx.faults.final_delay_ms));
    ex.log = what + ": " + status_text(status);
    return ex;
}

// A request the module cannot pass on.
Execution refuse(const Context& ctx, uint8_t code, uint16_t status, const std::string& what) {
    if (ctx.manner.controller_refusal == ControllerRefusal::after_ack) {
        return refused_after_ack(ctx, code, status, what);
    }
    return refused_in_place(code, status, what);
}

// The acknowledgement, then the answer: status word and data. A CCM read's answer must carry
// exactly the bytes asked for, and a K-sequence answer is all the bytes after its head; after a
// CCM write's data (the block as the controller now holds it) a host reads nothing.
Execution acknowledge_and_answer(const Context& ctx, uint8_t code, uint16_t status,
                                 const Bytes& data, const std::string& what,
                                 Reading reading = Reading::to_the_end) {
    if (status != kStatusOk) {
        if (ctx.manner.controller_refusal == ControllerRefusal::before_ack) {
            return refused_in_place(code, status, what);
        }
        return refused_after_ack(ctx, code, status, what);
    }
    Execution ex;
    ex.answers.push_back(acknowledgement(code));
    Bytes answer = reply_head(ccm::kAnswered, code, status);
    answer.insert(answer.end(), data.begin(), data.end());
    ex.answers.push_back({std::move(answer), ctx.faults.final_delay_ms, reading});
    ex.log = what;
    return ex;
}

// A count byte of 0 stands for 256 when the message or data carries 256 bytes.
bool count_matches(uint8_t count_byte, size_t carried) {
    return carried <= 256 && carried % 256 == count_byte;
}

}  // namespace

Execution on_ccm_request(Context& ctx, const Request& req) {
    // 0x19, 0x00, 0x01, operation, count (0 = 256), address u16, data type, the data of a write.
    const uint8_t code = fn::kCcmRequest;
    Reader in(req.payload);
    uint8_t op = 0, count_byte = 0, type = 0;
    uint16_t address = 0;
    if (!in.skip(3) || !in.u8(&op) || !in.u8(&count_byte) || !in.u16(&address) || !in.u8(&type)) {
        return refuse(ctx, code, kStatusMalformed, "CCM request cut short");
    }
    if (op != kCcmRead && op != kCcmWrite) {
        return refuse(ctx, code, kStatusMalformed, "CCM request with operation " + hex_text(op, 2));
    }
    const bool write = op == kCcmWrite;
    const size_t count = write ? in.left() : (count_byte ? count_byte : kCcmMaxCount);
    const std::string what = std::string("CCM ") + (write ? "write" : "read") + " type " +
                             std::to_string(type) + " at " + hex_text(address) + ", " +
                             std::to_string(count) + " bytes";
    if (write ? !count_matches(count_byte, count) : !in.done()) {
        return refuse(
            ctx, code, kStatusMalformed,
            what + (write ? " (count byte " + std::to_string(count_byte) + ")" : " carrying data"));
    }
    Controller& c = ctx.module.controller;
    if (!c.present) return refuse(ctx, code, kStatusNoController, what);

    auto it = c.areas.find(type);
    if (it == c.areas.end()) return acknowledge_and_answer(ctx, code, kStatusNoSuchArea, {}, what);
    ControllerArea& area = it->second;
    if (write) {
        const uint16_t status = write_block(area.data, area.writable, address, in.here(), count);
        // The answer carries the block as the controller now holds it.
        const Bytes now = status ? Bytes{} : read_block(area.data, address, count).data;
        return acknowledge_and_answer(ctx, code, status, now, what, Reading::fields);
    }
    // A read is answered whole or refused: the host takes exactly the bytes it asked for.
    if (address >= area.data.size() || count > area.data.size() - address) {
        return acknowledge_and_answer(ctx, code, kStatusOutsideArea, {}, what);
    }
    return acknowledge_and_answer(ctx, code, kStatusOk, read_block(area.data, address, count).data,
                                  what);
}

Execution on_kseq_request(Context& ctx, const Request& req) {
    // 0x1A, 0x00, count (0 = 256), 0x00, the message.
    const uint8_t code = fn::kKseqRequest;
    Reader in(req.payload);
    uint8_t count_byte = 0;
    if (!in.skip(2) || !in.u8(&count_byte) || !in.skip(1)) {
        return refuse(ctx, code, kStatusMalformed, "K-sequence request cut short");
    }
    const std::string what = "K-sequence message, " + std::to_string(in.left()) + " bytes";
    if (!count_matches(count_byte, in.left())) {
        return refuse(ctx, code, kStatusMalformed,
                      what + " (count byte " + std::to_string(count_byte) + ")");
    }
    const Controller& c = ctx.module.controller;
    if (!c.present) return refuse(ctx, code, kStatusNoController, what);
    const Bytes answer = c.kseq_answer(in.here(), in.left());
    if (answer.size() > kKseqAnswerMax) {
        return acknowledge_and_answer(ctx, code, kStatusAnswerTooLarge, {}, what);
    }
    return acknowledge_and_answer(ctx, code, kStatusOk, answer,
                                  what + ", answered with " + std::to_string(answer.size()));
}

// Refused as a request the module cannot pass on.
bool refuse_controller(Context& ctx, const Request& req, uint16_t status, Execution* ex) {
    const uint8_t code = req.payload[0];
    *ex = refuse(ctx, code, status, code == fn::kCcmRequest ? "CCM request" : "K-sequence message");
    return true;
}

}  // namespace racksim
