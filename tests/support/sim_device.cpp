#include "sim_device.h"

#include <cstring>

namespace zebtest {

IpDevice::IpDevice(Endpoint module, DeviceOptions options) : source(socket_address({kHostIp, 0})) {
    transport.Kind = ZEB_TRANSPORT_WINSOCK;
    transport.Protocol = ZEB_PROTOCOL_IP;
    transport_result = ZEBOpenTransport(&transport, ZEB_API_VERSION, source.data());
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
