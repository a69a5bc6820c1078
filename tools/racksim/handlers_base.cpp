// Reading, writing, initialising and rescanning the base definition.
#include <cstdio>
#include <map>
#include <string>

#include "base_def.h"
#include "handlers.h"
#include "host_limits.h"
#include "item_stream.h"

namespace racksim {

namespace {

std::string slot_count(const Module& m) {
    const size_t n = m.base.slots.size();
    return std::to_string(n) + (n == 1 ? " slot" : " slots");
}

}  // namespace

Execution on_read_base_def(Context& ctx, const Request& req) {
    const Module& m = ctx.module;
    const bool extended = req.payload.size() >= 2 && req.payload[1] == items::kExtendedMarker;
    return {{{encode_base_def(m, extended)}},
            std::string("base definition (") + (extended ? "extended" : "compact") + ", " +
                slot_count(m) + ")"};
}

Execution on_init_base_def(Context& ctx, const Request& req) {
    Module& m = ctx.module;
    // The installed base is what a scan finds; restoring it keeps unchanged slots' images.
    adopt_base_def(m, m.base.installed, /*fresh_behaviour=*/true);
    std::string what = "init base definition";
    uint32_t value = 0;
    Reader in(req.payload);
    if (in.skip(1) && in.u32(&value)) {
        char text[48];
        std::snprintf(text, sizeof text, "rescan base (value 0x%08X)", value);
        what = text;
    }
    return {{{encode_base_def(m, false)}}, what + ": " + slot_count(m)};
}

Execution on_write_base_def(Context& ctx, const Request& req) {
    Module& m = ctx.module;
    // 0x0F, 0x00, u16 length, data. Acknowledged at once, answered when done.
    Execution ex;
    ex.answers.push_back(unread_reply(Bytes{fn::kWriteBaseDef, 0x00}));
    Reader in(req.payload);
    uint16_t length = 0;
    std::string why;
    Slots fresh;
    if (!in.skip(2) || !in.u16(&length) || in.left() < length) {
        why = "length field exceeds the data";
    } else if (parse_base_def(in.here(), length, m.base.base_slots, &fresh, &why)) {
        // A base whose exchanges a host could not take is refused like a malformed one.
        why = base_too_large(fresh);
    }
    if (why.empty()) {
        adopt_base_def(m, std::move(fresh));
        ex.answers.push_back({status_only(kStatusOk), ctx.faults.final_delay_ms});
        ex.log = "write base definition: adopted, " + slot_count(m);
        return ex;
    }
    ex.answers.push_back(refusal_reply(status_only(kStatusBadBaseDef), Reading::to_the_end, 0,
                                       ctx.faults.final_delay_ms));
    ex.log = "write base definition: refused (" + why + "), status 3";
    return ex;
}

}  // namespace racksim
