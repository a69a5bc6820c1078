// What the Windows-only tests share: whether they run under Wine, and a UDP socket of the
// test's own on 127.0.0.1 (a module, or the far end of a serial line carried over loopback).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock2.h>

#include <cstdint>

#include "endpoint.h"

namespace zebtest {

// Wine's ntdll exports its version; Windows' does not.
bool under_wine();

// Thread CPU time (user and kernel) in seconds, and wall time from the performance counter.
double thread_cpu_seconds();
double wall_seconds();
// Whether thread CPU time moves at all here: a thread that spins for 100 ms must show some.
bool thread_cpu_time_measured();

class UdpPeer {
  public:
    // Bound to 127.0.0.1:port (0: a port of the system's choice); sends to `to` when given.
    explicit UdpPeer(uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool ok() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    SOCKET socket() const { return s_; }

    bool send_to(const Bytes& data, uint16_t port);
    // One datagram, waiting at most `wait_ms`; false when none came.
    bool receive(Bytes* data, uint16_t* from_port, int wait_ms);
    // Datagrams joined until `want` bytes came or `quiet_ms` passed without one.
    Bytes receive_bytes(size_t want, int quiet_ms);

  private:
    SOCKET s_ = INVALID_SOCKET;
    uint16_t port_ = 0;
};

}  // namespace zebtest
