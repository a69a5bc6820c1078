// ZEBResultText: a short English text for any result the library returns. Built in the
// caller's buffer with no allocation, no shared state and no locale, so any thread may call it.
#include <cstddef>
#include <cstdint>

#include "zeb.h"

namespace zeb {
namespace {

struct NamedCode {
    uint32_t code;
    const char* name;
    const char* text;
};

constexpr NamedCode kLibraryCodes[] = {
    {ZEBWARN_RETRIED, "ZEBWARN_RETRIED", "success after re-sends"},
    {ZEBERR_BAD_VERSION, "ZEBERR_BAD_VERSION", "the version argument is not 3"},
    {ZEBERR_BAD_TRANSPORT, "ZEBERR_BAD_TRANSPORT", "unknown transport kind"},
    {ZEBERR_BAD_DEVICE, "ZEBERR_BAD_DEVICE",
     "no device, a bad header size, or a serial device whose port is not open"},
    {ZEBERR_BUFFER_TOO_SMALL, "ZEBERR_BUFFER_TOO_SMALL",
     "the data was cut to fit the caller's buffer"},
    {ZEBERR_NO_DATA, "ZEBERR_NO_DATA", "the reply carried no data"},
    {ZEBERR_TIMEOUT, "ZEBERR_TIMEOUT", "no reply, after every re-send"},
    {ZEBERR_BAD_PROTOCOL, "ZEBERR_BAD_PROTOCOL", "the transport's protocol is neither IPX nor IP"},
    {ZEBERR_NEEDS_BROADCAST, "ZEBERR_NEEDS_BROADCAST",
     "the module can be reached by broadcast only"},
    {ZEBERR_NULL_TRANSPORT, "ZEBERR_NULL_TRANSPORT", "no transport given"},
    {ZEBERR_BAD_CRC, "ZEBERR_BAD_CRC", "the reply's CRC is wrong"},
    {ZEBERR_BAD_PARAMETER, "ZEBERR_BAD_PARAMETER",
     "an argument is out of range, or the reply does not fit the request"},
    {ZEBERR_NO_PACKET, "ZEBERR_NO_PACKET", "no reply is waiting yet"},
    {ZEBERR_MISMATCHED_REPLY, "ZEBERR_MISMATCHED_REPLY", "the reply does not answer the request"},
    {ZEBERR_PACKET_TOO_LARGE, "ZEBERR_PACKET_TOO_LARGE",
     "the request is too large; nothing was sent"},
};

constexpr NamedCode kWinsockCodes[] = {
    {10004, "WSAEINTR", "the call was interrupted"},
    {10009, "WSAEBADF", "bad file handle"},
    {10013, "WSAEACCES", "permission denied"},
    {10014, "WSAEFAULT", "bad address"},
    {10022, "WSAEINVAL", "invalid argument"},
    {10024, "WSAEMFILE", "too many open sockets"},
    {10035, "WSAEWOULDBLOCK", "the operation would block"},
    {10036, "WSAEINPROGRESS", "an operation is in progress"},
    {10037, "WSAEALREADY", "the operation is already in progress"},
    {10038, "WSAENOTSOCK", "not a socket"},
    {10039, "WSAEDESTADDRREQ", "a destination address is required"},
    {10040, "WSAEMSGSIZE", "the message is too long"},
    {10041, "WSAEPROTOTYPE", "wrong protocol type for the socket"},
    {10042, "WSAENOPROTOOPT", "bad protocol option"},
    {10043, "WSAEPROTONOSUPPORT", "protocol not supported"},
    {10044, "WSAESOCKTNOSUPPORT", "socket type not supported"},
    {10045, "WSAEOPNOTSUPP", "operation not supported"},
    {10046, "WSAEPFNOSUPPORT", "protocol family not supported"},
    {10047, "WSAEAFNOSUPPORT", "address family not supported"},
    {10048, "WSAEADDRINUSE", "the address is already in use"},
    {10049, "WSAEADDRNOTAVAIL", "the address is not available on this host"},
    {10050, "WSAENETDOWN", "the network is down"},
    {10051, "WSAENETUNREACH", "the network is unreachable"},
    {10052, "WSAENETRESET", "the network dropped the connection"},
    {10053, "WSAECONNABORTED", "the connection was aborted"},
    {10054, "WSAECONNRESET", "the connection was reset by the peer"},
    {10055, "WSAENOBUFS", "no buffer space available"},
    {10056, "WSAEISCONN", "the socket is already connected"},
    {10057, "WSAENOTCONN", "the socket is not connected"},
    {10058, "WSAESHUTDOWN", "the socket has been shut down"},
    {10059, "WSAETOOMANYREFS", "too many references"},
    {10060, "WSAETIMEDOUT", "the connection timed out"},
    {10061, "WSAECONNREFUSED", "the connection was refused"},
    {10062, "WSAELOOP", "too many levels of symbolic links"},
    {10063, "WSAENAMETOOLONG", "the name is too long"},
    {10064, "WSAEHOSTDOWN", "the host is down"},
    {10065, "WSAEHOSTUNREACH", "no route to the host"},
    {10066, "WSAENOTEMPTY", "the directory is not empty"},
    {10067, "WSAEPROCLIM", "too many processes"},
    {10068, "WSAEUSERS", "too many users"},
    {10069, "WSAEDQUOT", "disk quota exceeded"},
    {10070, "WSAESTALE", "stale file handle"},
    {10071, "WSAEREMOTE", "the item is remote"},
    {10091, "WSASYSNOTREADY", "the network subsystem is not ready"},
    {10092, "WSAVERNOTSUPPORTED", "the Winsock version is not supported"},
    {10093, "WSANOTINITIALISED", "Winsock has not been started"},
    {10101, "WSAEDISCON", "the peer is disconnecting"},
    {10107, "WSASYSCALLFAILURE", "a system call failed"},
    {11001, "WSAHOST_NOT_FOUND", "host not found"},
    {11002, "WSATRY_AGAIN", "host not found for now; try again"},
    {11003, "WSANO_RECOVERY", "a name server error that cannot be recovered"},
    {11004, "WSANO_DATA", "no address for the name"},
};

constexpr NamedCode kWindowsCodes[] = {
    {1, "ERROR_INVALID_FUNCTION", "the function is not supported by the device"},
    {2, "ERROR_FILE_NOT_FOUND", "the file or port does not exist"},
    {3, "ERROR_PATH_NOT_FOUND", "the path does not exist"},
    {4, "ERROR_TOO_MANY_OPEN_FILES", "too many open files"},
    {5, "ERROR_ACCESS_DENIED", "access denied"},
    {6, "ERROR_INVALID_HANDLE", "invalid handle"},
    {8, "ERROR_NOT_ENOUGH_MEMORY", "not enough memory"},
    {13, "ERROR_INVALID_DATA", "the data is invalid"},
    {14, "ERROR_OUTOFMEMORY", "out of memory"},
    {19, "ERROR_WRITE_PROTECT", "the medium is write-protected"},
    {21, "ERROR_NOT_READY", "the device is not ready"},
    {23, "ERROR_CRC", "data error (cyclic redundancy check)"},
    {31, "ERROR_GEN_FAILURE", "the device does not work"},
    {32, "ERROR_SHARING_VIOLATION", "the port or file is in use elsewhere"},
    {33, "ERROR_LOCK_VIOLATION", "part of the file is locked"},
    {38, "ERROR_HANDLE_EOF", "end of file"},
    {50, "ERROR_NOT_SUPPORTED", "the request is not supported"},
    {80, "ERROR_FILE_EXISTS", "the file exists"},
    {87, "ERROR_INVALID_PARAMETER", "invalid parameter"},
    {109, "ERROR_BROKEN_PIPE", "the data stopped short (a serial reply cut off)"},
    {112, "ERROR_DISK_FULL", "the disk is full"},
    {121, "ERROR_SEM_TIMEOUT", "the time-out ran out"},
    {122, "ERROR_INSUFFICIENT_BUFFER", "the buffer is too small"},
    {123, "ERROR_INVALID_NAME", "invalid file name"},
    {145, "ERROR_DIR_NOT_EMPTY", "the directory is not empty"},
    {183, "ERROR_ALREADY_EXISTS", "it already exists"},
    {206, "ERROR_FILENAME_EXCED_RANGE", "the name is too long"},
    {995, "ERROR_OPERATION_ABORTED", "the operation was aborted"},
    {996, "ERROR_IO_INCOMPLETE", "the I/O is not complete"},
    {997, "ERROR_IO_PENDING", "the I/O is pending"},
    {1117, "ERROR_IO_DEVICE", "device I/O error"},
    {1167, "ERROR_DEVICE_NOT_CONNECTED", "the device is not connected"},
    {1223, "ERROR_CANCELLED", "the operation was cancelled"},
    {1460, "ERROR_TIMEOUT", "the write time-out ran out"},
};

constexpr uint32_t kWinsockFirst = 10000;
constexpr uint32_t kWinsockLast = 11999;

template <std::size_t N>
const NamedCode* find(const NamedCode (&table)[N], uint32_t code) {
    for (const NamedCode& entry : table) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

// Appends to a caller's buffer, keeping room for the terminator, and counts every character
// the whole text needs.
class TextSink {
  public:
    TextSink(char* buffer, uint32_t size) : buffer_(size > 0 ? buffer : nullptr), size_(size) {}

    void put(char c) {
        if (buffer_ && length_ + 1 < size_) buffer_[length_] = c;
        ++length_;
    }
    void put(const char* text) {
        while (*text) put(*text++);
    }
    void put_decimal(uint32_t value) {
        char digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) put(digits[--n]);
    }
    // "0x" and exactly `digits` upper-case hex digits.
    void put_hex(uint32_t value, int digits) {
        put("0x");
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
            put("0123456789ABCDEF"[(value >> shift) & 0xF]);
        }
    }
    // Terminates what fits and returns the full length.
    uint32_t finish() {
        if (buffer_) buffer_[length_ < size_ ? length_ : size_ - 1] = '\0';
        return length_;
    }

