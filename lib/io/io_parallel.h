// What the parallel I/O keeps per thread between calls.
#pragma once

namespace zeb::io {

// Closes the calling thread's kept readiness set (its next call makes a new one). Does nothing
// while that thread is inside a call.
void release_kept_call_state() noexcept;

}  // namespace zeb::io
