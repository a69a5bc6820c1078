#include "functions.h"

#include <cstdio>

#include "handlers.h"

namespace racksim {

namespace {

using Handler = Execution (*)(Context&, const Request&);

struct Entry {
    uint8_t code;
    Handler handler;
};

constexpr Entry kTable[] = {
    {fn::kVersionInfo, on_identity},
    {fn::kSupportInfo, on_identity},
    {fn::kDeviceDef, on_identity},
    {fn::kQuery, on_query},
    {fn::kWriteIo, on_write_io},
    {fn::kReadIo, on_read_io},
    {fn::kReadBaseDef, on_read_base_def},
    {fn::kQueryData, on_query_data},
    {fn::kEnumSetup, on_enum_setup},
    {fn::kReadSetup, on_read_setup},
    {fn::kWriteSetup, on_write_setup},
    {fn::kDeleteSetup, on_delete_setup},
    {fn::kEthernetStats, on_ethernet_stats},
    {fn::kWriteBaseDef, on_write_base_def},
    {fn::kPet, on_pet},
    {fn::kModuleStatus, on_module_status},
    {fn::kInitBaseDef, on_init_base_def},
    {fn::kCcmRequest, on_ccm_request},
    {fn::kKseqRequest, on_kseq_request},
    {fn::kSerial, on_serial},
    {fn::kWriteMemory, on_write_memory},
    {fn::kReadMemory, on_read_memory},
    {fn::kEnumMemory, on_enum_memory},
    {fn::kAccessMemory, on_access_memory},
    {fn::kReadSharedRam, on_read_shared_ram},
    {fn::kWriteSharedRam, on_write_shared_ram},
    {fn::kWriteIoNoRead, on_write_io},
    {fn::kWriteProgramSpace, on_write_program_space},
    {fn::kWriteConfig, on_write_config},
    {fn::kReadConfig, on_read_config},
    {fn::kXcpuRunProgram, on_xcpu_run_program},
    {fn::kXcpuService, on_xcpu_service},
    {fn::kXcpuSetOsLoad, on_xcpu_set_os_load},
    {fn::kXcpuReboot, on_xcpu_reboot},
};

}  // namespace

Bytes status_only(uint16_t status) {
    Bytes b;
    put_u16(b, status);
    return b;
}

Execution acknowledged(Context& ctx, uint8_t code, uint16_t status, std::string log) {
    Execution ex;
    ex.answers.push_back({Bytes{code, 0x00}});
    ex.answers.push_back({status_only(status), ctx.faults.final_delay_ms});
    ex.log = std::move(log);
    if (status != kStatusOk) {
        char text[24];
        std::snprintf(text, sizeof text, ", status 0x%04X", status);
        ex.log += text;
    }
    return ex;
}

Execution reuse_execution(Context& ctx) {
    Execution ex;
    if (ctx.spare) ex = std::move(*ctx.spare);
    ex.answers.resize(1);
    ex.answers[0].payload.clear();
    ex.answers[0].extra_delay_ms = 0;
    ex.log.clear();
    return ex;
}

Execution execute(Context& ctx, const Request& req) {
    const uint8_t code = req.payload.at(0);
    for (const Entry& e : kTable) {
        if (e.code == code) return e.handler(ctx, req);
    }
    char text[64];
    std::snprintf(text, sizeof text, "unknown function: status 0x%04X", kStatusUnknownFunction);
    return {{{status_only(kStatusUnknownFunction)}}, text};
}

const std::vector<uint8_t>& served_functions() {
    static const std::vector<uint8_t> codes = [] {
        std::vector<uint8_t> v;
        for (const Entry& e : kTable) v.push_back(e.code);
        return v;
    }();
    return codes;
}

}  // namespace racksim
