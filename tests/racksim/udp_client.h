// A UDP socket on 127.0.0.1 that talks to a server's port, for the server's tests: POSIX
// sockets here (udp_client.cpp), Winsock in the Windows suites (udp_client_windows.cpp).
#pragma once

#include <cstdint>

#include "bytes.h"

namespace racksim::test {

class UdpClient {
  public:
    UdpClient();
    ~UdpClient();
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;

    void allow_broadcast();
    void send(uint32_t ip, uint16_t port, const Bytes& frame);
    // Waits up to timeout_ms for one datagram; false if none came.
    bool receive(Bytes* data, uint32_t* from_ip, int timeout_ms = 2000);

  private:
    intptr_t socket_ = -1;  // a descriptor, or a Winsock SOCKET
};

}  // namespace racksim::test
