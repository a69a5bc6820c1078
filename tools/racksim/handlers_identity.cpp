// Discovery and the identity blocks.
#include <cstdio>
#include <string>

#include "handlers.h"
#include "identity.h"

namespace racksim {

Execution on_query(Context& ctx, const Request&) {
    Execution ex = reuse_execution(ctx);
    append_discovery_answer(ctx.module, ctx.faults, ex.answers[0].payload);
    ex.answers[0].reading = Reading::fields;
    if (ctx.log_wanted) ex.log = "discovery";
    return ex;
}

Execution on_query_data(Context& ctx, const Request& req) {
    const Module& m = ctx.module;
    // 9, 0, u16 data type, u16 data length, data.
    Reader in(req.payload);
    uint16_t type = 0, length = 0;
    if (!in.skip(2) || !in.u16(&type) || !in.u16(&length) || in.left() < length) {
        return {{}, "discovery with a malformed data item: silent"};
    }
    if (!query_applies(m, type, in.here(), length)) return {{}, ""};
    std::string what;
    if (type == kQueryByNumber) {
        what = "number " + std::to_string(m.number());
    } else if (type == kQueryByName) {
        what = "name \"" + printable(m.name()) + "\"";
    } else {
        char text[40];
        std::snprintf(text, sizeof text, "setup record 0x%04X", type);
        what = text;
    }
    return {{field_reply(discovery_answer(m, ctx.faults))}, "discovery by " + what};
}

Execution on_identity(Context& ctx, const Request& req) {
    const Module& m = ctx.module;
    switch (req.payload[0]) {
        case fn::kVersionInfo: {
            Bytes b = version_block(m);
            return {{{b}}, "version block, " + std::to_string(b.size()) + " bytes"};
        }
        case fn::kSupportInfo: {
            Bytes b = support_block(m);
            return {{{b}}, "support block, " + std::to_string(b.size()) + " bytes"};
        }
        default: {
            Bytes b = device_definition(m);
            const int kind = b.size() > 2 ? b[2] : -1;
            return {{{b}},
                    "device definition, " + std::to_string(b.size()) + " bytes, kind " +
                        std::to_string(kind)};
        }
    }
}

}  // namespace racksim
