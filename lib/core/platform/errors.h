// The system's error numbers in the numbering that the library returns on every platform.
#pragma once

#include <cstdint>

namespace zeb::plat {

// An errno from a socket call as its Winsock number (EWOULDBLOCK 10035, ECONNREFUSED 10061...).
uint32_t winsock_error(int errno_value) noexcept;

// An errno from a serial-port call as its Windows system error number (ENOENT 2, EACCES 5...).
uint32_t system_error(int errno_value) noexcept;

}  // namespace zeb::plat
