#include "udp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace racksim::test {

UdpClient::UdpClient() {
    socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(static_cast<int>(socket_), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
}

UdpClient::~UdpClient() {
    close(static_cast<int>(socket_));
}

void UdpClient::allow_broadcast() {
    const int on = 1;
    ASSERT_EQ(setsockopt(static_cast<int>(socket_), SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
}

void UdpClient::send(uint32_t ip, uint16_t port, const Bytes& frame) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    ASSERT_EQ(sendto(static_cast<int>(socket_), frame.data(), frame.size(), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(frame.size()));
}

bool UdpClient::receive(Bytes* data, uint32_t* from_ip, int timeout_ms) {
    const int fd = static_cast<int>(socket_);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return false;
    uint8_t buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return false;
    data->assign(buf, buf + n);
    *from_ip = ntohl(from.sin_addr.s_addr);
    return true;
}

}  // namespace racksim::test
