// The controller's files and directories, each a service call named after the Windows function
// that the module carries out for it.
#include <cstring>

#include "xcpu/service.h"

namespace zeb::xcpu {
namespace {

using Call = ServiceCall<kCommonBuffer, kCommonBuffer>;
using FindCall = ServiceCall<kFindBuffer, kFindBuffer>;
using ReadCall = ServiceCall<kSmallBuffer, kLargeBuffer>;
using WriteCall = ServiceCall<kLargeBuffer, kCommonBuffer>;

// The most a read can bring back: the reply, with its header and the 10 bytes before the data,
// fills its capacity.
constexpr size_t kReadDataAt = kOutputsAt + kValueSize;
constexpr size_t kReadMax = kLargeBuffer - frame::kHeaderSize - kReadDataAt;
static_assert(kReadMax == 1581);

// Delivers at most the bytes asked for and at most the bytes that arrived, whatever count the
// reply gives: more than asked for gives ZEBERR_BUFFER_TOO_SMALL, fewer than the count says
// ZEBERR_NO_DATA. A nonzero status word is the result either way.
int32_t deliver_read(const ServiceReply& reply, uint8_t* buffer, uint32_t count,
                     uint32_t* bytes_read, uint32_t* result) noexcept {
    if (!reply.has(0, kReadDataAt)) return short_reply(reply);
    const ListCut cut = cut_list(reply.u32(kOutputsAt), reply.size - kReadDataAt, count, 0);
    if (cut.count) std::memcpy(buffer, reply.body + kReadDataAt, cut.count);
    put(bytes_read, static_cast<uint32_t>(cut.count));
    put(result, reply.u32(kReturnValueAt));
    return reply.status() ? status_as_result(reply) : as_result(cut.result);
}

int32_t read_file(ZEBDevice* device, uint32_t file, uint8_t* buffer, uint32_t count,
                  uint32_t* bytes_read, uint32_t* result) noexcept {
    if (count > kReadMax) return as_result(ZEBERR_PACKET_TOO_LARGE);
    // Bytes read with nowhere to go would be lost from the file.
    if (!buffer && count) return as_result(ZEBERR_BAD_PARAMETER);
    ReadCall call(device, Service::read_file);
    call.number(file).number(count);
    if (const uint32_t r = call.send()) return as_result(r);
    return deliver_read(call.reply(), buffer, count, bytes_read, result);
}

}  // namespace
}  // namespace zeb::xcpu

using namespace zeb;
using namespace zeb::xcpu;

extern "C" {

int32_t XCPUCreateFile(ZEBDevice* device, const char* path, uint32_t access, uint32_t share,
                       uint32_t creation, uint32_t flags, uint32_t* handle_out) {
    return Call(device, Service::create_file)
        .path(path)
        .number(access)
        .number(share)
        .number(creation)
        .number(flags)
        .run(handle_out);
}

int32_t XCPUReadFile(ZEBDevice* device, uint32_t file, uint8_t* buffer, uint32_t count,
                     uint32_t* bytes_read, uint32_t* result) {
    return read_file(device, file, buffer, count, bytes_read, result);
}

int32_t XCPUWriteFile(ZEBDevice* device, uint32_t file, const uint8_t* data, uint32_t count,
                      uint32_t* bytes_written, uint32_t* result) {
    return WriteCall(device, Service::write_file)
        .number(file)
        .number(count)
        .block(data, count)
        .run(result, {value(bytes_written)});
}

int32_t XCPUCloseHandle(ZEBDevice* device, uint32_t handle, uint32_t* result) {
    return Call(device, Service::close_handle).number(handle).run(result);
}

int32_t XCPUGetFileTime(ZEBDevice* device, uint32_t file, ZEBFileTime* creation,
                        ZEBFileTime* last_access, ZEBFileTime* last_write, uint32_t* result) {
    return Call(device, Service::get_file_time)
        .number(file)
        .run(result, {record(creation), record(last_access), record(last_write)});
}

int32_t XCPUSetFileTime(ZEBDevice* device, uint32_t file, const ZEBFileTime* creation,
                        const ZEBFileTime* last_access, const ZEBFileTime* last_write,
                        uint32_t* result) {
    return Call(device, Service::set_file_time)
        .number(file)
        .record(creation)
        .record(last_access)
        .record(last_write)
        .run(result);
}

int32_t XCPUFindFirstFile(ZEBDevice* device, const char* pattern, ZEBFindData* find_data,
                          uint32_t* result) {
    return FindCall(device, Service::find_first_file)
        .path(pattern)
        .record(find_data)
        .run(result, {record(find_data)});
}

int32_t XCPUFindNextFile(ZEBDevice* device, uint32_t find, ZEBFindData* find_data,
                         uint32_t* result) {
    return FindCall(device, Service::find_next_file)
        .number(find)
        .record(find_data)
        .run(result, {record(find_data)});
}

int32_t XCPUFindClose(ZEBDevice* device, uint32_t find, uint32_t* result) {
    return FindCall(device, Service::find_close).number(find).run(result);
}

int32_t XCPUDeleteFile(ZEBDevice* device, const char* path, uint32_t* result) {
    return Call(device, Service::delete_file).path(path).run(result);
}

int32_t XCPUSetEndOfFile(ZEBDevice* device, uint32_t file, uint32_t* result) {
    return Call(device, Service::set_end_of_file).number(file).run(result);
}

int32_t XCPUSetFilePointer(ZEBDevice* device, uint32_t file, int32_t distance,
                           int32_t* distance_high, uint32_t method, uint32_t* result) {
    return Call(device, Service::set_file_pointer)
        .number(file)
        .number(static_cast<uint32_t>(distance))
        .number(distance_high ? static_cast<uint32_t>(*distance_high) : 0)
        .number(method)
        .run(result, {value(distance_high)});
}

int32_t XCPUFlushFileBuffers(ZEBDevice* device, uint32_t file, uint32_t* result) {
    return Call(device, Service::flush_file_buffers).number(file).run(result);
}

int32_t XCPUGetFileSize(ZEBDevice* device, uint32_t file, uint32_t* size_high, uint32_t* result) {
    return Call(device, Service::get_file_size).number(file).run(result, {value(size_high)});
}

int32_t XCPUGetFileInformationByHandle(ZEBDevice* device, uint32_t file, ZEBFileInfo* info,
                                       uint32_t* result) {
    return Call(device, Service::get_file_information).number(file).run(result, {record(info)});
}

int32_t XCPUSetFileAttributes(ZEBDevice* device, const char* path, uint32_t attributes,
                              uint32_t* result) {
    return Call(device, Service::set_file_attributes).path(path).number(attributes).run(result);
}

int32_t XCPUGetFileAttributes(ZEBDevice* device, const char* path, uint32_t* result) {
    return Call(device, Service::get_file_attributes).path(path).run(result);
}

int32_t XCPUCreateDirectory(ZEBDevice* device, const char* path,
                            const ZEBSecurityAttributes* security, uint32_t* result) {
    return Call(device, Service::create_directory).path(path).record_or_zeros(security).run(result);
}

int32_t XCPURemoveDirectory(ZEBDevice* device, const char* path, uint32_t* result) {
    return Call(device, Service::remove_directory).path(path).run(result);
}

}  // extern "C"
