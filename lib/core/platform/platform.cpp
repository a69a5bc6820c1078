// Which platform is in force: the operating system's, unless a test has put another in place.
#include "platform.h"

#include <atomic>

namespace zeb::plat {
namespace {

std::atomic<Platform*> g_replacement{nullptr};

}  // namespace

Platform& platform() noexcept {
    Platform* replacement = g_replacement.load(std::memory_order_acquire);
    return replacement ? *replacement : system_platform();
}

Platform* set_platform(Platform* replacement) noexcept {
    Platform* previous = g_replacement.exchange(replacement);
    return previous ? previous : &system_platform();
}

}  // namespace zeb::plat
