// The controller as a whole: its OS-load value, a restart, starting a program, and its
// last-error number.
#include "xcpu/service.h"

namespace zeb::xcpu {
namespace {

constexpr size_t kControlRequest = kSmallBuffer;
constexpr size_t kControlReply = vocab::capacity::kSmallestReply;
constexpr size_t kRunRequest = kCommonBuffer;
constexpr size_t kRunReply = vocab::capacity::kSmallestReply;
constexpr size_t kNameField = 64;

// A request of its own code and a value or nothing; the reply's content is not looked at.
uint32_t control(ZEBDevice* device, uint8_t code, const uint32_t* value) noexcept {
    Request<kControlRequest> request(device);
    put_code(request, code);
    if (value) request.u32(*value);
    Reply<kControlReply> reply;
    return exchange(device, request, reply, Wait::always, Warn::no);
}

// A command line split into the program's name and its argument text. The name runs from the
// first character that is not a space up to the next space; a tab belongs to it. The argument
// text starts after the white space that follows.
struct CommandLine {
    const char* name;
    size_t name_length;  // kNameField + 1 for a name longer than the field
    const char* arguments;
};

bool white(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

CommandLine split(const char* line) noexcept {
    while (*line == ' ') ++line;
    CommandLine c{line, 0, nullptr};
    while (c.name_length <= kNameField && line[c.name_length] != '\0' && line[c.name_length] != ' ')
        ++c.name_length;
    const char* rest = line + c.name_length;
    while (white(*rest)) ++rest;
    c.arguments = rest;
    return c;
}

int32_t run_program(ZEBDevice* device, const char* line) noexcept {
    if (!line) return as_result(ZEBERR_BAD_PARAMETER);
    // Nothing to start: nothing is sent.
    if (line[0] == '\0') return -1;
    const CommandLine c = split(line);
    if (c.name_length > kNameField) return as_result(ZEBERR_PACKET_TOO_LARGE);
    const size_t argument_length = bounded_length(c.arguments, kRunRequest);
    if (argument_length >= kRunRequest) return as_result(ZEBERR_PACKET_TOO_LARGE);

    static constexpr uint8_t kZeros[kNameField] = {};
    Request<kRunRequest> request(device);
    put_code(request, fn::kXcpuRunProgram);
    request.bytes(c.name, c.name_length).bytes(kZeros, kNameField - c.name_length);
    request.bytes(c.arguments, argument_length + 1);
    Reply<kRunReply> reply;
    if (const uint32_t r = exchange(device, request, reply, Wait::always, Warn::no))
        return as_result(r);
    return deliver(view(reply), nullptr, {});
}

using LastErrorCall = ServiceCall<kCommonBuffer, kCommonBuffer>;

}  // namespace
}  // namespace zeb::xcpu

using namespace zeb;
using namespace zeb::xcpu;

extern "C" {

int32_t XCPUSetOSLoad(ZEBDevice* device, uint32_t value) {
    return as_result(control(device, fn::kXcpuSetOsLoad, &value));
}

int32_t XCPUReboot(ZEBDevice* device) {
    return as_result(control(device, fn::kXcpuReboot, nullptr));
}

int32_t XCPURunProgram(ZEBDevice* device, const char* command_line) {
    return run_program(device, command_line);
}

int32_t XCPUGetLastError(ZEBDevice* device, uint32_t* last_error) {
    return LastErrorCall(device, Service::get_last_error).run(last_error);
}

int32_t XCPUSetLastError(ZEBDevice* device, uint32_t error) {
    return LastErrorCall(device, Service::set_last_error).number(error).run(nullptr);
}

}  // extern "C"
