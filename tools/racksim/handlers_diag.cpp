// Watching a module: the keep-alive, the Ethernet statistics and the status block. An option
// byte of 1 clears the counters read once the reply is built.
#include <string>

#include "handlers.h"

namespace racksim {

namespace {

// The option byte at `at` in the request; absent counts as 0.
bool option(const Request& req, size_t at) {
    return req.payload.size() > at && req.payload[at] != 0;
}

}  // namespace

Execution on_pet(Context& ctx, const Request&) {
    Diagnostics& d = ctx.module.diagnostics;
    ++d.pets;
    d.petted = true;
    d.last_pet_ms = ctx.clock.now_ms();
    // A status word and the number of keep-alives so far.
    Bytes b = status_only(kStatusOk);
    put_u32(b, d.pets);
    return {{unread_reply(std::move(b))}, "keep-alive " + std::to_string(d.pets)};
}

// 0x0E, 0x00, option.
Execution on_ethernet_stats(Context& ctx, const Request& req) {
    Module& m = ctx.module;
    const uint64_t now = ctx.clock.now_ms();
    Bytes b = ethernet_stats(m, now);
    EthernetCounters& c = m.diagnostics.ethernet;
    std::string what = "Ethernet statistics: " + std::to_string(c.frames_in) + " frames in, " +
                       std::to_string(c.frames_out) + " out";
    if (option(req, 2)) {
        c = EthernetCounters{};
        c.cleared_ms = now;
        what += ", cleared";
    }
    return {{{std::move(b)}}, what};
}

// 0x17, extended-format flag, option. The block holds no item stream, so the flag changes
// nothing.
Execution on_module_status(Context& ctx, const Request& req) {
    Module& m = ctx.module;
    Bytes b = status_only(kStatusOk);
    const Bytes block = module_status(m, ctx.clock.now_ms());
    b.insert(b.end(), block.begin(), block.end());
    Diagnostics& d = m.diagnostics;
    std::string what = "module status: " + std::to_string(d.requests) + " requests, " +
                       std::to_string(d.pets) + " keep-alives";
    if (option(req, 2)) {
        d.requests = d.lost = d.pets = 0;
        what += ", cleared";
    }
    return {{{std::move(b)}}, what};
}

}  // namespace racksim
