#include "udp_peer.h"
#include "udp_peer_sockets.h"

namespace zebtest {

namespace {

// Winsock for the test's own sockets, started once and left running.
bool winsock_started() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

UdpPeer::UdpPeer(uint16_t port) {
    if (!winsock_started()) return;
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return;
    socket_ = static_cast<intptr_t>(s);
    if (peer::bind_loopback(s, port)) at_ = peer::local_endpoint(s);
}

UdpPeer::~UdpPeer() {
    if (peer::native(socket_) != INVALID_SOCKET) closesocket(peer::native(socket_));
}

bool UdpPeer::allow_broadcast() {
    const BOOL on = TRUE;
    return setsockopt(peer::native(socket_), SOL_SOCKET, SO_BROADCAST,
                      reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool UdpPeer::send_to(const Bytes& data, Endpoint to) {
    return peer::send_datagram(peer::native(socket_), data, to);
}

bool UdpPeer::receive(Bytes* data, Endpoint* from, int wait_ms) {
    WSAPOLLFD p{peer::native(socket_), POLLRDNORM, 0};
    return WSAPoll(&p, 1, wait_ms) == 1 && peer::take_datagram(peer::native(socket_), data, from);
}

Endpoint bound_at(intptr_t socket) {
    return peer::local_endpoint(peer::native(socket));
}

}  // namespace zebtest
