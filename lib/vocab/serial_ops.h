// The serial pass-through's operations: the byte after function code 0x23. With the top bit
// set the request names a port in the byte after; without it the module picks its own.
#pragma once

#include <cstdint>

#include "vocab/named.h"

namespace zeb::vocab {

namespace serial {

inline constexpr uint8_t kWrite = 0x01;
inline constexpr uint8_t kRead = 0x02;
inline constexpr uint8_t kRxAvailable = 0x03;
inline constexpr uint8_t kFlushRx = 0x04;
inline constexpr uint8_t kSetup = 0x05;
inline constexpr uint8_t kTxLeft = 0x06;
inline constexpr uint8_t kReadSetup = 0x07;
inline constexpr uint8_t kAccess = 0x08;   // write, then read the answer; no port named
inline constexpr uint8_t kFlushTx = 0x09;  // a named port only

inline constexpr uint8_t kNamesPort = 0x80;

}  // namespace serial

// Every operation, without the port bit, in the order of its number.
inline constexpr Named<uint8_t> kSerialOps[] = {
    {serial::kWrite, "write"},
    {serial::kRead, "read"},
    {serial::kRxAvailable, "receive queue"},
    {serial::kFlushRx, "flush receive queue"},
    {serial::kSetup, "port setup"},
    {serial::kTxLeft, "transmit queue"},
    {serial::kReadSetup, "read setup"},
    {serial::kAccess, "write and read"},
    {serial::kFlushTx, "flush transmit queue"},
};
static_assert(ascending(kSerialOps));

}  // namespace zeb::vocab
