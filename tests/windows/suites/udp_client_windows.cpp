// The server tests' client socket over Winsock (tests/racksim/udp_client.h).
// Winsock before anything that brings in windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
// After Winsock.
#include <gtest/gtest.h>

#include "udp_client.h"

namespace racksim::test {

namespace {

SOCKET socket_of(intptr_t s) {
    return static_cast<SOCKET>(s);
}

}  // namespace

UdpClient::UdpClient() {
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    socket_ = static_cast<intptr_t>(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(socket_of(socket_), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
}

UdpClient::~UdpClient() {
    closesocket(socket_of(socket_));
    WSACleanup();
}

void UdpClient::allow_broadcast() {
    const BOOL on = TRUE;
    ASSERT_EQ(setsockopt(socket_of(socket_), SOL_SOCKET, SO_BROADCAST,
                         reinterpret_cast<const char*>(&on), sizeof on),
              0);
}

void UdpClient::send(uint32_t ip, uint16_t port, const Bytes& frame) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    ASSERT_EQ(
        sendto(socket_of(socket_), reinterpret_cast<const char*>(frame.data()),
               static_cast<int>(frame.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<int>(frame.size()));
}

bool UdpClient::receive(Bytes* data, uint32_t* from_ip, int timeout_ms) {
    WSAPOLLFD p{socket_of(socket_), POLLRDNORM, 0};
    if (WSAPoll(&p, 1, timeout_ms) != 1) return false;
    char buf[2048];
    sockaddr_in from{};
    int len = sizeof from;
    const int n =
        recvfrom(socket_of(socket_), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return false;
    data->assign(buf, buf + n);
    *from_ip = ntohl(from.sin_addr.s_addr);
    return true;
}

}  // namespace racksim::test
