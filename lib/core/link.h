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

// A link stacked on a device's own carries whole exchanges through other traffic (a tunnel
// through a remote master): one request body in, one answer out. The device's own link still
// opens, closes and moves its frames; the engine hands the exchanges of a device that has a
// stacked link to it.
struct StackedLink {
    // As the engine's exchange: the request frame with its body at DataOffset, the reply with
    // its body at byte 9; *reply_length holds the capacity on entry and the length on return.
    uint32_t (*exchange)(ZEBDevice& device, uint8_t* request, uint16_t request_length,
                         uint8_t* reply, int32_t* reply_length) noexcept;
};

// The link stacked on the device's own, or null. Defined where the library is put together
// (lib/links.cpp), so that this layer knows no link above it.
const StackedLink* stacked_link_of(const ZEBDevice& device) noexcept;

// Lets go of what the calling thread keeps between calls of the layers above (the parallel
// I/O's readiness set), so that a closed transport leaves no descriptor behind on that thread.
// Defined in lib/links.cpp too.
void release_thread_state() noexcept;

// How many devices have been closed in this process. A set of devices watched from one call
// to the next is made anew after any close, since the system may give a closed socket's
// number to the next one opened.
uint32_t devices_closed() noexcept;
void count_device_closed() noexcept;

// The table for a transport record, or null for an unknown kind or Winsock protocol; `why`
// then receives ZEBERR_BAD_TRANSPORT or ZEBERR_BAD_PROTOCOL.
const LinkOps* link_of(const ZEBTransport& transport, uint32_t* why = nullptr) noexcept;
// The same for a device's transport; a device without one has no link (ZEBERR_BAD_TRANSPORT).
const LinkOps* link_of(const ZEBDevice& device, uint32_t* why = nullptr) noexcept;

// Sends one frame: on the connected socket, to the broadcast address, or to the serial port.
uint32_t SendFrame(ZEBDevice* device, const uint8_t* frame, uint16_t length) noexcept;

// Takes one frame, waiting at most `wait_ms` for it (0: only what is already there).
// *length holds the capacity on entry and the bytes received on return. A socket gives
// ZEBERR_NO_PACKET when nothing came (length unchanged). A serial port gives 0 with length 0
// when no whole frame is in by then, and keeps the part that came for the next call.
uint32_t ReceiveFrame(ZEBDevice* device, uint8_t* buffer, int32_t* length,
                      uint32_t wait_ms) noexcept;

// The handle that becomes readable when something arrives for the device, or kNoHandle.
plat::Handle wait_handle(const ZEBDevice& device) noexcept;

// Sleeps until a frame may be waiting for the device or `timeout_ms` has passed.
void wait_for_frame(const ZEBDevice& device, uint32_t timeout_ms) noexcept;

// Devices watched together: a wait reports the tags of those that have something to read,
// so that a caller with many devices receives only where a frame waits. Opening and adding
// cost one system call each and allocate nothing on POSIX.
class ReadySet {
  public:
    ReadySet() noexcept;
    ~ReadySet();
    ReadySet(const ReadySet&) = delete;
    ReadySet& operator=(const ReadySet&) = delete;

    // Watches the device's socket or port under `tag`. False when it cannot be watched (no
    // handle, the handle is in the set already, or the set could not be made): the caller
    // then looks at that device itself on every pass.
    bool watch(const ZEBDevice& device, uint32_t tag) noexcept;
    // The same for a set kept from one call to the next: a device already in it is armed
    // under its new tag (one system call instead of an add now and a removal at the end).
    bool watch_again(const ZEBDevice& device, uint32_t tag) noexcept;
    // A device is reported once, then rests until armed again: after a receive that did not
    // take what the caller waits for.
    void arm(const ZEBDevice& device, uint32_t tag) noexcept;
    // Watches the device lastingly under `tag`: reported each time something new arrives, with
    // no arming between. With `again`, for a device watched so already: reported once more if
    // something waits for it. Gives the platform's result: kNotSupported where it has no
    // lasting watch.
    uint32_t watch_lasting(const ZEBDevice& device, uint32_t tag, bool again) noexcept;
    // Waits at most `timeout_ms` (0: only looks) for a watched device to become readable;
    // writes at most `capacity` tags to `tags` and returns how many.
    size_t wait(uint32_t* tags, size_t capacity, uint32_t timeout_ms) noexcept;
    // Whether the set belongs to the platform in use (tests put in platforms of their own).
    bool current() const noexcept;

  private:
    plat::Handle set_ = plat::kNoHandle;
    uint32_t generation_ = 0;  // of the platform it was opened on
};

// Sleeps until something arrives for any of `count` devices or `timeout_ms` has passed.
// `scratch` has room for `count` handles; nothing is allocated. Null entries and devices
// without a handle are not watched; with none watched the call just sleeps.
void wait_for_any(ZEBDevice* const* devices, size_t count, uint32_t timeout_ms,
                  plat::Handle* scratch) noexcept;

}  // namespace zeb
