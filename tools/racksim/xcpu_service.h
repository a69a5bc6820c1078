// One service call to a controller module (function code 0x35): its arguments, read without
// passing their end, and its reply (status word, 32-bit return value, output data) built in a
// fixed buffer. The services themselves live in handlers_xcpu_files.cpp (files, directories,
// searches) and handlers_xcpu_serial.cpp (serial ports); handlers_xcpu.cpp dispatches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "capacities.h"
#include "context.h"
#include "controller_os.h"
#include "frame.h"
#include "module.h"
#include "vocab/records.h"
#include "vocab/services.h"
#include "windows_errors.h"

namespace racksim {

namespace xcpu {

// A file read's reply is the largest a host takes.
inline constexpr size_t kMaxReplyPayload = capacity::kServiceReadReply - kHeaderSize;
inline constexpr size_t kReplyHead = zeb::vocab::service::kReplyHeadSize;
inline constexpr size_t kMaxOutput = kMaxReplyPayload - kReplyHead;
inline constexpr size_t kMaxReadData = kMaxOutput - 4;  // after the count of bytes read

inline constexpr uint32_t kTrue = 1;
inline constexpr uint32_t kFalse = 0;
}  // namespace xcpu

class ServiceCall {
  public:
    ServiceCall(Context& c, const uint8_t* args, size_t len, uint32_t failure_value)
        : ctx(c), os(c.module.controller_os), in_(args, len), failure_(failure_value) {}

    Context& ctx;
    ControllerOs& os;

    // Arguments. Each is false, with nothing read, when the request ends too early.
    bool u32(uint32_t* v) { return in_.u32(v); }
    bool record(uint8_t* out, size_t n);
    // A path: 16-bit length counting the zero byte, the characters, the zero byte. False also
    // for a length of 0, a missing zero byte and a zero byte inside. The log describes it.
    bool path(std::string_view* text);
    // A handle value; the log describes it as `what` ("handle 0x00000101").
    bool handle_arg(uint32_t* value, const char* what = "handle");
    // Data of a write: exactly the rest of the request.
    bool rest(const uint8_t** data, size_t n);
    // Nothing is left: a request with more than its arguments is refused like a short one.
    bool end() const { return in_.done(); }

    // The outcome of the Windows function. Both return true, the service's own result once it
    // has carried the function out, so that a service may end with `return c.fail(error);`.
    bool succeed(uint32_t value) {
        value_ = value;
        return true;
    }
    // Fails with a Windows error: the module's last error takes it, the return value is the
    // service's failure value.
    bool fail(uint32_t error);
    bool failed() const { return failed_; }
    uint32_t value() const { return value_; }
    // The open handle with this value and one of `kinds`; otherwise the call fails with an
    // invalid handle and null is returned.
    OsHandle* handle(uint32_t value, unsigned kinds) {
        OsHandle* h = os.find(value, kinds);
        if (!h) fail(winerr::kInvalidHandle);
        return h;
    }

    // Output data, after the return value, cut at what one reply holds.
    void out_u32(uint32_t v);
    void out(const uint8_t* p, size_t n);
    // Room for n bytes of output to be filled in place; null when they would not fit.
    uint8_t* out_space(size_t n);
    const uint8_t* output() const { return output_.data(); }
    size_t output_size() const { return output_len_; }

    // What the log says about the call ("\"dir\\a.txt\" -> handle 0x00000101").
    void describe(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Appends a path or name to the description, bytes outside printable ASCII escaped.
    void describe_text(std::string_view text);
    const char* description() const { return what_; }

  private:
    Reader in_;
    uint32_t failure_;
    uint32_t value_ = 0;
    bool failed_ = false;
    std::array<uint8_t, xcpu::kMaxOutput> output_{};
    size_t output_len_ = 0;
    char what_[240] = {};
    size_t what_len_ = 0;
};

// Each service reads its arguments, returns false at once when they are malformed (nothing
// done), else carries out the function and sets the return value and outputs.
using ServiceFn = bool (*)(ServiceCall&);

// Files, directories, searches (handlers_xcpu_files.cpp).
bool svc_create_file(ServiceCall& c);           // 0x01
bool svc_read_file(ServiceCall& c);             // 0x02
bool svc_write_file(ServiceCall& c);            // 0x03
bool svc_close_handle(ServiceCall& c);          // 0x05
bool svc_get_file_time(ServiceCall& c);         // 0x0B
bool svc_set_file_time(ServiceCall& c);         // 0x0C
bool svc_find_first_file(ServiceCall& c);       // 0x0D
bool svc_find_close(ServiceCall& c);            // 0x0E
bool svc_find_next_file(ServiceCall& c);        // 0x0F
bool svc_delete_file(ServiceCall& c);           // 0x10
bool svc_set_end_of_file(ServiceCall& c);       // 0x11
bool svc_set_file_pointer(ServiceCall& c);      // 0x12
bool svc_flush_file_buffers(ServiceCall& c);    // 0x13
bool svc_get_file_size(ServiceCall& c);         // 0x14
bool svc_get_file_information(ServiceCall& c);  // 0x16
bool svc_set_file_attributes(ServiceCall& c);   // 0x17
bool svc_get_file_attributes(ServiceCall& c);   // 0x18
bool svc_create_directory(ServiceCall& c);      // 0x19
bool svc_remove_directory(ServiceCall& c);      // 0x1A

// Serial ports (handlers_xcpu_serial.cpp).
bool svc_set_comm_state(ServiceCall& c);       // 0x06
bool svc_get_comm_state(ServiceCall& c);       // 0x07
bool svc_set_comm_timeouts(ServiceCall& c);    // 0x08
bool svc_get_comm_timeouts(ServiceCall& c);    // 0x09
bool svc_purge_comm(ServiceCall& c);           // 0x1B
bool svc_clear_comm_error(ServiceCall& c);     // 0x1C
bool svc_get_comm_properties(ServiceCall& c);  // 0x1D

// What the file services do when the name or handle is a serial port's.
// "COMn:" (also "COMn" and "\\.\COMn"), any case: true with the port number.
bool port_name(std::string_view path, int* number);
void open_port(ServiceCall& c, int number);
void read_port(ServiceCall& c, OsHandle& h, uint32_t count);
void write_port(ServiceCall& c, OsHandle& h, const uint8_t* data, size_t len);

}  // namespace racksim
