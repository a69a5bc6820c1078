// The handlers behind `execute`, one per group of function codes. Each gets the context of its
// request: the module it serves is ctx.module.
#pragma once

#include "capacities.h"
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
Execution on_enum_setup(Context& ctx, const Request& req);      // 0x0A
Execution on_read_setup(Context& ctx, const Request& req);      // 0x0B
Execution on_write_setup(Context& ctx, const Request& req);     // 0x0C
Execution on_delete_setup(Context& ctx, const Request& req);    // 0x0D
Execution on_read_config(Context& ctx, const Request& req);     // 0x62
Execution on_write_config(Context& ctx, const Request& req);    // 0x61
Execution on_pet(Context& ctx, const Request& req);             // 0x14
Execution on_ethernet_stats(Context& ctx, const Request& req);  // 0x0E
Execution on_module_status(Context& ctx, const Request& req);   // 0x17

Execution on_ccm_request(Context& ctx, const Request& req);       // 0x19
Execution on_kseq_request(Context& ctx, const Request& req);      // 0x1A
Execution on_serial(Context& ctx, const Request& req);            // 0x23
Execution on_write_memory(Context& ctx, const Request& req);      // 0x24
Execution on_read_memory(Context& ctx, const Request& req);       // 0x25
Execution on_enum_memory(Context& ctx, const Request& req);       // 0x26
Execution on_access_memory(Context& ctx, const Request& req);     // 0x27
Execution on_read_shared_ram(Context& ctx, const Request& req);   // 0x28
Execution on_write_shared_ram(Context& ctx, const Request& req);  // 0x29

Execution on_write_program_space(Context& ctx, const Request& req);  // 0x60

// A controller module's services, program starts, OS-load value and restarts.
Execution on_xcpu_run_program(Context& ctx, const Request& req);  // 0x34
Execution on_xcpu_service(Context& ctx, const Request& req);      // 0x35
Execution on_xcpu_set_os_load(Context& ctx, const Request& req);  // 0xF9
Execution on_xcpu_reboot(Context& ctx, const Request& req);       // 0xFA

// Refusals (see `refuse`) of the functions that take a sub-function in their request.
bool refuse_controller(Context& ctx, const Request& req, uint16_t status, Execution* ex);
bool refuse_serial(Context& ctx, const Request& req, uint16_t status, Execution* ex);
bool refuse_service(Context& ctx, const Request& req, uint16_t status, Execution* ex);

// A reply payload holding only a status word.
Bytes status_only(uint16_t status);

// The answer to a request that is acknowledged first (function code, 0) and then answered with
// a status word, the faults' final delay later. A refusal's status is added to the log.
Execution acknowledged(Context& ctx, uint8_t code, uint16_t status, std::string log);

}  // namespace racksim
