// What the Windows-only tests share: whether they run under Wine, the thread's processor time,
// and (udp_peer.h) a UDP socket of the test's own on 127.0.0.1: a module, or the far end of a
// serial line carried over loopback.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock2.h>

#include <cstdint>

#include "udp_peer.h"

namespace zebtest {

// Wine's ntdll exports its version; Windows' does not.
bool under_wine();

// Thread CPU time (user and kernel) in seconds, and wall time from the performance counter.
double thread_cpu_seconds();
double wall_seconds();
// Whether thread CPU time moves at all here: a thread that spins for 100 ms must show some.
bool thread_cpu_time_measured();

}  // namespace zebtest
