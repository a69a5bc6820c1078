// Reading inputs and writing outputs.
#include <string>

#include "handlers.h"
#include "io_image.h"
#include "item_stream.h"

namespace racksim {

namespace {

// Status 0 and the input stream, written into `out`.
void status_and_inputs(Module& m, bool extended, Bytes& out) {
    refresh_inputs(m);
    out.clear();
    put_u16(out, kStatusOk);
    append_inputs(m.base.slots, extended, out);
}

const char* format_name(bool extended) {
    return extended ? "extended" : "compact";
}

}  // namespace

// The busiest request of all: served into reused storage, its log text only when wanted.
Execution on_read_io(Context& ctx, const Request& req) {
    Module& m = ctx.module;
    const bool extended = req.payload.size() >= 2 && req.payload[1] == items::kExtendedMarker;
    Execution ex = reuse_execution(ctx);
    status_and_inputs(m, extended, ex.answers[0].payload);
    if (ctx.log_wanted) {
        ex.log = std::string("read IO (") + format_name(extended) + "): " + describe_inputs(m);
    }
    return ex;
}

Execution on_write_io(Context& ctx, const Request& req) {
    Module& m = ctx.module;
    const bool with_read = req.payload[0] == fn::kWriteIo;
    const std::string what = with_read ? "write IO" : "write IO without read";
    const uint8_t* stream = req.payload.data() + 1;
    const size_t len = req.payload.size() - 1;

    // Read once to check it: nothing is stored from a stream the module refuses.
    const auto check_only = [](const ValueItem&) {};
    const char* why = "";
    if (!read_io_stream(stream, len, check_only, &why)) {
        return {{refusal_reply(status_only(kStatusMalformed),
                               with_read ? Reading::to_the_end : Reading::fields)},
                what + ": malformed output stream (" + why + "), status 2"};
    }
    const std::string stored = store_outputs(m, stream, len);
    if (!with_read) return {{field_reply(status_only(kStatusOk))}, what + ": " + stored};

    const bool extended = starts_extended(stream, len);
    Execution ex = reuse_execution(ctx);
    status_and_inputs(m, extended, ex.answers[0].payload);
    if (ctx.log_wanted) {
        ex.log = what + " (" + format_name(extended) + "): " + stored +
                 " | inputs: " + describe_inputs(m);
    }
    return ex;
}

}  // namespace racksim
