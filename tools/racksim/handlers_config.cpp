// The configuration block, read and written whole: a status word, then the block. The block is
// the host's bytes, kept as written; a read that asks for the extended item format (0xB1 after
// the function code) gets the same bytes, since a block of opaque bytes has no item format to
// change.
#include <string>

#include "byte_text.h"
#include "handlers.h"
#include "item_stream.h"

namespace racksim {

namespace {

Bytes status_and_block(const Module& m) {
    Bytes b = status_only(kStatusOk);
    b.insert(b.end(), m.config.begin(), m.config.end());
    return b;
}

}  // namespace

Execution on_read_config(Context& ctx, const Request& req) {
    const bool extended = req.payload.size() >= 2 && req.payload[1] == items::kExtendedMarker;
    return {{{status_and_block(ctx.module)}},
            std::string("read configuration") + (extended ? " (extended asked)" : "") + ": " +
                short_text(ctx.module.config)};
}

Execution on_write_config(Context& ctx, const Request& req) {
    Bytes block(req.payload.begin() + 1, req.payload.end());
    const std::string what = "write configuration: " + short_text(block);
    if (block.size() > kMaxConfigBlock) {
        // Its read would not fit a host's reply buffer. The block in force stays.
        return {{{status_only(kStatusConfigTooLarge)}},
                what + ", refused: a host reads at most " + std::to_string(kMaxConfigBlock) +
                    " bytes, status 0x8105"};
    }
    ctx.module.config = std::move(block);
    return {{{status_and_block(ctx.module)}}, what + ", stored"};
}

}  // namespace racksim
