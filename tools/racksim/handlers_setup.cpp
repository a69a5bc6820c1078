// The setup-data store: list, read, write and delete records. Writes and deletes are
// acknowledged at once (function code, 0) and answered with a status word when done.
#include <cstdio>
#include <string>

#include "byte_text.h"
#include "handlers.h"

namespace racksim {

namespace {

std::string type_text(uint16_t type) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", type);
    return text;
}

std::string status_text(uint16_t status) {
    char text[24];
    std::snprintf(text, sizeof text, ", status 0x%04X", status);
    return text;
}

// Requests name their type after the function code and a zero byte. False when the request is
// too short to hold it.
bool requested_type(const Request& req, uint16_t* type) {
    Reader in(req.payload);
    return in.skip(2) && in.u16(type);
}

}  // namespace

Execution on_enum_setup(Context& ctx, const Request&) {
    const std::vector<uint16_t> types = ctx.module.setup.types();
    Bytes b = status_only(kStatusOk);
    put_u16(b, static_cast<uint16_t>(types.size()));
    std::string list;
    for (uint16_t t : types) {
        put_u16(b, t);
        list += (list.empty() ? " " : ", ") + type_text(t);
    }
    return {{field_reply(std::move(b))},
            "list setup records: " + std::to_string(types.size()) + " types" + list};
}

Execution on_read_setup(Context& ctx, const Request& req) {
    uint16_t type = 0;
    if (!requested_type(req, &type)) {
        return {{{status_only(kStatusShortRequest)}},
                "read setup record: request too short" + status_text(kStatusShortRequest)};
    }
    const std::string what = "read setup record " + type_text(type);
    const Bytes* record = ctx.module.setup.find(type);
    if (!record) {
        return {{{status_only(kStatusNoSuchRecord)}},
                what + ": none" + status_text(kStatusNoSuchRecord)};
    }
    Bytes b = status_only(kStatusOk);
    b.insert(b.end(), record->begin(), record->end());
    return {{{std::move(b)}}, what + ": " + short_text(*record)};
}

Execution on_write_setup(Context& ctx, const Request& req) {
    uint16_t type = 0;
    if (!requested_type(req, &type)) {
        return acknowledged(ctx, fn::kWriteSetup, kStatusShortRequest,
                            "write setup record: request too short");
    }
    Bytes record(req.payload.begin() + 4, req.payload.end());
    const std::string what = "write setup record " + type_text(type) + ": " + short_text(record);
    switch (ctx.module.setup.put(type, std::move(record))) {
        case SetupStore::Put::stored:
            return acknowledged(ctx, fn::kWriteSetup, kStatusOk, what + ", stored");
        case SetupStore::Put::too_large:
            return acknowledged(ctx, fn::kWriteSetup, kStatusRecordTooLarge,
                                what + ", refused: a host reads at most " +
                                    std::to_string(kMaxSetupRecord) + " bytes");
        case SetupStore::Put::full:
            break;
    }
    return acknowledged(ctx, fn::kWriteSetup, kStatusStoreFull,
                        what + ", refused: the store holds " + std::to_string(kMaxSetupTypes) +
                            " types, as many as a host can list");
}

Execution on_delete_setup(Context& ctx, const Request& req) {
    uint16_t type = 0;
    if (!requested_type(req, &type)) {
        return acknowledged(ctx, fn::kDeleteSetup, kStatusShortRequest,
                            "delete setup record: request too short");
    }
    const std::string what = "delete setup record " + type_text(type);
    if (!ctx.module.setup.erase(type)) {
        return acknowledged(ctx, fn::kDeleteSetup, kStatusNoSuchRecord, what + ": none");
    }
    return acknowledged(ctx, fn::kDeleteSetup, kStatusOk, what + ": deleted");
}

}  // namespace racksim
