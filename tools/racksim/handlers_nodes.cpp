// Networked nodes: a program space that takes blocks of bytes. The request is acknowledged at
// once and answered with a status word; a module that is no node has no program space.
#include <string>

#include "handlers.h"

namespace racksim {

// 0x60, 0x00, two reserved bytes, then the block.
Execution on_write_program_space(Context& ctx, const Request& req) {
    Module& m = ctx.module;
    if (m.identity.kind != kKindNode) {
        return acknowledged(ctx, fn::kWritePgmSpace, kStatusNoProgramSpace,
                            "write program space: not a node");
    }
    if (req.payload.size() < 4) {
        return acknowledged(ctx, fn::kWritePgmSpace, kStatusMalformed,
                            "write program space: request too short");
    }
    m.program.last_write.assign(req.payload.begin() + 4, req.payload.end());
    ++m.program.writes;
    return acknowledged(ctx, fn::kWritePgmSpace, kStatusOk,
                        "write program space: " + std::to_string(m.program.last_write.size()) +
                            " bytes (write " + std::to_string(m.program.writes) + ")");
}

}  // namespace racksim
