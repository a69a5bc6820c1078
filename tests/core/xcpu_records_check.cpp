// The controller services' records have the sizes of the module's Windows records. Built for
// Windows, they are compared with the system's own records where those share the module's
// layout, and the public header is read after <windows.h>, as a Windows host reads it.
#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstddef>

#include "zeb.h"

static_assert(sizeof(ZEBFindData) == 560);
static_assert(sizeof(ZEBFileTime) == 8);
static_assert(sizeof(ZEBFileInfo) == 52);
static_assert(sizeof(ZEBSecurityAttributes) == 12);
static_assert(sizeof(ZEBCommState) == 28);
static_assert(sizeof(ZEBCommTimeouts) == 20);
static_assert(sizeof(ZEBCommStatus) == 12);
static_assert(sizeof(ZEBCommProperties) == 64);

#if defined(_WIN32)
static_assert(sizeof(ZEBFileTime) == sizeof(FILETIME));
static_assert(offsetof(ZEBFileTime, HighDateTime) == offsetof(FILETIME, dwHighDateTime));

static_assert(sizeof(ZEBFileInfo) == sizeof(BY_HANDLE_FILE_INFORMATION));
static_assert(offsetof(ZEBFileInfo, LastWriteTime) ==
              offsetof(BY_HANDLE_FILE_INFORMATION, ftLastWriteTime));
static_assert(offsetof(ZEBFileInfo, SizeHigh) ==
              offsetof(BY_HANDLE_FILE_INFORMATION, nFileSizeHigh));
static_assert(offsetof(ZEBFileInfo, IndexLow) ==
              offsetof(BY_HANDLE_FILE_INFORMATION, nFileIndexLow));

static_assert(sizeof(ZEBCommState) == sizeof(DCB));
static_assert(offsetof(ZEBCommState, XonLimit) == offsetof(DCB, XonLim));
static_assert(offsetof(ZEBCommState, ByteSize) == offsetof(DCB, ByteSize));
static_assert(offsetof(ZEBCommState, EvtChar) == offsetof(DCB, EvtChar));

static_assert(sizeof(ZEBCommTimeouts) == sizeof(COMMTIMEOUTS));
static_assert(offsetof(ZEBCommTimeouts, WriteTotalTimeoutConstant) ==
              offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant));

static_assert(sizeof(ZEBCommStatus) == sizeof(COMSTAT));
static_assert(offsetof(ZEBCommStatus, InQueue) == offsetof(COMSTAT, cbInQue));

static_assert(sizeof(ZEBCommProperties) == sizeof(COMMPROP));
static_assert(offsetof(ZEBCommProperties, SettableData) == offsetof(COMMPROP, wSettableData));
static_assert(offsetof(ZEBCommProperties, CurrentTxQueue) == offsetof(COMMPROP, dwCurrentTxQueue));
static_assert(offsetof(ZEBCommProperties, ProvChar) == offsetof(COMMPROP, wcProvChar));

// The module is a 32-bit system: its SECURITY_ATTRIBUTES is the 32-bit host's, not the 64-bit
// one with its wider pointer.
#if !defined(_WIN64)
static_assert(sizeof(ZEBSecurityAttributes) == sizeof(SECURITY_ATTRIBUTES));
static_assert(offsetof(ZEBSecurityAttributes, InheritHandle) ==
              offsetof(SECURITY_ATTRIBUTES, bInheritHandle));
#endif

// The find record is the module's own (names of 260 UTF-16 units, no short name): no
// desktop Windows record has its layout, so it is compared with none.
#endif
