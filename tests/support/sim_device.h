// A Winsock UDP transport and one device on it, opened for a test and closed at the end of
// its scope. The transport's source address is 127.0.0.1, any port.
#pragma once

#include <cstdint>

#include "core/platform/platform.h"
#include "endpoint.h"
#include "zeb.h"

namespace zebtest {

struct DeviceOptions {
    uint16_t timeout = 100;
    uint16_t retries = 0;
    int32_t broadcast = 0;
};

class IpDevice {
  public:
    explicit IpDevice(Endpoint module, DeviceOptions options = {});
    ~IpDevice();
    IpDevice(const IpDevice&) = delete;
    IpDevice& operator=(const IpDevice&) = delete;

    ZEBDevice* operator->() { return &device; }
    zeb::plat::Handle socket() const { return static_cast<zeb::plat::Handle>(device.Socket); }
    // Sets KeyMode 1 with the key text (at most 59 characters).
    void set_key(const char* key);

    SocketAddress source;
    ZEBTransport transport{};
    ZEBDevice device{};
    uint32_t transport_result;
    uint32_t device_result;
};

// Opens a Winsock transport of `protocol` from 127.0.0.1 (any port); the address is kept in
// `source`, which must outlive the transport.
uint32_t open_loopback_transport(ZEBTransport* transport, uint16_t protocol, SocketAddress* source);

}  // namespace zebtest
