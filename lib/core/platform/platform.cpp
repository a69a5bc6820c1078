// Which platform is in force: the operating system's, unless a test has put another in place.
#include "platform.h"

#include <atomic>

namespace zeb::plat {
namespace {

std::atomic<Platform*> g_replacement{nullptr};
std::atomic<uint32_t> g_generation{0};  // counts replacements

// Waking a thread that sleeps in poll() costs more than a loopback round trip, so a wait first
// spins this long; measured with bench/exchange_bench against a module on another core.
#ifndef ZEB_SPIN_BEFORE_SLEEP_US
#define ZEB_SPIN_BEFORE_SLEEP_US 50
#endif
std::atomic<uint32_t> g_spin_budget_us{ZEB_SPIN_BEFORE_SLEEP_US};

}  // namespace

Platform& platform() noexcept {
    Platform* replacement = g_replacement.load(std::memory_order_acquire);
    return replacement ? *replacement : system_platform();
}

Platform* set_platform(Platform* replacement) noexcept {
    Platform* previous = g_replacement.exchange(replacement);
    g_generation.fetch_add(1, std::memory_order_acq_rel);
    return previous ? previous : &system_platform();
}

uint32_t platform_generation() noexcept {
    return g_generation.load(std::memory_order_acquire);
}

uint32_t spin_budget_us() noexcept {
    return g_spin_budget_us.load(std::memory_order_relaxed);
}

void set_spin_budget_us(uint32_t us) noexcept {
    g_spin_budget_us.store(us, std::memory_order_relaxed);
}

}  // namespace zeb::plat
