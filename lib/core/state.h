// Process-wide settings shared by every transport and device. All of them may be read and
// changed from several threads at once.
#pragma once

#include <cstdint>

#include "zeb.h"

namespace zeb::state {

// Takes the number for the next frame sent: 1, 2, ..., 65535, 1, ...; never 0.
uint16_t take_sequence() noexcept;
// Sets the number that the next frame will carry (0 is taken as 1).
void set_next_sequence(uint16_t next) noexcept;

bool crc_enabled() noexcept;
int32_t exchange_crc_mode(int32_t mode) noexcept;

ZEBAsyncHandler async_handler() noexcept;
void set_async_handler(ZEBAsyncHandler handler) noexcept;

uint32_t query_timeout_ms() noexcept;
uint32_t exchange_query_timeout_ms(uint32_t ms) noexcept;

// Counts open Winsock transports; the socket layer runs while the count is above 0.
uint32_t acquire_socket_layer() noexcept;
void release_socket_layer() noexcept;
uint32_t socket_layer_users() noexcept;

}  // namespace zeb::state
