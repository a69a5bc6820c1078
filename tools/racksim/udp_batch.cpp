#include "udp_batch.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

namespace racksim {

ReceiveBatch::ReceiveBatch() : buffers_(new uint8_t[kSize * kMaxDatagram]) {}

size_t ReceiveBatch::read(int fd, bool wait) {
    for (size_t i = 0; i < kSize; ++i) {
        iov_[i] = {buffers_.get() + i * kMaxDatagram, kMaxDatagram};
        msghdr& m = msgs_[i].msg_hdr;
        m = {};
        m.msg_name = &from_[i];
        m.msg_namelen = sizeof from_[i];
        m.msg_iov = &iov_[i];
        m.msg_iovlen = 1;
        m.msg_control = control_[i].bytes;
        m.msg_controllen = sizeof control_[i].bytes;
        msgs_[i].msg_len = 0;
    }
    const int n = recvmmsg(fd, msgs_, kSize, wait ? MSG_WAITFORONE : MSG_DONTWAIT, nullptr);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

Received ReceiveBatch::at(size_t i) const {
    const msghdr& m = msgs_[i].msg_hdr;
    Received r;
    r.data = buffers_.get() + i * kMaxDatagram;
    r.len = msgs_[i].msg_len;
    r.from_ip = ntohl(from_[i].sin_addr.s_addr);
    r.from_port = ntohs(from_[i].sin_port);
    r.truncated = (m.msg_flags & MSG_TRUNC) != 0;
    r.inet = from_[i].sin_family == AF_INET;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&m), c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            r.to_ip = ntohl(info.ipi_addr.s_addr);
        }
    }
    return r;
}

SendBatch::SendBatch() : bytes_(kSize) {}

void SendBatch::add(int fd, uint32_t from_ip, uint32_t to_ip, uint16_t to_port, const uint8_t* data,
                    size_t len, const Failure& failed) {
    if (used_ == kSize) flush(fd, failed);
    const size_t i = used_++;
    bytes_[i].assign(data, data + len);
    iov_[i] = {bytes_[i].data(), bytes_[i].size()};
    to_[i] = {};
    to_[i].sin_family = AF_INET;
    to_[i].sin_addr.s_addr = htonl(to_ip);
    to_[i].sin_port = htons(to_port);
    from_ip_[i] = from_ip;
    control_[i] = {};
    msghdr& m = msgs_[i].msg_hdr;
    m = {};
    m.msg_name = &to_[i];
    m.msg_namelen = sizeof to_[i];
    m.msg_iov = &iov_[i];
    m.msg_iovlen = 1;
    m.msg_control = control_[i].bytes;
    m.msg_controllen = sizeof control_[i].bytes;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(from_ip);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
}

size_t SendBatch::flush(int fd, const Failure& failed) {
    size_t sent = 0;
    size_t k = 0;
    while (k < used_) {
        const int n = sendmmsg(fd, msgs_ + k, static_cast<unsigned>(used_ - k), MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            k += static_cast<size_t>(n);
            continue;
        }
        // The first datagram of the rest was refused: report it and go on after it.
        const int err = errno;
        if (failed) failed(from_ip_[k], ntohl(to_[k].sin_addr.s_addr), ntohs(to_[k].sin_port), err);
        ++k;
    }
    used_ = 0;
    return sent;
}

}  // namespace racksim
