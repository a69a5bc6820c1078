// The operating system behind one small interface: datagram sockets, the serial port, the
// millisecond clock and waiting. Everything above it is free of platform conditionals.
//
// Every call returns 0 or an error number in the Winsock / Windows numbering, whatever the
// platform, so that callers of the library see the same results everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb::plat {

// A socket or port handle as stored in a device record.
using Handle = intptr_t;
inline constexpr Handle kNoHandle = -1;

// Winsock numbers used by the layers above.
inline constexpr uint32_t kWouldBlock = 10035;  // WSAEWOULDBLOCK: nothing waiting
inline constexpr uint32_t kBrokenPipe = 109;    // ERROR_BROKEN_PIPE: serial reply cut short
inline constexpr uint32_t kNotSupported = 50;   // ERROR_NOT_SUPPORTED

// Socket address families in the library's (Windows) numbering.
inline constexpr uint16_t kFamilyInet = 2;
inline constexpr uint16_t kFamilyIpx = 6;

// Line settings of a serial port; parity and stop bits in the Windows codes.
struct SerialSettings {
    uint32_t baud_rate;
    uint8_t data_bits;
    uint8_t parity;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stop_bits;  // 0 one, 1 one and a half, 2 two
};

class Platform {
  public:
    virtual ~Platform() = default;

    // Milliseconds from an arbitrary origin; callers use the unsigned 32-bit difference.
    virtual uint32_t clock_ms() = 0;

    // Socket layer start-up and clean-up (no-ops where the platform has none).
    virtual uint32_t sockets_start() = 0;
    virtual void sockets_stop() = 0;

    // Datagram sockets. Addresses are in the library's layout: u16 family (2 or 6) first,
    // then the family's fields in network order. `family` picks UDP or IPX.
    virtual uint32_t socket_open(uint16_t family, Handle* out) = 0;
    virtual uint32_t socket_bind(Handle h, const uint8_t* addr, uint32_t len) = 0;
    virtual uint32_t socket_allow_broadcast(Handle h) = 0;
    virtual uint32_t socket_connect(Handle h, const uint8_t* addr, uint32_t len) = 0;
    virtual uint32_t socket_set_nonblocking(Handle h) = 0;
    virtual uint32_t socket_send(Handle h, const uint8_t* data, uint32_t len) = 0;
    virtual uint32_t socket_send_to(Handle h, const uint8_t* data, uint32_t len,
                                    const uint8_t* addr, uint32_t addr_len) = 0;
    // Takes one waiting datagram without blocking; kWouldBlock when none is there. With `from`
    // given, the sender's address is written there (at most 16 bytes) and its size to *from_len.
    virtual uint32_t socket_receive(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got,
                                    uint8_t* from, uint32_t* from_len) = 0;
    // The same, waiting at most `timeout_ms` for a datagram: first a short spin of receives (a
    // nearby module answers sooner than a sleeping thread wakes), then a sleep until the socket
    // is readable or the time is up. kWouldBlock when nothing came; 0 ms only looks.
    virtual uint32_t socket_receive_wait(Handle h, uint8_t* buf, uint32_t cap, uint32_t* got,
                                         uint8_t* from, uint32_t* from_len,
                                         uint32_t timeout_ms) = 0;
    // Asks for a receive queue of `bytes`, so that a burst of datagrams (many modules
    // answering one broadcast) is kept until read. Best effort: the system may grant less.
    virtual void socket_set_receive_buffer(Handle h, uint32_t bytes) = 0;
    virtual uint32_t socket_close(Handle h) = 0;

    // Sleeps until one of the handles (sockets or serial ports) has something waiting or
    // `timeout_ms` has passed; with no handles given it just sleeps.
    virtual void wait_readable(const Handle* handles, size_t count, uint32_t timeout_ms) = 0;

    // A readiness set: handles watched together, each with a tag of the caller's; a wait tells
    // which of them are readable, so that a caller with many sockets asks the system about
    // those that have something to read only. A handle is reported once and then rests until
    // the caller arms it again (after reading, when it still expects something), so that a
    // datagram nobody waits for cannot wake every wait. Adding a handle twice fails.
    virtual uint32_t ready_set_open(Handle* set) = 0;
    virtual uint32_t ready_set_add(Handle set, Handle h, uint32_t tag) = 0;  // added armed
    // Arms a handle already in the set under `tag`; fails for a handle that is not in it.
    virtual uint32_t ready_set_arm(Handle set, Handle h, uint32_t tag) = 0;
    // Waits at most `timeout_ms` (0: only looks) until an armed handle is readable, and writes
    // the tags of at most `capacity` readable ones to `tags`, which then rest; returns how
    // many. Readable handles not reported stay armed for the next wait.
    virtual size_t ready_set_wait(Handle set, uint32_t* tags, size_t capacity,
                                  uint32_t timeout_ms) = 0;
    // A lasting watch, where the system has one: the handle is reported each time something
    // new arrives for it and needs no arming between, whatever is left unread. `again` is for a
    // handle watched so already: it is reported once more if something waits now. Fails for a
    // handle not in the set; kNotSupported where there is no such watch (the caller arms).
    virtual uint32_t ready_set_watch_lasting(Handle, Handle, uint32_t, bool) {
        return kNotSupported;
    }
    virtual void ready_set_close(Handle set) = 0;

    // Serial port n (COMn). Its handle may be waited on with wait_readable.
    virtual uint32_t serial_open(uint32_t port, Handle* out) = 0;
    virtual uint32_t serial_configure(Handle h, const SerialSettings& settings) = 0;
    // Waits at most `timeout_ms` for bytes to arrive, then takes those that have, at most
    // `len`; with 0 it takes only bytes already waiting. *got is 0 when none came in time.
    virtual uint32_t serial_read(Handle h, uint8_t* buf, uint32_t len, uint32_t* got,
                                 uint32_t timeout_ms) = 0;
    virtual uint32_t serial_write(Handle h, const uint8_t* data, uint32_t len) = 0;
    virtual uint32_t serial_close(Handle h) = 0;
};

// The platform in force: the operating system's, unless a test has put another in its place.
Platform& platform() noexcept;

// Replaces the platform (tests only); null restores the operating system's. Returns the old one.
Platform* set_platform(Platform* replacement) noexcept;

// Changes with every replacement, so that what was opened on one platform is not taken for
// another's (a test's platform may take the address of the one before it).
uint32_t platform_generation() noexcept;

// The operating system's own platform.
Platform& system_platform() noexcept;

// How long a wait spins before it sleeps, in microseconds, for the operating system's
// platform. Set by the benchmark that measures it; the default is the one it chose.
uint32_t spin_budget_us() noexcept;
void set_spin_budget_us(uint32_t us) noexcept;

}  // namespace zeb::plat
