// A controller module's own functions: service calls (0x35) dispatched by service number to
// the file and serial-port services, the last-error value, and what acts on the controller as
// a whole (starting a program, 0x34; the OS-load value, 0xF9; a restart, 0xFA). Programs and
// restarts are recorded and logged, never carried out on the host. Each request carries its
// function code and, in the next byte, the code's complement. A module that names no root
// directory is no controller module and does not know these codes.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "handlers.h"
#include "statuses.h"
#include "vocab/services.h"
#include "windows_errors.h"
#include "xcpu_service.h"

namespace racksim {

namespace {

// The name field of a program start, then its argument text.
constexpr size_t kProgramNameField = 64;
constexpr size_t kProgramArgsAt = 2 + kProgramNameField;

bool svc_get_last_error(ServiceCall& c) {
    if (!c.end()) return false;
    c.succeed(c.os.last_error);
    c.describe("%u", c.os.last_error);
    return true;
}

bool svc_set_last_error(ServiceCall& c) {
    uint32_t error = 0;
    if (!c.u32(&error) || !c.end()) return false;
    c.os.last_error = error;
    c.succeed(0);
    c.describe("%u", error);
    return true;
}

namespace service = zeb::vocab::service;

struct Service {
    uint16_t number;
    ServiceFn run;
    size_t output_size;      // output bytes of a refusal, all zero
    uint32_t failure_value;  // return value of a failed call
};

constexpr uint32_t kNoHandle = service::kInvalidHandle;

constexpr Service kServices[] = {
    {service::kCreateFile, svc_create_file, 0, kNoHandle},
    {service::kReadFile, svc_read_file, 4, xcpu::kFalse},
    {service::kWriteFile, svc_write_file, 4, xcpu::kFalse},
    {service::kGetLastError, svc_get_last_error, 0, 0},
    {service::kCloseHandle, svc_close_handle, 0, xcpu::kFalse},
    {service::kSetCommState, svc_set_comm_state, 0, xcpu::kFalse},
    {service::kGetCommState, svc_get_comm_state, records::kCommStateSize, xcpu::kFalse},
    {service::kSetCommTimeouts, svc_set_comm_timeouts, 0, xcpu::kFalse},
    {service::kGetCommTimeouts, svc_get_comm_timeouts, records::kCommTimeoutsSize, xcpu::kFalse},
    {service::kSetLastError, svc_set_last_error, 0, 0},
    {service::kGetFileTime, svc_get_file_time, records::kFileTimesSize, xcpu::kFalse},
    {service::kSetFileTime, svc_set_file_time, 0, xcpu::kFalse},
    {service::kFindFirstFile, svc_find_first_file, records::kFindDataSize, kNoHandle},
    {service::kFindClose, svc_find_close, 0, xcpu::kFalse},
    {service::kFindNextFile, svc_find_next_file, records::kFindDataSize, xcpu::kFalse},
    {service::kDeleteFile, svc_delete_file, 0, xcpu::kFalse},
    {service::kSetEndOfFile, svc_set_end_of_file, 0, xcpu::kFalse},
    {service::kSetFilePointer, svc_set_file_pointer, 4, 0xFFFFFFFF},
    {service::kFlushFileBuffers, svc_flush_file_buffers, 0, xcpu::kFalse},
    {service::kGetFileSize, svc_get_file_size, 4, 0xFFFFFFFF},
    {service::kGetFileInformation, svc_get_file_information, records::kFileInfoSize, xcpu::kFalse},
    {service::kSetFileAttributes, svc_set_file_attributes, 0, xcpu::kFalse},
    {service::kGetFileAttributes, svc_get_file_attributes, 0, 0xFFFFFFFF},
    {service::kCreateDirectory, svc_create_directory, 0, xcpu::kFalse},
    {service::kRemoveDirectory, svc_remove_directory, 0, xcpu::kFalse},
    {service::kPurgeComm, svc_purge_comm, 0, xcpu::kFalse},
    {service::kClearCommError, svc_clear_comm_error, 4 + records::kCommStatusSize, xcpu::kFalse},
    {service::kGetCommProperties, svc_get_comm_properties, records::kCommPropertiesSize,
     xcpu::kFalse},
};

// One row for each service of the vocabulary, in the order of their numbers.
constexpr bool rows_match_vocabulary() {
    namespace vocab = zeb::vocab;
    if (std::size(kServices) != std::size(vocab::kServices)) return false;
    for (size_t i = 0; i < std::size(kServices); ++i) {
        if (kServices[i].number != vocab::kServices[i].number) return false;
    }
    return true;
}
static_assert(rows_match_vocabulary(), "a service is missing or out of order");

// The service's name, as hosts know the Windows function.
std::string_view service_name(const Service& s) {
    return zeb::vocab::name_of(zeb::vocab::kServices, s.number);
}

const Service* find_service(uint16_t number) {
    for (const Service& s : kServices) {
        if (s.number == number) return &s;
    }
    return nullptr;
}

// Status word, return value, then `output` (or `output_size` zero bytes when it is null).
Bytes service_reply(uint16_t status, uint32_t value, const uint8_t* output, size_t output_size) {
    Bytes b;
    b.reserve(xcpu::kReplyHead + output_size);
    put_u16(b, status);
    put_u32(b, value);
    if (output) {
        b.insert(b.end(), output, output + output_size);
    } else {
        b.resize(b.size() + output_size, 0);
    }
    return b;
}

// Every reply holds fields at fixed places (status word, return value, outputs), except those
// a host only waits for (the OS load and the restart).
Execution answer(Answer a, const char* log) {
    Execution ex;
    ex.answers.push_back(std::move(a));
    ex.log = log;
    return ex;
}

Execution answer(Bytes payload, const char* log) {
    return answer(field_reply(std::move(payload)), log);
}

Execution refused(Bytes payload, const char* log) {
    return answer(refusal_reply(std::move(payload), Reading::fields), log);
}

// The function code's complement in the byte after it.
bool complemented(const Request& req) {
    return req.payload.size() >= 2 &&
           req.payload[1] == static_cast<uint8_t>(~req.payload[0] & 0xFF);
}

Execution not_a_controller(const char* what) {
    char log[96];
    std::snprintf(log, sizeof log, "%s: no controller module (no root directory), %s", what,
                  status_text(kStatusUnknownFunction).c_str());
    return refused(status_only(kStatusUnknownFunction), log);
}

Execution malformed(const char* what) {
    char log[96];
    std::snprintf(log, sizeof log, "%s: malformed, %s", what,
                  status_text(kStatusMalformed).c_str());
    return refused(status_only(kStatusMalformed), log);
}

// Bytes for a log line: printable ASCII kept, the rest escaped, cut after `max`.
std::string log_text(const uint8_t* p, size_t n, size_t max = 80) {
    std::string s;
    for (size_t i = 0; i < n && i < max; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"') {
            s += static_cast<char>(p[i]);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", p[i]);
            s += esc;
        }
    }
    if (n > max) s += "...";
    return s;
}

}  // namespace

