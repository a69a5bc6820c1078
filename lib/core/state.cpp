#include "state.h"

#include <atomic>
#include <mutex>

#include "platform/platform.h"

namespace zeb::state {
namespace {

std::atomic<uint16_t> g_next_sequence{1};
std::atomic<int32_t> g_crc_mode{1};
std::atomic<ZEBAsyncHandler> g_handler{nullptr};
std::atomic<uint32_t> g_query_timeout_ms{600};

std::mutex g_socket_layer_mutex;
uint32_t g_socket_layer_users = 0;

}  // namespace

uint16_t take_sequence() noexcept {
    uint16_t current = g_next_sequence.load(std::memory_order_relaxed);
    uint16_t next;
    do {
        next = static_cast<uint16_t>(current + 1);
        if (next == 0) next = 1;
    } while (!g_next_sequence.compare_exchange_weak(current, next, std::memory_order_relaxed));
    return current;
}

void set_next_sequence(uint16_t next) noexcept {
    g_next_sequence.store(next == 0 ? 1 : next, std::memory_order_relaxed);
}

bool crc_enabled() noexcept {
    return g_crc_mode.load(std::memory_order_relaxed) != 0;
}

int32_t exchange_crc_mode(int32_t mode) noexcept {
    return g_crc_mode.exchange(mode);
}

ZEBAsyncHandler async_handler() noexcept {
    return g_handler.load();
}

void set_async_handler(ZEBAsyncHandler handler) noexcept {
    g_handler.store(handler);
}

uint32_t query_timeout_ms() noexcept {
    return g_query_timeout_ms.load();
}

uint32_t exchange_query_timeout_ms(uint32_t ms) noexcept {
    return g_query_timeout_ms.exchange(ms);
}

uint32_t acquire_socket_layer() noexcept {
    std::lock_guard lock(g_socket_layer_mutex);
    if (g_socket_layer_users == 0) {
        if (uint32_t err = plat::platform().sockets_start()) return err;
    }
    ++g_socket_layer_users;
    return 0;
}

void release_socket_layer() noexcept {
    std::lock_guard lock(g_socket_layer_mutex);
    if (g_socket_layer_users == 0) return;
    if (--g_socket_layer_users == 0) plat::platform().sockets_stop();
}

uint32_t socket_layer_users() noexcept {
    std::lock_guard lock(g_socket_layer_mutex);
    return g_socket_layer_users;
}

}  // namespace zeb::state
