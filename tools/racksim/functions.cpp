#include "functions.h"

#include <cstdio>
#include <iterator>

#include "handlers.h"

namespace racksim {

namespace {

using Handler = Execution (*)(Context&, const Request&);
using Refuser = bool (*)(Context&, const Request&, uint16_t, Execution*);

// Refusals in the shapes of the functions' replies: the status word alone where nothing a host
// reads follows it (or where the host reads to the end), a count of 0 behind it where one does.
Execution refused_log(Answer a, uint16_t status) {
    char text[40];
    std::snprintf(text, sizeof text, "refused, status 0x%04X", status);
    return {{std::move(a)}, text};
}

bool alone_to_the_end(Context&, const Request&, uint16_t status, Execution* ex) {
    *ex = refused_log(refusal_reply(status_only(status), Reading::to_the_end), status);
    return true;
}

bool alone_in_fields(Context&, const Request&, uint16_t status, Execution* ex) {
    *ex = refused_log(refusal_reply(status_only(status), Reading::fields), status);
    return true;
}

bool alone_unread(Context&, const Request&, uint16_t status, Execution* ex) {
    *ex = refused_log(refusal_reply(status_only(status), Reading::unread), status);
    return true;
}

bool with_zero_count(Context&, const Request&, uint16_t status, Execution* ex) {
    Bytes b = status_only(status);
    put_u16(b, 0);
    *ex = refused_log(refusal_reply(std::move(b), Reading::fields), status);
    return true;
}

bool after_acknowledgement(Context& ctx, const Request& req, uint16_t status, Execution* ex) {
    *ex = acknowledged(ctx, req.payload[0], status, "refused");
    return true;
}

// The base-definition write's final reply brings what follows its status word to the host.
bool base_def_write(Context& ctx, const Request&, uint16_t status, Execution* ex) {
    *ex = acknowledged(ctx, fn::kWriteBaseDef, status, "refused");
    ex->answers.back().reading = Reading::to_the_end;
    return true;
}

struct Entry {
    uint8_t code;
    Handler handler;
    Refuser refuse;  // null: the replies carry no status word
};

constexpr Entry kTable[] = {
    {fn::kVersionInfo, on_identity, nullptr},
    {fn::kSupportInfo, on_identity, nullptr},
    {fn::kDeviceDef, on_identity, nullptr},
    {fn::kQueryDevices, on_query, nullptr},
    {fn::kWriteIo, on_write_io, alone_to_the_end},
    {fn::kReadIo, on_read_io, alone_to_the_end},
    {fn::kReadBaseDef, on_read_base_def, nullptr},
    {fn::kQueryDeviceData, on_query_data, nullptr},
    {fn::kEnumSetup, on_enum_setup, with_zero_count},
    {fn::kReadSetup, on_read_setup, alone_to_the_end},
    {fn::kWriteSetup, on_write_setup, after_acknowledgement},
    {fn::kDeleteSetup, on_delete_setup, after_acknowledgement},
    {fn::kEthernetStats, on_ethernet_stats, nullptr},
    {fn::kWriteBaseDef, on_write_base_def, base_def_write},
    {fn::kPetDevice, on_pet, alone_unread},
    {fn::kModuleStatus, on_module_status, alone_to_the_end},
    {fn::kInitBaseDef, on_init_base_def, nullptr},
    {fn::kCcmRequest, on_ccm_request, refuse_controller},
    {fn::kKseqRequest, on_kseq_request, refuse_controller},
    {fn::kSerial, on_serial, refuse_serial},
    {fn::kWriteMemory, on_write_memory, alone_in_fields},
    {fn::kReadMemory, on_read_memory, alone_in_fields},
    {fn::kEnumMemory, on_enum_memory, with_zero_count},
    {fn::kAccessMemory, on_access_memory, with_zero_count},
    {fn::kReadSharedRam, on_read_shared_ram, alone_in_fields},
    {fn::kWriteSharedRam, on_write_shared_ram, alone_in_fields},
    {fn::kWriteIoNoRead, on_write_io, alone_in_fields},
    {fn::kXcpuRunProgram, on_xcpu_run_program, alone_in_fields},
    {fn::kXcpuService, on_xcpu_service, refuse_service},
    {fn::kWritePgmSpace, on_write_program_space, after_acknowledgement},
    {fn::kWriteConfig, on_write_config, alone_to_the_end},
    {fn::kReadConfig, on_read_config, alone_to_the_end},
    {fn::kXcpuSetOsLoad, on_xcpu_set_os_load, alone_unread},
    {fn::kXcpuReboot, on_xcpu_reboot, alone_unread},
};

// One row for each function code of the vocabulary, in the order of their numbers.
constexpr bool rows_match_vocabulary() {
    const auto& codes = zeb::vocab::kFunctions;
    if (std::size(kTable) != std::size(codes)) return false;
    for (size_t i = 0; i < std::size(kTable); ++i) {
        if (kTable[i].code != codes[i].number) return false;
    }
    return true;
}
static_assert(rows_match_vocabulary(), "a function code is missing or out of order");

const Entry* entry_of(uint8_t code) {
    for (const Entry& e : kTable) {
        if (e.code == code) return &e;
    }
    return nullptr;
}

}  // namespace

Bytes status_only(uint16_t status) {
    Bytes b;
    put_u16(b, status);
    return b;
}

Execution acknowledged(Context& ctx, uint8_t code, uint16_t status, std::string log) {
    Execution ex;
    ex.answers.push_back(unread_reply(Bytes{code, 0x00}));
    ex.answers.push_back(
        status == kStatusOk
            ? field_reply(status_only(status), ctx.faults.final_delay_ms)
            : refusal_reply(status_only(status), Reading::fields, 0, ctx.faults.final_delay_ms));
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
    ex.answers[0].reading = Reading::to_the_end;
    ex.answers[0].refusal_at = kNoRefusal;
    ex.log.clear();
    return ex;
}

Execution execute(Context& ctx, const Request& req) {
    const uint8_t code = req.payload.at(0);
    if (const Entry* e = entry_of(code)) return e->handler(ctx, req);
    char text[64];
    std::snprintf(text, sizeof text, "unknown function: status 0x%04X", kStatusUnknownFunction);
    return {{{status_only(kStatusUnknownFunction)}}, text};
}

bool refuse(Context& ctx, const Request& req, uint16_t status, Execution* ex) {
    const Entry* e = entry_of(req.payload.at(0));
    return e && e->refuse && e->refuse(ctx, req, status, ex);
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
