#include "winsock_peer.h"

#include <cstring>

namespace zebtest {

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

double thread_cpu_seconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        return double((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double wall_seconds() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

bool thread_cpu_time_measured() {
    static const bool measured = [] {
        const double cpu = thread_cpu_seconds();
        const double start = wall_seconds();
        while (wall_seconds() - start < 0.100) {
        }
        return thread_cpu_seconds() - cpu > 0.010;
    }();
    return measured;
}

namespace {

// Winsock for the test's own sockets, started once and left running.
bool winsock_started() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(kHostIp);
    a.sin_port = htons(port);
    return a;
}

}  // namespace

UdpPeer::UdpPeer(uint16_t port) {
    if (!winsock_started()) return;
    s_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s_ == INVALID_SOCKET) return;
    sockaddr_in a = loopback(port);
    int len = sizeof a;
    if (bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return;
    }
    port_ = ntohs(a.sin_port);
}

UdpPeer::~UdpPeer() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
}

bool UdpPeer::send_to(const Bytes& data, uint16_t port) {
    const sockaddr_in a = loopback(port);  // loopback only
    return sendto(s_, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0,
                  reinterpret_cast<const sockaddr*>(&a), sizeof a) == static_cast<int>(data.size());
}

bool UdpPeer::receive(Bytes* data, uint16_t* from_port, int wait_ms) {
    WSAPOLLFD p{s_, POLLRDNORM, 0};
    if (WSAPoll(&p, 1, wait_ms) != 1) return false;
    char buf[4096];
    sockaddr_in a{};
    int len = sizeof a;
    const int n = recvfrom(s_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n < 0) return false;
    data->assign(buf, buf + n);
    if (from_port) *from_port = ntohs(a.sin_port);
    return true;
}

Bytes UdpPeer::receive_bytes(size_t want, int quiet_ms) {
    Bytes all, one;
    while (all.size() < want && receive(&one, nullptr, quiet_ms)) {
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

}  // namespace zebtest
