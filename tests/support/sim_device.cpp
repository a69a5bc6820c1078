#include "sim_device.h"

#include <cstring>

namespace zebtest {

uint32_t open_loopback_transport(ZEBTransport* transport, uint16_t protocol,
                                 SocketAddress* source) {
    *source = socket_address({kHostIp, 0});
    transport->Kind = ZEB_TRANSPORT_WINSOCK;
    transport->Protocol = protocol;
    return ZEBOpenTransport(transport, ZEB_API_VERSION, source->data());
}

IpDevice::IpDevice(Endpoint module, DeviceOptions options) {
    transport_result = open_loopback_transport(&transport, ZEB_PROTOCOL_IP, &source);
    const SocketAddress remote = socket_address(module);
    std::memcpy(device.Address.Ip.SocketAddress, remote.data(), remote.size());
    device_result = ZEBOpenDevice(&transport, &device, ZEB_API_VERSION, options.timeout,
                                  options.retries, options.broadcast);
}

IpDevice::~IpDevice() {
    ZEBCloseDevice(&device);
    if (transport_result == 0) ZEBCloseTransport(&transport);
}

void IpDevice::set_key(const char* key) {
    transport.KeyMode = 1;
    std::memset(transport.Key, 0, sizeof transport.Key);
    std::strncpy(transport.Key, key, sizeof transport.Key - 1);
}

}  // namespace zebtest
