// The handlers behind `execute`, one per group of function codes. Each gets the context of its
// request: the module it serves is ctx.module.
#pragma once

#include "functions.h"

namespace racksim {

Execution on_query(Context& ctx, const Request& req);           // 0x05
Execution on_query_data(Context& ctx, const Request& req);      // 0x09
Execution on_identity(Context& ctx, const Request& req);        // 0x01, 0x02, 0x04
Execution on_read_io(Context& ctx, const Request& req);         // 0x07
Execution on_write_io(Context& ctx, const Request& req);        // 0x06, 0x30
Execution on_read_base_def(Context& ctx, const Request& req);   // 0x08
Execution on_init_base_def(Context& ctx, const Request& req);   // 0x18
Execution on_write_base_def(Context& ctx, const Request& req);  // 0x0F

// A reply payload holding only a status word.
Bytes status_only(uint16_t status);

}  // namespace racksim
