// Where COMn lives on a POSIX system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zeb::plat {

inline constexpr size_t kMaxDeviceName = 256;

// COMn is `prefix` followed by n - 1: /dev/ttyS0 for COM1 by default. Port 0 has no name.
bool serial_device_name(uint32_t port, char* out, size_t capacity) noexcept;

// Points COMn somewhere else, e.g. at pseudo-terminals in a test's own directory.
void set_serial_device_prefix(const std::string& prefix);

}  // namespace zeb::plat
