// Opening and closing the library, transports and devices.
#include <cstring>

#include "frame.h"
#include "link.h"
#include "ownership.h"
#include "watch.h"
#include "zeb.h"

using namespace zeb;

extern "C" {

uint32_t ZEBOpen(uint16_t version) {
    return version == ZEB_API_VERSION ? 0 : ZEBERR_BAD_VERSION;
}

uint32_t ZEBClose(void) {
    return 0;
}

uint32_t ZEBOpenTransport(ZEBTransport* transport, uint16_t version, void* source_address) {
    if (version != ZEB_API_VERSION) return ZEBERR_BAD_VERSION;
    if (!transport) return ZEBERR_NULL_TRANSPORT;
    transport->KeyMode = 0;
    transport->SourceAddress = source_address;
    uint32_t why = 0;
    const LinkOps* link = link_of(*transport, &why);
    return link ? link->start() : why;
}

uint32_t ZEBCloseTransport(ZEBTransport* transport) {
    if (!transport) return ZEBERR_NULL_TRANSPORT;
    uint32_t why = 0;
    const LinkOps* link = link_of(*transport, &why);
    if (!link) return why;
    release_thread_state();
    link->stop();
    return 0;
}

uint32_t ZEBOpenDevice(ZEBTransport* transport, ZEBDevice* device, uint16_t version,
                       uint16_t timeout, uint16_t retries, int32_t broadcast) {
    if (version != ZEB_API_VERSION) return ZEBERR_BAD_VERSION;
    if (!transport) return ZEBERR_NULL_TRANSPORT;
    if (!device) return ZEBERR_BAD_DEVICE;
    ZEBDevice& d = *device;
    watch::forget(d);
    d.Socket = 0;
    own::flags(d) = 0;
    d.Timeout = timeout;
    d.Retries = retries;
    d.ExtendedHeader = broadcast;
    d.Broadcast = broadcast;
    d.FromAddress = nullptr;
    d.FromAddressSize = 0;
    d.DataOffset = broadcast ? frame::kExtendedHeaderSize : frame::kHeaderSize;
    std::memset(d.Reserved2, 0, sizeof d.Reserved2);
    d.ResendCount = d.CrcErrorCount = d.LateReplyCount = 0;
    d.NoWait = 0;
    d.Transport = transport;
    uint32_t why = 0;
    const LinkOps* link = link_of(*transport, &why);
    return link ? link->open(d, *transport) : why;
}

uint32_t ZEBCloseDevice(ZEBDevice* device) {
    if (!device) return ZEBERR_BAD_DEVICE;
    ZEBDevice& d = *device;
    watch::forget(d);
    if (!d.Transport) return 0;
    uint32_t result = 0;
    if (const LinkOps* link = link_of(d, &result)) {
        result = link->close(d);
        count_device_closed();
        // Once closed, the record owns nothing, whatever the close reported.
        own::flags(d) = 0;
    }
    d.Transport = nullptr;
    return result;
}

}  // extern "C"
