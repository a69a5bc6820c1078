// Moving one frame to or from a device over its transport, and the clock the engine times with.
//
// Each transport (UDP, IPX, serial) is one constant table of operations; the table is chosen
// once per call from the transport record, so nothing above this layer asks which it has.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "zeb.h"

namespace zeb {

struct LinkOps {
    // The transport as a whole: taken when a transport of this kind is opened, given back when
    // it is closed (the socket layer for Winsock; nothing for serial).
    uint32_t (*start)() noexcept;
    void (*stop)() noexcept;

    // One device: its socket or port. `open` gets a record already initialised for the open;
    // `close` releases what the record owns.
    uint32_t (*open)(ZEBDevice& device, const ZEBTransport& transport) noexcept;
    uint32_t (*close)(ZEBDevice& device) noexcept;

    uint32_t (*send)(ZEBDevice& device, const uint8_t* frame, uint16_t length) noexcept;
    // See ReceiveFrame.
    uint32_t (*receive)(ZEBDevice& device, uint8_t* buffer, int32_t* length,
                        uint32_t wait_ms) noexcept;

    // The handle that becomes readable when something arrives, or kNoHandle.
    plat::Handle (*wait_handle)(const ZEBDevice& device) noexcept;
};

// The table for a transport record, or null for an unknown kind or Winsock protocol; `why`
// then receives ZEBERR_BAD_TRANSPORT or ZEBERR_BAD_PROTOCOL.
const LinkOps* link_of(const ZEBTransport& transport, uint32_t* why = nullptr) noexcept;
// The same for a device's transport; a device without one has no link (ZEBERR_BAD_TRANSPORT).
const LinkOps* link_of(const ZEBDevice& device, uint32_t* why = nullptr) noexcept;

// Sends one frame: on the connected socket, to the broadcast address, or to the serial port.
uint32_t SendFrame(ZEBDevice* device, const uint8_t* frame, uint16_t length) noexcept;

// Takes one frame. *length holds the capacity on entry and the bytes received on return.
// A socket never waits: ZEBERR_NO_PACKET when nothing is there (length unchanged). A serial
// port waits at most `wait_ms` for a whole frame, and with 0 takes only the bytes already
// waiting; when no whole frame is in by then the result is 0 with length 0, and the part
// that came is kept for the next call.
uint32_t ReceiveFrame(ZEBDevice* device, uint8_t* buffer, int32_t* length,
                      uint32_t wait_ms) noexcept;

// Milliseconds from an arbitrary origin; elapsed time is the unsigned 32-bit difference.
uint32_t ClockMs() noexcept;

// The handle that becomes readable when something arrives for the device, or kNoHandle.
plat::Handle wait_handle(const ZEBDevice& device) noexcept;

// Sleeps until a frame may be waiting for the device or `timeout_ms` has passed.
void wait_for_frame(const ZEBDevice& device, uint32_t timeout_ms) noexcept;

// Sleeps until something arrives for any of `count` devices or `timeout_ms` has passed.
// `scratch` has room for `count` handles; nothing is allocated. Null entries and devices
// without a handle are not watched; with none watched the call just sleeps.
void wait_for_any(ZEBDevice* const* devices, size_t count, uint32_t timeout_ms,
                  plat::Handle* scratch) noexcept;

}  // namespace zeb
