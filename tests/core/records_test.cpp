// The records look the same to C and C++ callers.
#include <gtest/gtest.h>

#include <cstddef>

#include "records_layout.h"
#include "zeb.h"

namespace {

TEST(Records, CAndCxxSeeTheSameLayout) {
    const size_t cxx[ZEBTEST_LAYOUT_COUNT] = {
        sizeof(ZEBTransport),
        offsetof(ZEBTransport, KeyMode),
        offsetof(ZEBTransport, Key),
        offsetof(ZEBTransport, SourceAddress),
        offsetof(ZEBTransport, Reserved2),
        sizeof(ZEBAddress),
        offsetof(ZEBIpAddress, BroadcastOnly),
        offsetof(ZEBSerialAddress, BaudRate),
        offsetof(ZEBSerialAddress, PortHandle),
        sizeof(ZEBDevice),
        offsetof(ZEBDevice, Timeout),
        offsetof(ZEBDevice, Retries),
        offsetof(ZEBDevice, NodeAddress),
        offsetof(ZEBDevice, ResendCount),
        offsetof(ZEBDevice, CrcErrorCount),
        offsetof(ZEBDevice, LateReplyCount),
        offsetof(ZEBDevice, NoWait),
        offsetof(ZEBDevice, ExtendedHeader),
        offsetof(ZEBDevice, Broadcast),
        offsetof(ZEBDevice, Socket),
        offsetof(ZEBDevice, DataOffset),
        offsetof(ZEBDevice, Transport),
        offsetof(ZEBDevice, FromAddressSize),
        offsetof(ZEBDevice, FromAddress),
        offsetof(ZEBDevice, LastSequence),
        offsetof(ZEBDevice, Tunnel),
        offsetof(ZEBDevice, TunnelNode),
        offsetof(ZEBDevice, Reserved3),
        sizeof(ZEBMemoryItem),
        offsetof(ZEBMemoryItem, MemoryType),
        offsetof(ZEBMemoryItem, Address),
        offsetof(ZEBMemoryItem, Count),
        offsetof(ZEBMemoryItem, Buffer),
        sizeof(ZEBMemoryArea),
        sizeof(ZEBSerialSetup),
        sizeof(TaviNode),
        offsetof(TaviNode, Number),
        offsetof(TaviNode, Device),
    };
    size_t c[ZEBTEST_LAYOUT_COUNT] = {};
    zebtest_c_layout(c);
    for (size_t i = 0; i < ZEBTEST_LAYOUT_COUNT; ++i) {
        EXPECT_EQ(c[i], cxx[i]) << "entry " << i;
    }
}

}  // namespace