  private:
    char* buffer_;
    uint32_t size_;
    uint32_t length_ = 0;
};

void put_named(TextSink& out, const NamedCode& entry) {
    out.put(entry.name);
    out.put(": ");
    out.put(entry.text);
}

// What a module's status word says, by its class: bit 15 marks a refusal; a word whose low 12
// bits are clear (or 0x0086, a read past an area's end) still came with its data.
void put_status_class(TextSink& out, uint16_t status) {
    out.put("module status ");
    out.put_hex(status, 4);
    if (status & 0x8000u) {
        out.put(": the module refused the request");
    } else if ((status & 0x0FFFu) == 0 || status == 0x0086u) {
        out.put(": a notice from the module; its data came with it");
    } else {
        out.put(": the module reported an error");
    }
}

// 1 to 0x7FFF: a status word sign-extended, or a Windows error number passed through.
void put_small(TextSink& out, uint32_t result) {
    if (const NamedCode* windows = find(kWindowsCodes, result)) {
        out.put(windows->name);
        out.put(" (Windows error ");
        out.put_decimal(result);
        out.put("): ");
        out.put(windows->text);
        out.put("; or ");
        put_status_class(out, static_cast<uint16_t>(result));
        return;
    }
    put_status_class(out, static_cast<uint16_t>(result));
    out.put(" (or Windows error ");
    out.put_decimal(result);
    out.put(")");
}

void describe(TextSink& out, uint32_t result) {
    if (result == 0) {
        out.put("success");
        return;
    }
    if (const NamedCode* own = find(kLibraryCodes, result)) {
        put_named(out, *own);
        return;
    }
    if (result >= kWinsockFirst && result <= kWinsockLast) {
        if (const NamedCode* winsock = find(kWinsockCodes, result)) {
            out.put(winsock->name);
            out.put(" (Winsock error ");
            out.put_decimal(result);
            out.put("): ");
            out.put(winsock->text);
        } else {
            out.put("Winsock error ");
            out.put_decimal(result);
        }
        return;
    }
    if (result < 0x8000u) {
        put_small(out, result);
        return;
    }
    if (result <= 0xFFFFu && (result & 0x7FFFu) != 0) {
        // An I/O or configuration reply's status word, given bit 15 by the conversion.
        put_status_class(out, static_cast<uint16_t>(result & 0x7FFFu));
        out.put(" (I/O or configuration reply)");
        return;
    }
    if (result >= 0xFFFF8000u) {
        put_status_class(out, static_cast<uint16_t>(result));
        return;
    }
    out.put("unknown result ");
    out.put_hex(result, 8);
}

}  // namespace
}  // namespace zeb

extern "C" {

uint32_t ZEBResultText(uint32_t result, char* buffer, uint32_t size) {
    zeb::TextSink out(buffer, size);
    zeb::describe(out, result);
    return out.finish();
}

}  // extern "C"
