#include <poll.h>
#include <unistd.h>

#include "udp_peer.h"
#include "udp_peer_sockets.h"

namespace zebtest {

UdpPeer::UdpPeer(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return;
    socket_ = fd;
    if (peer::bind_loopback(fd, port)) at_ = peer::local_endpoint(fd);
}

UdpPeer::~UdpPeer() {
    if (socket_ >= 0) close(peer::native(socket_));
}

bool UdpPeer::allow_broadcast() {
    const int on = 1;
    return setsockopt(peer::native(socket_), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool UdpPeer::send_to(const Bytes& data, Endpoint to) {
    return peer::send_datagram(peer::native(socket_), data, to);
}

bool UdpPeer::receive(Bytes* data, Endpoint* from, int wait_ms) {
    pollfd p{peer::native(socket_), POLLIN, 0};
    return poll(&p, 1, wait_ms) == 1 && peer::take_datagram(peer::native(socket_), data, from);
}

Endpoint bound_at(intptr_t socket) {
    return peer::local_endpoint(peer::native(socket));
}

}  // namespace zebtest
