/* Compiled as C99 with -pedantic-errors: the public header must build as plain C. */
#include "records_layout.h"
#include "zeb.h"

void zebtest_c_layout(size_t out[ZEBTEST_LAYOUT_COUNT]) {
    size_t i = 0;
    out[i++] = sizeof(ZEBTransport);
    out[i++] = offsetof(ZEBTransport, KeyMode);
    out[i++] = offsetof(ZEBTransport, Key);
    out[i++] = offsetof(ZEBTransport, SourceAddress);
    out[i++] = offsetof(ZEBTransport, Reserved2);
    out[i++] = sizeof(ZEBAddress);
    out[i++] = offsetof(ZEBIpAddress, BroadcastOnly);
    out[i++] = offsetof(ZEBSerialAddress, BaudRate);
    out[i++] = offsetof(ZEBSerialAddress, PortHandle);
    out[i++] = sizeof(ZEBDevice);
    out[i++] = offsetof(ZEBDevice, Timeout);
    out[i++] = offsetof(ZEBDevice, Retries);
    out[i++] = offsetof(ZEBDevice, NodeAddress);
    out[i++] = offsetof(ZEBDevice, ResendCount);
    out[i++] = offsetof(ZEBDevice, CrcErrorCount);
    out[i++] = offsetof(ZEBDevice, LateReplyCount);
    out[i++] = offsetof(ZEBDevice, NoWait);
    out[i++] = offsetof(ZEBDevice, ExtendedHeader);
    out[i++] = offsetof(ZEBDevice, Broadcast);
    out[i++] = offsetof(ZEBDevice, Socket);
    out[i++] = offsetof(ZEBDevice, DataOffset);
    out[i++] = offsetof(ZEBDevice, Transport);
    out[i++] = offsetof(ZEBDevice, FromAddressSize);
    out[i++] = offsetof(ZEBDevice, FromAddress);
    out[i++] = offsetof(ZEBDevice, LastSequence);
    out[i++] = offsetof(ZEBDevice, Tunnel);
    out[i++] = offsetof(ZEBDevice, TunnelNode);
    out[i++] = offsetof(ZEBDevice, Reserved3);
    out[i++] = sizeof(ZEBMemoryItem);
    out[i++] = offsetof(ZEBMemoryItem, MemoryType);
    out[i++] = offsetof(ZEBMemoryItem, Address);
    out[i++] = offsetof(ZEBMemoryItem, Count);
    out[i++] = offsetof(ZEBMemoryItem, Buffer);
    out[i++] = sizeof(ZEBMemoryArea);
    out[i++] = sizeof(ZEBSerialSetup);
    out[i++] = sizeof(TaviNode);
    out[i++] = offsetof(TaviNode, Number);
    out[i++] = offsetof(TaviNode, Device);
}
