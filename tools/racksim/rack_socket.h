// The rack's end of the network: one socket on the module port takes the requests for every
// module, and each reply leaves from the address of the module that answers. Linux's batched
// calls (rack_socket.cpp, udp_batch.h) or Winsock's (rack_socket_windows.cpp), chosen by the
// build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "received.h"

namespace racksim {

class RackSocket {
  public:
    // Called for each reply the system refused, with its addresses and the system's error.
    using Failure =
        std::function<void(uint32_t from_ip, uint32_t to_ip, uint16_t to_port, int err)>;
    // The most datagrams one read() returns.
    static constexpr size_t kBatch = 32;

    enum class Ready { datagrams, nothing, failed };

    RackSocket();
    ~RackSocket();
    RackSocket(const RackSocket&) = delete;
    RackSocket& operator=(const RackSocket&) = delete;

    // Binds the module port (0: any free one) on every local address. On failure returns false
    // with a message such as "port 28784 is already in use".
    bool open(uint16_t port, std::string* error);
    bool is_open() const;
    // The bound port (useful with port 0).
    uint16_t port() const;

    // Reads the datagrams waiting, at most kBatch; returns how many. With `wait`, sleeps until
    // the first arrives or wake() is called.
    size_t read(bool wait);
    Received at(size_t i) const;
    // Waits up to `timeout_ms` (-1: without end) for a datagram or wake().
    Ready wait(int timeout_ms);
    // Ends any wait, now and from now on; safe from a signal handler.
    void wake();

    // Queues a reply from a module's address; sends the queue first when it is full.
    void add(uint32_t from_ip, uint32_t to_ip, uint16_t to_port, const uint8_t* data, size_t len,
             const Failure& failed);
    // Sends what is queued; returns how many left.
    size_t flush(const Failure& failed);

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace racksim
