// One socket bound to every local address serves the whole rack, as on Linux: WSARecvMsg tells
// the local address each request reached and WSASendMsg names the one its reply leaves from,
// both as packet info. Winsock has no batched calls: a read takes what waits one datagram a
// call, and each reply leaves at once.
//
// Wine (8) neither sends the packet info on, nor keeps a UDP socket on a loopback address other
// than 127.0.0.1 (it binds it to every address instead): there every reply would leave from
// 127.0.0.1. Under Wine replies leave by a raw socket that writes the IP and UDP headers
// itself, which needs the rights that the tests' private network namespace gives.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which it needs.
#include <mswsock.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "rack_socket.h"

namespace racksim {

namespace {

constexpr size_t kMaxDatagram = 65536;
// A rack's socket takes the requests of every module: room for a burst from a thousand hosts'
// requests, or one host's to a thousand modules. The system may grant less.
constexpr int kReceiveBuffer = 8 << 20;

std::string error_text(const std::string& what) {
    return what + " (Winsock error " + std::to_string(WSAGetLastError()) + ")";
}

sockaddr_in inet_address(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ip);
    a.sin_port = htons(port);
    return a;
}

// Room for the packet info that names a datagram's local address.
struct PktInfoControl {
    alignas(WSACMSGHDR) char bytes[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
};

constexpr size_t kIpHeader = 20;
constexpr size_t kUdpHeader = 8;

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void put_u16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put_u32(uint8_t* p, uint32_t v) {
    put_u16(p, static_cast<uint16_t>(v >> 16));
    put_u16(p + 2, static_cast<uint16_t>(v));
}

template <class F>
bool extension(SOCKET s, GUID id, F* f) {
    DWORD got = 0;
    return WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, f, sizeof *f, &got,
                    nullptr, nullptr) == 0;
}

}  // namespace

struct RackSocket::Parts {
    bool started = false;  // WSAStartup succeeded
    SOCKET s = INVALID_SOCKET;
    SOCKET wake = INVALID_SOCKET;       // on 127.0.0.1: wake() sends it a byte, wait() polls it
    SOCKET raw = INVALID_SOCKET;        // under Wine: the replies, headers and all
    std::unique_ptr<uint8_t[]> packet;  // a raw reply being put together
    sockaddr_in wake_address{};
    std::atomic<bool> woken{false};
    uint16_t port = 0;
    LPFN_WSARECVMSG receive_message = nullptr;
    LPFN_WSASENDMSG send_message = nullptr;
    std::unique_ptr<uint8_t[]> buffers{new uint8_t[kBatch * kMaxDatagram]};
    Received got[kBatch];
    PktInfoControl control;
    size_t sent = 0;  // since the last flush

    void close_all() {
        if (s != INVALID_SOCKET) closesocket(s);
        if (wake != INVALID_SOCKET) closesocket(wake);
        if (raw != INVALID_SOCKET) closesocket(raw);
        s = wake = raw = INVALID_SOCKET;
    }
    // Reads one waiting datagram into `r`; false when none waits (or the socket failed).
    bool receive(size_t i, Received& r) {
        uint8_t* into = buffers.get() + i * kMaxDatagram;
        sockaddr_in from{};
        WSABUF buffer{static_cast<ULONG>(kMaxDatagram), reinterpret_cast<char*>(into)};
        WSAMSG m{};
        m.name = reinterpret_cast<sockaddr*>(&from);
        m.namelen = sizeof from;
        m.lpBuffers = &buffer;
        m.dwBufferCount = 1;
        m.Control = {sizeof control.bytes, control.bytes};
        DWORD len = 0;
        bool truncated = false;
        if (receive_message(s, &m, &len, nullptr, nullptr) == 0) {
            truncated = (m.dwFlags & MSG_TRUNC) != 0;
        } else if (WSAGetLastError() == WSAEMSGSIZE) {
            truncated = true;
        } else {
            return false;
        }
        r = {};
        r.data = into;
        r.len = truncated ? kMaxDatagram : len;
        r.from_ip = ntohl(from.sin_addr.s_addr);
        r.from_port = ntohs(from.sin_port);
        r.truncated = truncated;
        r.inet = from.sin_family == AF_INET;
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&m); c; c = WSA_CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                IN_PKTINFO info;
                std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
                r.to_ip = ntohl(info.ipi_addr.s_addr);
            }
        }
        return true;
    }
};

