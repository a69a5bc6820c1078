// Raw service calls to a controller module: request payloads built as a host builds them (the
// function code, its complement, the service number, the arguments), replies taken apart, and
// the Windows values the tests name.
#pragma once

#include <cstdint>
#include <string>

#include "rack.h"
#include "temp_folder.h"
#include "test_util.h"

namespace racksim::test {

namespace svc {
inline constexpr uint16_t kCreateFile = 0x01, kReadFile = 0x02, kWriteFile = 0x03,
                          kGetLastError = 0x04, kCloseHandle = 0x05, kSetCommState = 0x06,
                          kGetCommState = 0x07, kSetCommTimeouts = 0x08, kGetCommTimeouts = 0x09,
                          kSetLastError = 0x0A, kGetFileTime = 0x0B, kSetFileTime = 0x0C,
                          kFindFirstFile = 0x0D, kFindClose = 0x0E, kFindNextFile = 0x0F,
                          kDeleteFile = 0x10, kSetEndOfFile = 0x11, kSetFilePointer = 0x12,
                          kFlushFileBuffers = 0x13, kGetFileSize = 0x14, kGetFileInfo = 0x16,
                          kSetFileAttributes = 0x17, kGetFileAttributes = 0x18,
                          kCreateDirectory = 0x19, kRemoveDirectory = 0x1A, kPurgeComm = 0x1B,
                          kClearCommError = 0x1C, kGetCommProperties = 0x1D;
}  // namespace svc

inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kReadWrite = kGenericRead | kGenericWrite;
inline constexpr uint32_t kShareRead = 1, kShareWrite = 2;
inline constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4;
inline constexpr uint32_t kBadHandle = 0xFFFFFFFF;

// Argument bytes, in order.
struct Args {
    Bytes b;
    Args& u32(uint32_t v);
    Args& u64(uint64_t v);
    Args& raw(const Bytes& bytes);
    Args& zeros(size_t n);
    // 16-bit length (with the zero byte), the characters, the zero byte.
    Args& path(const std::string& text);
};

// 0x35 0xCA, the service number, the arguments.
Bytes service(uint16_t number, const Bytes& args = {});

struct ServiceReply {
    uint16_t status = 0xFFFF;
    uint32_t value = 0;
    Bytes out;        // after the return value
    size_t size = 0;  // of the whole payload
};

ServiceReply decode_service(const Reply& r);
ServiceReply call(Rack& rack, uint16_t number, const Bytes& args = {});

// A rack of one controller module at kModuleA keeping its files in `root`.
Rack controller_rack(const std::string& root);

// Frequent calls, each expecting status 0.
uint32_t open_file(Rack& rack, const std::string& path, uint32_t access, uint32_t creation,
                   uint32_t share = 0);
uint32_t last_error(Rack& rack);
bool close_handle(Rack& rack, uint32_t handle);

}  // namespace racksim::test
