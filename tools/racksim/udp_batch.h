// Datagrams read and written many to a system call (recvmmsg, sendmmsg), each with the local
// address it reached or leaves from (IP_PKTINFO): one socket serves a whole rack, and a burst
// of requests or of discovery answers costs few system calls.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "bytes.h"
#include "received.h"

namespace racksim {

// Room for the packet-info control message that names a datagram's local address.
struct PktInfoControl {
    alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))] = {};
};

class ReceiveBatch {
  public:
    static constexpr size_t kSize = 32;
    static constexpr size_t kMaxDatagram = 65536;

    ReceiveBatch();
    // Reads the datagrams waiting, at most kSize; returns how many. With `wait`, sleeps until
    // the first arrives (on a blocking socket).
    size_t read(int fd, bool wait);
    Received at(size_t i) const;

  private:
    std::unique_ptr<uint8_t[]> buffers_;
    mmsghdr msgs_[kSize];
    iovec iov_[kSize];
    sockaddr_in from_[kSize];
    PktInfoControl control_[kSize];
};

// Replies waiting to leave together. Each is copied into storage kept from one batch to the
// next, so that a steady stream of replies allocates nothing.
class SendBatch {
  public:
    static constexpr size_t kSize = 64;

    // Called for each datagram the system refused, with its addresses and errno.
    using Failure =
        std::function<void(uint32_t from_ip, uint32_t to_ip, uint16_t to_port, int err)>;

    SendBatch();
    // Queues a datagram from a module's address; sends the queue first when it is full.
    void add(int fd, uint32_t from_ip, uint32_t to_ip, uint16_t to_port, const uint8_t* data,
             size_t len, const Failure& failed);
    // Sends what is queued; returns how many left.
    size_t flush(int fd, const Failure& failed);

  private:
    size_t used_ = 0;
    std::vector<Bytes> bytes_;
    mmsghdr msgs_[kSize];
    iovec iov_[kSize];
    sockaddr_in to_[kSize];
    PktInfoControl control_[kSize];
    uint32_t from_ip_[kSize];
};

}  // namespace racksim