RackSocket::RackSocket() : parts_(std::make_unique<Parts>()) {
    WSADATA data;
    parts_->started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

RackSocket::~RackSocket() {
    parts_->close_all();
    if (parts_->started) WSACleanup();
}

bool RackSocket::open(uint16_t port, std::string* error) {
    Parts& p = *parts_;
    if (p.s != INVALID_SOCKET) return true;
    auto fail = [&](const std::string& what) {
        if (error) *error = what;
        p.close_all();
        return false;
    };
    if (!p.started) return fail("Winsock did not start");
    p.s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (p.s == INVALID_SOCKET) return fail(error_text("cannot create a UDP socket"));
    const DWORD on = TRUE;
    if (setsockopt(p.s, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on) !=
        0) {
        return fail(error_text("cannot enable IP_PKTINFO"));
    }
    if (!extension(p.s, WSAID_WSARECVMSG, &p.receive_message) ||
        !extension(p.s, WSAID_WSASENDMSG, &p.send_message)) {
        return fail(error_text("Winsock has no WSARecvMsg or WSASendMsg"));
    }
    // Reads never wait: wait() sleeps in WSAPoll, where wake() reaches it.
    u_long nonblocking = 1;
    ioctlsocket(p.s, FIONBIO, &nonblocking);
    // A reply to a host that has gone would fail the socket's next receive otherwise.
    BOOL report = FALSE;
    DWORD unused = 0;
    WSAIoctl(p.s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &unused, nullptr, nullptr);
    setsockopt(p.s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&kReceiveBuffer),
               sizeof kReceiveBuffer);
    sockaddr_in a = inet_address(INADDR_ANY, port);
    if (bind(p.s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        const std::string which = "port " + std::to_string(port);
        if (WSAGetLastError() == WSAEADDRINUSE) return fail(which + " is already in use");
        return fail(error_text("cannot bind " + which));
    }
    int len = sizeof a;
    if (getsockname(p.s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return fail(error_text("cannot read the bound port"));
    }
    p.port = ntohs(a.sin_port);
    p.wake = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    p.wake_address = inet_address(INADDR_LOOPBACK, 0);
    len = sizeof p.wake_address;
    if (p.wake == INVALID_SOCKET ||
        bind(p.wake, reinterpret_cast<const sockaddr*>(&p.wake_address), len) != 0 ||
        getsockname(p.wake, reinterpret_cast<sockaddr*>(&p.wake_address), &len) != 0) {
        return fail(error_text("cannot make the wake-up socket"));
    }
    ioctlsocket(p.wake, FIONBIO, &nonblocking);
    if (under_wine()) {
        p.raw = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
        if (p.raw == INVALID_SOCKET ||
            setsockopt(p.raw, IPPROTO_IP, IP_HDRINCL, reinterpret_cast<const char*>(&on),
                       sizeof on) != 0) {
            return fail(
                error_text("under Wine, replies from each module's own address need a "
                           "raw socket (root, or a private network namespace)"));
        }
        // It is never read: whatever UDP it would take in is dropped at once.
        shutdown(p.raw, SD_RECEIVE);
        const int least = 1;
        setsockopt(p.raw, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&least),
                   sizeof least);
        p.packet.reset(new uint8_t[0xFFFF]);
    }
    return true;
}

bool RackSocket::is_open() const {
    return parts_->s != INVALID_SOCKET;
}

uint16_t RackSocket::port() const {
    return parts_->port;
}

size_t RackSocket::read(bool sleep) {
    if (sleep && wait(-1) != Ready::datagrams) return 0;
    size_t n = 0;
    while (n < kBatch && parts_->receive(n, parts_->got[n])) ++n;
    return n;
}

Received RackSocket::at(size_t i) const {
    return parts_->got[i];
}

RackSocket::Ready RackSocket::wait(int timeout_ms) {
    Parts& p = *parts_;
    if (p.woken.load()) return Ready::nothing;
    WSAPOLLFD fds[2] = {{p.s, POLLRDNORM, 0}, {p.wake, POLLRDNORM, 0}};
    const int ready = WSAPoll(fds, 2, timeout_ms);
    if (ready < 0) return Ready::failed;
    if (fds[1].revents != 0) {
        char drain[16];
        while (recv(p.wake, drain, sizeof drain, 0) > 0) {
        }
    }
    return (fds[0].revents & POLLRDNORM) ? Ready::datagrams : Ready::nothing;
}

void RackSocket::wake() {
    Parts& p = *parts_;
    p.woken.store(true);
    if (p.wake == INVALID_SOCKET) return;
    const char b = 1;
    sendto(p.wake, &b, 1, 0, reinterpret_cast<const sockaddr*>(&p.wake_address),
           sizeof p.wake_address);
}

void RackSocket::add(uint32_t from_ip, uint32_t to_ip, uint16_t to_port, const uint8_t* data,
                     size_t len, const Failure& failed) {
    Parts& p = *parts_;
    sockaddr_in to = inet_address(to_ip, to_port);
    if (p.raw != INVALID_SOCKET) {
        // IPv4 and UDP headers; the system fills in the IP checksum and identification, and a
        // UDP checksum of 0 means none.
        const size_t total = kIpHeader + kUdpHeader + len;
        // Headers written by hand go to loopback only: nothing of the tests leaves the host.
        if ((to_ip >> 24) != 127 || (from_ip >> 24) != 127) {
            if (failed) failed(from_ip, to_ip, to_port, WSAEACCES);
            return;
        }
        if (total > 0xFFFF) {
            if (failed) failed(from_ip, to_ip, to_port, WSAEMSGSIZE);
            return;
        }
        uint8_t* h = p.packet.get();
        std::memset(h, 0, kIpHeader + kUdpHeader);
        h[0] = 0x45;  // version 4, five words of header
        put_u16(h + 2, static_cast<uint16_t>(total));
        h[8] = 64;  // time to live
        h[9] = IPPROTO_UDP;
        put_u32(h + 12, from_ip);
        put_u32(h + 16, to_ip);
        put_u16(h + kIpHeader, p.port);
        put_u16(h + kIpHeader + 2, to_port);
        put_u16(h + kIpHeader + 4, static_cast<uint16_t>(kUdpHeader + len));
        if (len) std::memcpy(h + kIpHeader + kUdpHeader, data, len);
        if (sendto(p.raw, reinterpret_cast<const char*>(h), static_cast<int>(total), 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(total)) {
            ++p.sent;
            return;
        }
        if (failed) failed(from_ip, to_ip, to_port, WSAGetLastError());
        return;
    }
    WSABUF buffer{static_cast<ULONG>(len), reinterpret_cast<char*>(const_cast<uint8_t*>(data))};
    PktInfoControl control;
    WSAMSG m{};
    m.name = reinterpret_cast<sockaddr*>(&to);
    m.namelen = sizeof to;
    m.lpBuffers = &buffer;
    m.dwBufferCount = 1;
    m.Control = {sizeof control.bytes, control.bytes};
    WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_addr.s_addr = htonl(from_ip);
    std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
    DWORD sent = 0;
    if (p.send_message(p.s, &m, 0, &sent, nullptr, nullptr) == 0) {
        ++p.sent;
        return;
    }
    if (failed) failed(from_ip, to_ip, to_port, WSAGetLastError());
}

size_t RackSocket::flush(const Failure&) {
    const size_t sent = parts_->sent;
    parts_->sent = 0;
    return sent;
}

}  // namespace racksim