bool ServiceCall::record(uint8_t* out, size_t n) {
    if (in_.left() < n) return false;
    std::memcpy(out, in_.here(), n);
    return in_.skip(n);
}

bool ServiceCall::path(std::string_view* text) {
    uint16_t len = 0;
    if (!in_.u16(&len) || len == 0 || in_.left() < len) return false;
    const auto* chars = reinterpret_cast<const char*>(in_.here());
    if (chars[len - 1] != '\0' || std::memchr(chars, '\0', len - 1u)) return false;
    *text = std::string_view(chars, len - 1u);
    describe_text(*text);
    return in_.skip(len);
}

bool ServiceCall::handle_arg(uint32_t* value, const char* what) {
    if (!in_.u32(value)) return false;
    describe("%s 0x%08X", what, *value);
    return true;
}

bool ServiceCall::rest(const uint8_t** data, size_t n) {
    if (in_.left() != n) return false;
    *data = in_.here();
    return in_.skip(n);
}

bool ServiceCall::fail(uint32_t error) {
    failed_ = true;
    value_ = failure_;
    os.last_error = error;
    return true;
}

void ServiceCall::out_u32(uint32_t v) {
    if (uint8_t* dst = out_space(4)) set_u32(dst, v);
}

void ServiceCall::out(const uint8_t* p, size_t n) {
    if (uint8_t* dst = out_space(n)) std::memcpy(dst, p, n);
}

uint8_t* ServiceCall::out_space(size_t n) {
    if (n > output_.size() - output_len_) return nullptr;
    uint8_t* dst = output_.data() + output_len_;
    output_len_ += n;
    return dst;
}

