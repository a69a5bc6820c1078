// What both builds of UdpPeer (udp_peer_posix.cpp, udp_peer_winsock.cpp) do alike with the
// system's sockets, which differ only in the socket's type and the address length's.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "udp_peer.h"

namespace zebtest::peer {

#ifdef _WIN32
using Native = SOCKET;
#else
using Native = int;
#endif

inline Native native(intptr_t s) {
    return static_cast<Native>(s);
}

inline sockaddr_in address_of(Endpoint e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(e.ip);
    a.sin_port = htons(e.port);
    return a;
}

inline Endpoint endpoint_of(const sockaddr_in& a) {
    return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

inline bool bind_loopback(Native s, uint16_t port) {
    const sockaddr_in a = address_of({kHostIp, port});
    return bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

inline Endpoint local_endpoint(Native s) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return {};
    return endpoint_of(a);
}

inline bool send_datagram(Native s, const Bytes& data, Endpoint to) {
    if (!is_loopback(to.ip)) return false;
    const sockaddr_in a = address_of(to);
    const long sent =
        sendto(s, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0,
               reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return sent == static_cast<long>(data.size());
}

// One datagram that is waiting, and where it came from (`from` may be null).
inline bool take_datagram(Native s, Bytes* data, Endpoint* from) {
    char buf[4096];
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const auto n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n < 0) return false;
    data->assign(buf, buf + n);
    if (from) *from = endpoint_of(a);
    return true;
}

}  // namespace zebtest::peer
