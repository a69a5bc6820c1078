// A controller module's serial ports as its services reach them: "COM1:" to "COM4:" opened with
// CreateFile, their line settings (DCB) and time-outs kept and handed back byte for byte,
// their queues purged, their errors and queue counts, their capabilities. Each port has a
// loopback plug: what WriteFile sends is there for ReadFile at once. Reads never wait; the
// time-outs are kept for the host to read back.
#include <algorithm>
#include <cstring>

#include "windows_errors.h"
#include "xcpu_service.h"

namespace racksim {

namespace {

constexpr unsigned kPorts = static_cast<unsigned>(HandleKind::port);

// PurgeComm flags.
constexpr uint32_t kPurgeTxAbort = 0x1;
constexpr uint32_t kPurgeRxAbort = 0x2;
constexpr uint32_t kPurgeTxClear = 0x4;
constexpr uint32_t kPurgeRxClear = 0x8;

char upper(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

// Line settings a port takes: a baud rate, 5 to 8 data bits, a known parity and stop bits.
bool valid_dcb(const uint8_t* d) {
    return get_u32(d + 4) != 0 && d[18] >= 5 && d[18] <= 8 && d[19] <= 4 && d[20] <= 2;
}

// How the log names the handle a serial service is given.
constexpr const char* kPortHandle = "port handle";

}  // namespace

bool port_name(std::string_view path, int* number) {
    if (path.substr(0, 4) == "\\\\.\\") path.remove_prefix(4);
    if (!path.empty() && path.back() == ':') path.remove_suffix(1);
    if (path.size() < 4 || path.size() > 6) return false;
    if (upper(path[0]) != 'C' || upper(path[1]) != 'O' || upper(path[2]) != 'M') return false;
    int n = 0;
    for (const char ch : path.substr(3)) {
        if (ch < '0' || ch > '9') return false;
        n = n * 10 + (ch - '0');
    }
    if (n == 0) return false;
    *number = n;
    return true;
}

void open_port(ServiceCall& c, int number) {
    if (number > kOsPortCount) {
        c.fail(winerr::kFileNotFound);
        return;
    }
    OsPort& p = c.os.port(number);
    if (p.open) {
        c.fail(winerr::kAccessDenied);  // one handle per port, as Windows allows
        return;
    }
    uint32_t value = 0;
    OsHandle* h = c.os.add(&value);
    if (!h) {
        c.fail(winerr::kTooManyOpenFiles);
        return;
    }
    h->kind = HandleKind::port;
    h->port = number;
    h->can_read = h->can_write = true;
    p.open = true;
    c.os.last_error = winerr::kSuccess;
    c.succeed(value);
    c.describe(" -> port handle 0x%08X", value);
}

void read_port(ServiceCall& c, OsHandle& h, uint32_t count) {
    uint8_t data[xcpu::kMaxReadData];
    const size_t got = c.os.port(h.port).receive(data, std::min<size_t>(count, sizeof data));
    c.out_u32(static_cast<uint32_t>(got));
    c.out(data, got);
    c.succeed(xcpu::kTrue);
    c.describe(", %zu read from COM%d:", got, h.port);
}

void write_port(ServiceCall& c, OsHandle& h, const uint8_t* data, size_t len) {
    c.os.port(h.port).loop_back(data, len);
    c.out_u32(static_cast<uint32_t>(len));
    c.succeed(xcpu::kTrue);
    c.describe(", sent on COM%d:", h.port);
}

bool svc_set_comm_state(ServiceCall& c) {
    uint32_t handle = 0;
    uint8_t dcb[records::kCommStateSize];
    if (!c.handle_arg(&handle, kPortHandle) || !c.record(dcb, sizeof dcb) || !c.end()) {
        return false;
    }
    OsHandle* h = c.handle(handle, kPorts);
    if (!h) return true;
    if (!valid_dcb(dcb)) return c.fail(winerr::kInvalidParameter);
    std::memcpy(c.os.port(h->port).dcb.data(), dcb, sizeof dcb);
    c.describe(", %u baud", get_u32(dcb + 4));
    return c.succeed(xcpu::kTrue);
}

bool svc_get_comm_state(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle, kPortHandle) || !c.end()) return false;
    OsHandle* h = c.handle(handle, kPorts);
    if (!h) return true;
    const auto& dcb = c.os.port(h->port).dcb;
    c.out(dcb.data(), dcb.size());
    return c.succeed(xcpu::kTrue);
}