void ServiceCall::describe(const char* format, ...) {
    if (what_len_ >= sizeof what_ - 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(what_ + what_len_, sizeof what_ - what_len_, format, args);
    va_end(args);
    if (n > 0) what_len_ = std::min(sizeof what_ - 1, what_len_ + static_cast<size_t>(n));
}

void ServiceCall::describe_text(std::string_view text) {
    const std::string s = log_text(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 100);
    describe("\"%s\"", s.c_str());
}

Execution on_xcpu_service(Context& ctx, const Request& req) {
    if (!ctx.module.controller_os.enabled()) return not_a_controller("service call");
    Reader in(req.payload);
    uint16_t number = 0;
    if (!complemented(req) || !in.skip(2) || !in.u16(&number)) {
        char log[80];
        std::snprintf(log, sizeof log, "service call malformed: %s",
                      status_text(kStatusMalformed).c_str());
        return refused(service_reply(kStatusMalformed, 0, nullptr, 0), log);
    }
    const Service* s = find_service(number);
    char log[400];
    if (!s) {
        std::snprintf(log, sizeof log, "service 0x%04X: unknown, %s", number,
                      status_text(kStatusUnknownFunction).c_str());
        return refused(service_reply(kStatusUnknownFunction, 0, nullptr, 0), log);
    }
    ServiceCall call(ctx, in.here(), in.left(), s->failure_value);
    if (!s->run(call)) {
        std::snprintf(log, sizeof log, "%.*s: malformed arguments, %s",
                      static_cast<int>(service_name(*s).size()), service_name(*s).data(),
                      status_text(kStatusMalformed).c_str());
        return refused(service_reply(kStatusMalformed, s->failure_value, nullptr, s->output_size),
                       log);
    }
    int n = std::snprintf(log, sizeof log, "%.*s %s: returned 0x%08X",
                          static_cast<int>(service_name(*s).size()), service_name(*s).data(),
                          call.description(), call.value());
    if (call.failed() && n > 0 && static_cast<size_t>(n) < sizeof log) {
        std::snprintf(log + n, sizeof log - static_cast<size_t>(n), ", error %u",
                      ctx.module.controller_os.last_error);
    }
    // A failed call carries at least its zero-filled outputs; one that succeeded, all of them.
    const size_t size = std::max(call.output_size(), s->output_size);
    Bytes out = service_reply(kStatusOk, call.value(), call.output(), call.output_size());
    out.resize(xcpu::kReplyHead + size, 0);
    return answer(std::move(out), log);
}

Execution on_xcpu_run_program(Context& ctx, const Request& req) {
    ControllerOs& os = ctx.module.controller_os;
    if (!os.enabled()) return not_a_controller("program start");
    // The name field, zero-padded (full when the name has 64 characters), then the argument
    // text ending in its zero byte, which ends the request.
    const Bytes& p = req.payload;
    if (!complemented(req) || p.size() <= kProgramArgsAt || p.back() != 0 ||
        std::find(p.begin() + kProgramArgsAt, p.end() - 1, 0) != p.end() - 1) {
        return malformed("program start");
    }
    const auto* field = p.data() + 2;
    const size_t name_len =
        static_cast<size_t>(std::find(field, field + kProgramNameField, 0) - field);
    std::string name(field, field + name_len);
    std::string args(p.begin() + kProgramArgsAt, p.end() - 1);
    const std::string log = "program start \"" + log_text(field, name_len) + "\" with \"" +
                            log_text(p.data() + kProgramArgsAt, args.size()) +
                            "\": recorded, not run";
    os.record_program(std::move(name), std::move(args));
    return answer(status_only(kStatusOk), log.c_str());
}

Execution on_xcpu_set_os_load(Context& ctx, const Request& req) {
    ControllerOs& os = ctx.module.controller_os;
    if (!os.enabled()) return not_a_controller("OS load");
    if (!complemented(req) || req.payload.size() != 6) return malformed("OS load");
    os.os_load = get_u32(req.payload.data() + 2);
    ++os.os_load_writes;
    char log[64];
    std::snprintf(log, sizeof log, "OS load set to %u (0x%08X)", os.os_load, os.os_load);
    return answer(unread_reply(status_only(kStatusOk)), log);
}

Execution on_xcpu_reboot(Context& ctx, const Request& req) {
    ControllerOs& os = ctx.module.controller_os;
    if (!os.enabled()) return not_a_controller("restart");
    if (!complemented(req) || req.payload.size() != 2) return malformed("restart");
    ++os.reboots;
    char log[80];
    std::snprintf(log, sizeof log, "restart number %llu: recorded, not carried out",
                  static_cast<unsigned long long>(os.reboots));
    return answer(unread_reply(status_only(kStatusOk)), log);
}

// A service the module refuses: the status word, the service's failure value and its outputs
// zeroed, as for malformed arguments.
bool refuse_service(Context&, const Request& req, uint16_t status, Execution* ex) {
    Reader in(req.payload);
    uint16_t number = 0;
    const Service* s = in.skip(2) && in.u16(&number) ? find_service(number) : nullptr;
    *ex = refused(service_reply(status, s ? s->failure_value : 0, nullptr, s ? s->output_size : 0),
                  ("service call refused, " + status_text(status)).c_str());
    return true;
}

}  // namespace racksim
