// The controller module's services: the number that a service call (function code 0x35) names
// in its third and fourth bytes, and the Windows function that the module carries out for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocab/named.h"

namespace zeb::vocab {

namespace service {

// Files and directories.
inline constexpr uint16_t kCreateFile = 0x01;
inline constexpr uint16_t kReadFile = 0x02;
inline constexpr uint16_t kWriteFile = 0x03;
inline constexpr uint16_t kCloseHandle = 0x05;
inline constexpr uint16_t kGetFileTime = 0x0B;
inline constexpr uint16_t kSetFileTime = 0x0C;
inline constexpr uint16_t kFindFirstFile = 0x0D;
inline constexpr uint16_t kFindClose = 0x0E;
inline constexpr uint16_t kFindNextFile = 0x0F;
inline constexpr uint16_t kDeleteFile = 0x10;
inline constexpr uint16_t kSetEndOfFile = 0x11;
inline constexpr uint16_t kSetFilePointer = 0x12;
inline constexpr uint16_t kFlushFileBuffers = 0x13;
inline constexpr uint16_t kGetFileSize = 0x14;
inline constexpr uint16_t kGetFileInformation = 0x16;
inline constexpr uint16_t kSetFileAttributes = 0x17;
inline constexpr uint16_t kGetFileAttributes = 0x18;
inline constexpr uint16_t kCreateDirectory = 0x19;
inline constexpr uint16_t kRemoveDirectory = 0x1A;

// The module's last-error value.
inline constexpr uint16_t kGetLastError = 0x04;
inline constexpr uint16_t kSetLastError = 0x0A;

// Serial ports, opened and closed as files.
inline constexpr uint16_t kSetCommState = 0x06;
inline constexpr uint16_t kGetCommState = 0x07;
inline constexpr uint16_t kSetCommTimeouts = 0x08;
inline constexpr uint16_t kGetCommTimeouts = 0x09;
inline constexpr uint16_t kPurgeComm = 0x1B;
inline constexpr uint16_t kClearCommError = 0x1C;
inline constexpr uint16_t kGetCommProperties = 0x1D;

// Every reply: a status word, the Windows function's 32-bit return value, then its outputs.
inline constexpr size_t kReplyHeadSize = 6;
// What CreateFile and FindFirstFile return when they fail (INVALID_HANDLE_VALUE).
inline constexpr uint32_t kInvalidHandle = 0xFFFFFFFF;

}  // namespace service

// Every service, in the order of its number (0x15 is none).
inline constexpr Named<uint16_t> kServices[] = {
    {service::kCreateFile, "CreateFile"},
    {service::kReadFile, "ReadFile"},
    {service::kWriteFile, "WriteFile"},
    {service::kGetLastError, "GetLastError"},
    {service::kCloseHandle, "CloseHandle"},
    {service::kSetCommState, "SetCommState"},
    {service::kGetCommState, "GetCommState"},
    {service::kSetCommTimeouts, "SetCommTimeouts"},
    {service::kGetCommTimeouts, "GetCommTimeouts"},
    {service::kSetLastError, "SetLastError"},
    {service::kGetFileTime, "GetFileTime"},
    {service::kSetFileTime, "SetFileTime"},
    {service::kFindFirstFile, "FindFirstFile"},
    {service::kFindClose, "FindClose"},
    {service::kFindNextFile, "FindNextFile"},
    {service::kDeleteFile, "DeleteFile"},
    {service::kSetEndOfFile, "SetEndOfFile"},
    {service::kSetFilePointer, "SetFilePointer"},
    {service::kFlushFileBuffers, "FlushFileBuffers"},
    {service::kGetFileSize, "GetFileSize"},
    {service::kGetFileInformation, "GetFileInformationByHandle"},
    {service::kSetFileAttributes, "SetFileAttributes"},
    {service::kGetFileAttributes, "GetFileAttributes"},
    {service::kCreateDirectory, "CreateDirectory"},
    {service::kRemoveDirectory, "RemoveDirectory"},
    {service::kPurgeComm, "PurgeComm"},
    {service::kClearCommError, "ClearCommError"},
    {service::kGetCommProperties, "GetCommProperties"},
};
static_assert(ascending(kServices));

}  // namespace zeb::vocab