bool svc_set_comm_timeouts(ServiceCall& c) {
    uint32_t handle = 0;
    uint8_t timeouts[records::kCommTimeoutsSize];
    if (!c.handle_arg(&handle, kPortHandle) || !c.record(timeouts, sizeof timeouts) || !c.end()) {
        return false;
    }
    OsHandle* h = c.handle(handle, kPorts);
    if (!h) return true;
    std::memcpy(c.os.port(h->port).timeouts.data(), timeouts, sizeof timeouts);
    return c.succeed(xcpu::kTrue);
}

bool svc_get_comm_timeouts(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle, kPortHandle) || !c.end()) return false;
    OsHandle* h = c.handle(handle, kPorts);
    if (!h) return true;
    const auto& t = c.os.port(h->port).timeouts;
    c.out(t.data(), t.size());
    return c.succeed(xcpu::kTrue);
}

bool svc_purge_comm(ServiceCall& c) {
    uint32_t handle = 0, flags = 0;
    if (!c.handle_arg(&handle, kPortHandle) || !c.u32(&flags) || !c.end()) return false;
    OsHandle* h = c.handle(handle, kPorts);
    if (!h) return true;
    c.describe(", flags 0x%X", flags);
    if (flags & ~(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear)) {
        return c.fail(winerr::kInvalidParameter);
    }
    // Nothing waits to be sent: written bytes are looped back at once.
    if (flags & (kPurgeRxAbort | kPurgeRxClear)) c.os.port(h->port).clear_rx();
    return c.succeed(xcpu::kTrue);
}

bool svc_clear_comm_error(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle, kPortHandle) || !c.end()) return false;
    OsHandle* h = c.handle(handle, kPorts);
    if (!h) return true;
    OsPort& p = c.os.port(h->port);
    uint8_t out[4 + records::kCommStatusSize] = {};
    set_u32(out, p.errors);
    set_u32(out + 8, static_cast<uint32_t>(p.rx_count()));  // COMSTAT: flags, in queue, out queue
    p.errors = 0;
    c.out(out, sizeof out);
    return c.succeed(xcpu::kTrue);
}

bool svc_get_comm_properties(ServiceCall& c) {
    uint32_t handle = 0;
    if (!c.handle_arg(&handle, kPortHandle) || !c.end()) return false;
    if (!c.handle(handle, kPorts)) return true;
    uint8_t p[records::kCommPropertiesSize] = {};
    set_u16(p, static_cast<uint16_t>(records::kCommPropertiesSize));  // wPacketLength
    set_u16(p + 2, 2);                                                // wPacketVersion
    set_u32(p + 4, 0x1);                                   // dwServiceMask: SP_SERIALCOMM
    set_u32(p + 12, static_cast<uint32_t>(kOsPortQueue));  // dwMaxTxQueue
    set_u32(p + 16, static_cast<uint32_t>(kOsPortQueue));  // dwMaxRxQueue
    set_u32(p + 20, 0x10000000);                           // dwMaxBaud: BAUD_USER
    set_u32(p + 24, 0x1);                                  // dwProvSubType: PST_RS232
    set_u32(p + 28, 0xFF);        // dwProvCapabilities: DTR/DSR, RTS/CTS, parity check, XON/XOFF...
    set_u32(p + 32, 0x7F);        // dwSettableParams
    set_u32(p + 36, 0x1006FFFF);  // dwSettableBaud: 75 to 128000 and user rates
    set_u16(p + 40, 0x000F);      // wSettableData: 5 to 8 data bits
    set_u16(p + 42, 0x1F07);      // wSettableStopParity
    set_u32(p + 44, static_cast<uint32_t>(kOsPortQueue));  // dwCurrentTxQueue
    set_u32(p + 48, static_cast<uint32_t>(kOsPortQueue));  // dwCurrentRxQueue
    c.out(p, sizeof p);
    return c.succeed(xcpu::kTrue);
}

}  // namespace racksim
