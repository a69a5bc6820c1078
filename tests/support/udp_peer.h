// A UDP socket of the test's own on 127.0.0.1: a module the test plays, the far end of a
// serial line carried over loopback, or a client of RackSim's server. POSIX sockets in
// udp_peer_posix.cpp, Winsock in udp_peer_winsock.cpp: the build takes the one that fits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "endpoint.h"

namespace zebtest {

class UdpPeer {
  public:
    // Bound to 127.0.0.1:port (0: a port of the system's choice).
    explicit UdpPeer(uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool ok() const { return at_.port != 0; }
    uint16_t port() const { return at_.port; }
    Endpoint at() const { return at_; }
    // The descriptor, or the Winsock SOCKET.
    intptr_t socket() const { return socket_; }

    bool allow_broadcast();
    // Refuses any address outside 127.0.0.0/8: nothing a test sends leaves the machine.
    bool send_to(const Bytes& data, Endpoint to);
    bool send_to(const Bytes& data, uint16_t port) { return send_to(data, {kHostIp, port}); }
    // One datagram and where it came from (`from` may be null), waiting at most `wait_ms`;
    // false when none came.
    bool receive(Bytes* data, Endpoint* from, int wait_ms);
    // Datagrams joined until `want` bytes came or `quiet_ms` passed without one.
    Bytes receive_bytes(size_t want, int quiet_ms) {
        Bytes all, one;
        while (all.size() < want && receive(&one, nullptr, quiet_ms)) {
            all.insert(all.end(), one.begin(), one.end());
        }
        return all;
    }

  private:
    intptr_t socket_ = -1;
    Endpoint at_;
};

// Where a socket of the system's (the library's, say) is bound.
Endpoint bound_at(intptr_t socket);

inline bool is_loopback(uint32_t ip) {
    return (ip >> 24) == 127;
}

}  // namespace zebtest
