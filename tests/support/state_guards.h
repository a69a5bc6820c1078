// Scoped changes of the library's process-wide settings, undone at the end of the scope.
#pragma once

#include <cstdint>
#include <vector>

#include "endpoint.h"
#include "zeb.h"

namespace zebtest {

class ScopedCrcMode {
  public:
    explicit ScopedCrcMode(int32_t mode) : previous_(SetCRCMode(mode)) {}
    ~ScopedCrcMode() { SetCRCMode(previous_); }
    ScopedCrcMode(const ScopedCrcMode&) = delete;
    ScopedCrcMode& operator=(const ScopedCrcMode&) = delete;

  private:
    int32_t previous_;
};

// Installs an asynchronous handler that keeps every packet it is given.
class AsyncRecorder {
  public:
    struct Call {
        ZEBDevice* device;
        Bytes packet;
    };

    AsyncRecorder();
    ~AsyncRecorder();
    AsyncRecorder(const AsyncRecorder&) = delete;
    AsyncRecorder& operator=(const AsyncRecorder&) = delete;

    const std::vector<Call>& calls() const { return calls_; }

  private:
    static void ZEB_CALL handler(ZEBDevice* device, uint8_t* packet, int32_t length);
    static AsyncRecorder* active_;

    std::vector<Call> calls_;
    ZEBAsyncHandler previous_ = nullptr;
    AsyncRecorder* outer_;
};

}  // namespace zebtest
