/*
 * zeb.h - host-side library for Ethernet-attached industrial I/O modules.
 *
 * Plain C functions over caller-owned, byte-packed records. Every function returns a 32-bit
 * result: 0 for success, ZEBWARN_RETRIED (0x2000) for success after re-sends, ZEBERR_... for
 * the library's own errors, a converted module status word, or a Winsock / Windows system
 * error number passed through (the same numbers on every platform).
 *
 * A result counts as failure when it is nonzero and its 0x2000 bit is clear. Winsock numbers
 * (10000 and up) carry the 0x2000 bit too, so a socket error passed through would pass that
 * test: test results with ZEB_SUCCEEDED instead, which accepts only 0 and ZEBWARN_RETRIED.
 *
 * Threads: the process-wide state (sequence counter, CRC mode, query time-out, asynchronous
 * handler) may be used from several threads at once. One device record must never be used by
 * two calls at the same time.
 */
#ifndef ZEB_H
#define ZEB_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define ZEB_CALL __cdecl
#if defined(ZEB_BUILDING_LIBRARY)
#define ZEB_API __declspec(dllexport)
#else
#define ZEB_API __declspec(dllimport)
#endif
#else
#define ZEB_CALL
#define ZEB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Constants ------------------------------------------------------------------------- */

#define ZEB_API_VERSION 3
#define ZEB_TRANSPORT_WINSOCK 4
#define ZEB_TRANSPORT_SERIAL 32
#define ZEB_PROTOCOL_IPX 2
#define ZEB_PROTOCOL_IP 3
#define ZEB_MODULE_PORT 0x7070

#define ZEBWARN_RETRIED 0x2000u
#define ZEBERR_BAD_VERSION 0x8001u
#define ZEBERR_BAD_TRANSPORT 0x8002u
#define ZEBERR_BAD_DEVICE 0x8003u
#define ZEBERR_BUFFER_TOO_SMALL 0x8004u
#define ZEBERR_NO_DATA 0x8005u
#define ZEBERR_TIMEOUT 0x8006u
#define ZEBERR_BAD_PROTOCOL 0x8007u
#define ZEBERR_NEEDS_BROADCAST 0x8008u
#define ZEBERR_NULL_TRANSPORT 0x8009u
#define ZEBERR_BAD_CRC 0x800Du
#define ZEBERR_BAD_PARAMETER 0x8010u
#define ZEBERR_NO_PACKET 0x8011u
#define ZEBERR_MISMATCHED_REPLY 0x8012u
#define ZEBERR_PACKET_TOO_LARGE 0x8013u

/* Success proper: 0, or success after re-sends. Anything else is a failure or an error number. */
#define ZEB_SUCCEEDED(result) ((result) == 0 || (result) == ZEBWARN_RETRIED)

/* ---- Records (byte-packed; the caller owns them and zeroes them before first use) ------- */

#pragma pack(push, 1)

/* One opened transport. */
typedef struct ZEBTransport {
    uint16_t Kind;     /* ZEB_TRANSPORT_WINSOCK or ZEB_TRANSPORT_SERIAL */
    uint16_t Protocol; /* ZEB_PROTOCOL_IPX or ZEB_PROTOCOL_IP (Winsock) */
    uint8_t KeyMode;   /* 1: outgoing frames are XOR-ed with Key */
    uint8_t Reserved1[3];
    char Key[60];        /* zero-terminated key text */
    void* SourceAddress; /* local socket address to bind to, or NULL */
    uint8_t Reserved2[48];
} ZEBTransport;

/* Address of a module reached over UDP/IP: an IPv4 socket address and the broadcast-only flag. */
typedef struct ZEBIpAddress {
    uint8_t SocketAddress[16]; /* family 2, port and address in network order, 8 zero bytes */
    uint8_t Reserved[3];
    uint8_t BroadcastOnly; /* 1: the module may only be reached by broadcast */
} ZEBIpAddress;

/* Serial settings of a module reached over a local COM port. */
typedef struct ZEBSerialAddress {
    uint8_t ComPort;  /* n of COMn */
    uint8_t DataBits; /* 5 to 8 */
    uint8_t Parity;   /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
    uint8_t StopBits; /* 0 one, 1 one and a half, 2 two */
    uint32_t BaudRate;
    void* PortHandle; /* written by ZEBOpenDevice; (void*)-1 when not open */
} ZEBSerialAddress;

typedef union ZEBAddress {
    uint8_t Raw[20];
    ZEBIpAddress Ip;
    ZEBSerialAddress Serial;
} ZEBAddress;

/* One module, opened or merely found. An array of these is also the discovery list. */
typedef struct ZEBDevice {
    ZEBAddress Address;
    uint8_t Reserved1[6];
    uint16_t Timeout; /* ms to wait for one reply */
    uint16_t Retries; /* re-sends after a time-out */
    uint8_t NodeAddress[6];
    uint16_t ResendCount;
    uint16_t CrcErrorCount;
    uint16_t LateReplyCount;
    int32_t NoWait;
    int32_t ExtendedHeader;
    int32_t Broadcast;
    uintptr_t Socket;
    uint16_t DataOffset; /* 9, or 16 with the extended header */
    ZEBTransport* Transport;
    uint32_t FromAddressSize;
    void* FromAddress;
    uint8_t Reserved2[4];
    uint16_t LastSequence;
    uint8_t Tunnel;
    uint8_t TunnelBase;
    uint8_t TunnelSlot;
    uint8_t TunnelNode;
    uint8_t Reserved3[44];
} ZEBDevice;

/* One part of a batched memory access (ZEBAccessMemory). The caller owns the buffers. */
typedef struct ZEBMemoryItem {
    uint8_t Direction; /* 0 read, 1 write */
    uint16_t MemoryType;
    uint32_t Address;
    uint16_t Count;  /* bytes to read or write */
    uint8_t* Buffer; /* destination of a read, source of a write */
} ZEBMemoryItem;

/* One entry of the module's memory listing (ZEBENumMemory), passed on as the module sent it. */
typedef struct ZEBMemoryArea {
    uint8_t Data[22];
} ZEBMemoryArea;

/* A serial port's line settings, passed on unchanged both ways: the layout is the module's. */
typedef struct ZEBSerialSetup {
    uint8_t Data[8];
} ZEBSerialSetup;

/* One entry of the node list (TaviGetNodeList). */
typedef struct TaviNode {
    uint8_t Name[20];  /* the node's name record as delivered, no end mark added */
    uint16_t Number;   /* the first 16 bits of its number record */
    ZEBDevice* Device; /* the node's opened device, owned by the library */
} TaviNode;

#pragma pack(pop)

#if defined(__cplusplus)
#define ZEB_STATIC_ASSERT static_assert
#else
#define ZEB_STATIC_ASSERT _Static_assert
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
#define ZEB_PTR_ 4
#else
#define ZEB_PTR_ 8
#endif

ZEB_STATIC_ASSERT(sizeof(ZEBTransport) == 116 + ZEB_PTR_, "ZEBTransport size");
ZEB_STATIC_ASSERT(offsetof(ZEBTransport, KeyMode) == 4, "KeyMode offset");
ZEB_STATIC_ASSERT(offsetof(ZEBTransport, Key) == 8, "Key offset");
ZEB_STATIC_ASSERT(offsetof(ZEBTransport, SourceAddress) == 68, "SourceAddress offset");
ZEB_STATIC_ASSERT(sizeof(ZEBAddress) == 20, "ZEBAddress size");
ZEB_STATIC_ASSERT(offsetof(ZEBIpAddress, BroadcastOnly) == 19, "BroadcastOnly offset");
ZEB_STATIC_ASSERT(offsetof(ZEBSerialAddress, BaudRate) == 4, "BaudRate offset");
ZEB_STATIC_ASSERT(offsetof(ZEBSerialAddress, PortHandle) == 8, "PortHandle offset");
ZEB_STATIC_ASSERT(sizeof(ZEBDevice) == 114 + 3 * ZEB_PTR_, "ZEBDevice size");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, Timeout) == 26, "Timeout offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, Retries) == 28, "Retries offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, NodeAddress) == 30, "NodeAddress offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, ResendCount) == 36, "ResendCount offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, CrcErrorCount) == 38, "CrcErrorCount offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, LateReplyCount) == 40, "LateReplyCount offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, NoWait) == 42, "NoWait offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, ExtendedHeader) == 46, "ExtendedHeader offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, Broadcast) == 50, "Broadcast offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, Socket) == 54, "Socket offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, DataOffset) == 54 + ZEB_PTR_, "DataOffset offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, Transport) == 56 + ZEB_PTR_, "Transport offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, FromAddressSize) == 56 + 2 * ZEB_PTR_, "FromAddressSize");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, FromAddress) == 60 + 2 * ZEB_PTR_, "FromAddress offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, LastSequence) == 64 + 3 * ZEB_PTR_, "LastSequence");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, Tunnel) == 66 + 3 * ZEB_PTR_, "Tunnel offset");
ZEB_STATIC_ASSERT(offsetof(ZEBDevice, TunnelNode) == 69 + 3 * ZEB_PTR_, "TunnelNode offset");
ZEB_STATIC_ASSERT(sizeof(ZEBMemoryItem) == 9 + ZEB_PTR_, "ZEBMemoryItem size");
ZEB_STATIC_ASSERT(offsetof(ZEBMemoryItem, MemoryType) == 1, "MemoryType offset");
ZEB_STATIC_ASSERT(offsetof(ZEBMemoryItem, Address) == 3, "Address offset");
ZEB_STATIC_ASSERT(offsetof(ZEBMemoryItem, Count) == 7, "Count offset");
ZEB_STATIC_ASSERT(offsetof(ZEBMemoryItem, Buffer) == 9, "Buffer offset");
ZEB_STATIC_ASSERT(sizeof(ZEBMemoryArea) == 22, "ZEBMemoryArea size");
ZEB_STATIC_ASSERT(sizeof(ZEBSerialSetup) == 8, "ZEBSerialSetup size");
ZEB_STATIC_ASSERT(sizeof(TaviNode) == 22 + ZEB_PTR_, "TaviNode size");
ZEB_STATIC_ASSERT(offsetof(TaviNode, Number) == 20, "Number offset");
ZEB_STATIC_ASSERT(offsetof(TaviNode, Device) == 22, "Device offset");

/* Called for packets that arrive while another reply is awaited (on the caller's thread). */
typedef void(ZEB_CALL* ZEBAsyncHandler)(ZEBDevice* device, uint8_t* packet, int32_t length);

/* ---- Library, transports and devices -------------------------------------------------- */

ZEB_API uint32_t ZEB_CALL ZEBOpen(uint16_t version);
ZEB_API uint32_t ZEB_CALL ZEBClose(void);
ZEB_API uint32_t ZEB_CALL ZEBOpenTransport(ZEBTransport* transport, uint16_t version,
                                           void* source_address);
ZEB_API uint32_t ZEB_CALL ZEBCloseTransport(ZEBTransport* transport);
ZEB_API uint32_t ZEB_CALL ZEBOpenDevice(ZEBTransport* transport, ZEBDevice* device,
                                        uint16_t version, uint16_t timeout, uint16_t retries,
                                        int32_t broadcast);
ZEB_API uint32_t ZEB_CALL ZEBCloseDevice(ZEBDevice* device);

/* ---- Request engine -------------------------------------------------------------------- */

ZEB_API int32_t ZEB_CALL SetCRCMode(int32_t mode);
ZEB_API uint32_t ZEB_CALL _SendPacket(ZEBDevice* device, uint8_t* request, uint16_t request_length,
                                      uint8_t* reply, int32_t* reply_length, int32_t want_reply,
                                      int32_t warn);
ZEB_API uint32_t ZEB_CALL SendPacketTwoResponses(ZEBDevice* device, uint8_t* request,
                                                 uint16_t request_length, uint8_t* reply,
                                                 int32_t* reply_length, int32_t want_reply,
                                                 int32_t warn, uint16_t echo_count,
                                                 const uint8_t* echo, uint16_t extra_timeout,
                                                 int32_t wait, int32_t check_sequence);
ZEB_API uint32_t ZEB_CALL GetResponse(ZEBDevice* device, uint8_t* reply, int32_t* reply_length,
                                      uint16_t extra_timeout, int32_t wait, int32_t check_sequence);
ZEB_API uint32_t ZEB_CALL ZEBGetResponse(ZEBDevice* device, uint8_t* buffer, int32_t* length,
                                         int32_t check_sequence);
ZEB_API uint32_t ZEB_CALL ZEBSetAsyncHandler(ZEBAsyncHandler handler);
ZEB_API uint32_t ZEB_CALL ZEBGetAsyncHandler(ZEBAsyncHandler* handler);

/* ---- Discovery ------------------------------------------------------------------------- */

ZEB_API uint32_t ZEB_CALL ZEBQueryDevices(ZEBTransport* transport, ZEBDevice* list, uint16_t* count,
                                          uint16_t version);
ZEB_API uint32_t ZEB_CALL ZEBQueryDeviceData(ZEBTransport* transport, ZEBDevice* list,
                                             uint16_t* count, uint16_t version, uint16_t data_type,
                                             const void* data, uint16_t data_length);
ZEB_API uint32_t ZEB_CALL ZEBSetQueryTimeout(uint32_t milliseconds);
ZEB_API uint32_t ZEB_CALL ZEBGetQueryTimeout(void);

/* ---- Identity and version (size: 16-bit capacity; the delivered count is not reported) -- */

ZEB_API uint32_t ZEB_CALL ZEBReadVersionInfo(ZEBDevice* device, uint8_t* buffer, uint32_t size);
ZEB_API uint32_t ZEB_CALL ZEBReadSupportInfo(ZEBDevice* device, uint8_t* buffer, uint32_t size);
ZEB_API uint32_t ZEB_CALL ZEBReadDeviceDef(ZEBDevice* device, uint8_t* buffer, uint32_t size);

/* ---- Base definition ------------------------------------------------------------------- */

ZEB_API uint32_t ZEB_CALL ZEBReadBaseDef(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
ZEB_API uint32_t ZEB_CALL ZEBInitBaseDef(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
ZEB_API uint32_t ZEB_CALL ZEBRescanBase(ZEBDevice* device, uint32_t value, uint8_t* buffer,
                                        uint16_t* size);
ZEB_API uint32_t ZEB_CALL ZEBWriteBaseDef(ZEBDevice* device, const uint8_t* source, uint32_t length,
                                          uint8_t* buffer, uint16_t* size);

/* ---- Setup data store (each exchange waits 10 ms longer than the device's Timeout) ---- */

ZEB_API uint32_t ZEB_CALL ZEBReadSetupData(ZEBDevice* device, uint16_t type, uint8_t* buffer,
                                           uint16_t* size);
ZEB_API uint32_t ZEB_CALL ZEBWriteSetupData(ZEBDevice* device, uint16_t type, const uint8_t* source,
                                            uint32_t length);
ZEB_API uint32_t ZEB_CALL ZEBDeleteSetupData(ZEBDevice* device, uint16_t type);
ZEB_API uint32_t ZEB_CALL ZEBEnumSetupData(ZEBDevice* device, uint16_t* types, uint16_t* count);

/* ---- Configuration data (shaped as the I/O exchange; honours NoWait) ------------------- */

ZEB_API uint32_t ZEB_CALL ZEBReadConfigData(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
ZEB_API uint32_t ZEB_CALL ZEBWriteConfigData(ZEBDevice* device, const uint8_t* source,
                                             uint32_t length, uint8_t* buffer, uint16_t* size);

/* ---- Diagnostics ----------------------------------------------------------------------- */

ZEB_API uint32_t ZEB_CALL ZEBPetDevice(ZEBDevice* device);
ZEB_API uint32_t ZEB_CALL ZEBReadEthernetStats(ZEBDevice* device, uint8_t* buffer, uint16_t* size,
                                               uint32_t option);
ZEB_API uint32_t ZEB_CALL ZEBReadModuleStatus(ZEBDevice* device, uint8_t* buffer, uint16_t* size,
                                              uint32_t option);

/* ---- I/O exchange ---------------------------------------------------------------------- */

/*
 * ZEBReadIOEx and ZEBWriteIOEx exchange with many devices at once. They use each device's
 * FromAddressSize as its re-send counter: it is set to 0 at the start and holds the number of
 * re-sends made for that device afterwards. A broadcast device that receives sender addresses
 * into FromAddress needs its FromAddressSize set again after such a call.
 */

ZEB_API uint32_t ZEB_CALL ZEBReadIO(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
ZEB_API uint32_t ZEB_CALL ZEBWriteIO(ZEBDevice* device, const uint8_t* source, uint32_t length,
                                     uint8_t* buffer, uint16_t* size);
ZEB_API uint32_t ZEB_CALL ZEBWriteIONoRead(ZEBDevice* device, const uint8_t* source,
                                           uint32_t length);
ZEB_API uint32_t ZEB_CALL ZEBReadIOEx(ZEBDevice** devices, uint8_t** buffers, uint16_t* sizes,
                                      uint32_t* results, int32_t count);
ZEB_API uint32_t ZEB_CALL ZEBWriteIOEx(ZEBDevice** devices, const uint8_t* const* sources,
                                       const uint16_t* lengths, uint8_t** buffers, uint16_t* sizes,
                                       uint32_t* results, int32_t count);

/* ---- Controller requests (acknowledged first; honour NoWait; never report re-sends) ----- */

/* Count: at most 256 data bytes. A read fills exactly Count bytes of buffer; a write sends
 * them, and gets back the module's answer bytes (as many as it sent, at most Count). */
ZEB_API uint32_t ZEB_CALL ZEBCCMRequest(ZEBDevice* device, int32_t write, uint32_t data_type,
                                        uint32_t address, uint32_t count, uint8_t* buffer);
/* Sends the count bytes of buffer (at most 256) and receives the answer into the same buffer;
 * *buffer_size: in, its room; out, the bytes delivered. */
ZEB_API uint32_t ZEB_CALL ZEBKSEQRequest(ZEBDevice* device, uint32_t count, uint8_t* buffer,
                                         uint16_t* buffer_size);

/* ---- Memory and shared RAM ------------------------------------------------------------- */

/*
 * Reads deliver their count bytes whole or not at all (at most 589 a request); a module status
 * whose low 12 bits are 0, or 0x0086, still delivers and is returned sign-extended. Writes take
 * at most 512 bytes (memory) and 256 (shared RAM). In shared RAM, bit 15 of the address is
 * sent as a flag beside it.
 */

ZEB_API uint32_t ZEB_CALL ZEBReadMemory(ZEBDevice* device, uint16_t memory_type, uint32_t address,
                                        uint32_t count, uint8_t* buffer);
ZEB_API uint32_t ZEB_CALL ZEBWriteMemory(ZEBDevice* device, uint16_t memory_type, uint32_t address,
                                         uint32_t count, const uint8_t* buffer);
ZEB_API uint32_t ZEB_CALL ZEBAccessMemory(ZEBDevice* device, ZEBMemoryItem* items,
                                          uint32_t item_count);
ZEB_API uint32_t ZEB_CALL ZEBENumMemory(ZEBDevice* device, uint16_t* area_count,
                                        ZEBMemoryArea* areas);
ZEB_API uint32_t ZEB_CALL ZEBReadSharedRAM(ZEBDevice* device, uint16_t base, uint16_t slot,
                                           uint16_t address, uint32_t count, uint8_t* buffer);
ZEB_API uint32_t ZEB_CALL ZEBWriteSharedRAM(ZEBDevice* device, uint16_t base, uint16_t slot,
                                            uint16_t address, uint32_t count,
                                            const uint8_t* buffer);

/* ---- Serial pass-through (the module's own ports) -------------------------------------- */

/*
 * The plain family leaves the port to the module; the Ex family names it, counted from 1.
 * A write takes at most 196 bytes less the header size (195 for the Ex family), and
 * ZEBAccessComm at most 1496 less the header size. Reads deliver at most the bytes asked for.
 */

ZEB_API uint32_t ZEB_CALL ZEBWriteComm(ZEBDevice* device, uint32_t count, const uint8_t* buffer);
ZEB_API uint32_t ZEB_CALL ZEBReadComm(ZEBDevice* device, uint16_t* count, uint8_t* buffer);
ZEB_API uint32_t ZEB_CALL ZEBGetRXAvailable(ZEBDevice* device, uint16_t* available);
ZEB_API uint32_t ZEB_CALL ZEBFlushRXQueue(ZEBDevice* device);
ZEB_API uint32_t ZEB_CALL ZEBSetupSerialPort(ZEBDevice* device, const ZEBSerialSetup* setup,
                                             int32_t wait);
ZEB_API uint32_t ZEB_CALL ZEBReadSerialPortSetup(ZEBDevice* device, ZEBSerialSetup* setup);
ZEB_API uint32_t ZEB_CALL ZEBGetTXLeft(ZEBDevice* device, uint16_t* left);

ZEB_API uint32_t ZEB_CALL ZEBWriteCommEx(ZEBDevice* device, uint32_t port, uint32_t count,
                                         const uint8_t* buffer);
ZEB_API uint32_t ZEB_CALL ZEBReadCommEx(ZEBDevice* device, uint32_t port, uint16_t* count,
                                        uint8_t* buffer);
ZEB_API uint32_t ZEB_CALL ZEBGetRXAvailableEx(ZEBDevice* device, uint32_t port,
                                              uint16_t* available);
ZEB_API uint32_t ZEB_CALL ZEBFlushRXQueueEx(ZEBDevice* device, uint32_t port);
ZEB_API uint32_t ZEB_CALL ZEBFlushTXQueueEx(ZEBDevice* device, uint32_t port);
ZEB_API uint32_t ZEB_CALL ZEBSetupSerialPortEx(ZEBDevice* device, uint32_t port,
                                               const ZEBSerialSetup* setup, int32_t wait);
ZEB_API uint32_t ZEB_CALL ZEBReadSerialPortSetupEx(ZEBDevice* device, uint32_t port,
                                                   ZEBSerialSetup* setup);
ZEB_API uint32_t ZEB_CALL ZEBGetTXLeftEx(ZEBDevice* device, uint32_t port, uint16_t* left);

/* Sends count bytes and delivers the answer; *reply_count: in, room in reply_buffer; out, the
 * bytes delivered. With a null reply_buffer or reply_count only the status counts. */
ZEB_API uint32_t ZEB_CALL ZEBAccessComm(ZEBDevice* device, uint32_t count, const uint8_t* buffer,
                                        uint16_t* reply_count, uint8_t* reply_buffer);

/* ---- Remote master (a Vireo behind the module's shared RAM) -------------------------------- */

/* Moves count bytes into or out of the remote master's area (low byte used) from offset on, in
 * chunks of 256 bytes. base and slot select the shared RAM (low 16 bits sent). */
ZEB_API uint32_t ZEB_CALL ZEBWriteVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                            uint32_t area, const uint8_t* buffer, uint16_t count,
                                            uint16_t offset);
ZEB_API uint32_t ZEB_CALL ZEBReadVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                           uint32_t area, uint8_t* buffer, uint16_t count,
                                           uint16_t offset);
/* Runs a numbered command; on failure the result is the remote master's error byte. */
ZEB_API uint32_t ZEB_CALL ZEBDoVireoCommand(ZEBDevice* device, uint32_t base, uint32_t slot,
                                            uint16_t command);
/* The same with up to 250 parameter bytes; on failure the result is its 16-bit error code. */
ZEB_API uint32_t ZEB_CALL ZEBDoVireoCommandEx(ZEBDevice* device, uint32_t base, uint32_t slot,
                                              uint16_t command, const uint8_t* params,
                                              uint16_t param_length);
ZEB_API uint32_t ZEB_CALL XCPUWriteVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                             uint32_t area, const uint8_t* buffer, uint16_t count,
                                             uint16_t offset);
ZEB_API uint32_t ZEB_CALL XCPUReadVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                            uint32_t area, uint8_t* buffer, uint16_t count,
                                            uint16_t offset);
ZEB_API uint32_t ZEB_CALL XCPUDoVireoCommand(ZEBDevice* device, uint32_t base, uint32_t slot,
                                             uint16_t command);
ZEB_API uint32_t ZEB_CALL XCPUDoVireoCommandEx(ZEBDevice* device, uint32_t base, uint32_t slot,
                                               uint16_t command, const uint8_t* params,
                                               uint16_t param_length);

/* ---- Networked nodes ------------------------------------------------------------------- */

/* Finds, opens and lists every networked node on the local IPX network. The table and the
 * devices it points to are the library's and stay valid (and open) until the next call, which
 * closes them first. Returns null with *count 0 when no node is found or anything fails. */
ZEB_API TaviNode* ZEB_CALL TaviGetNodeList(uint16_t* count);
/* Writes count bytes (at most 316) into a node's program space: 0, ZEBWARN_RETRIED after
 * re-sends, the node's status word sign-extended, or the exchange's failure. */
ZEB_API uint32_t ZEB_CALL ZEBWriteTaviethernetPgmSpace(ZEBDevice* device, const uint8_t* buffer,
                                                       uint16_t count);
/* Writes the count bytes from packet + 60 on; 1 and *status set to 0 on success, else 0. */
ZEB_API int32_t ZEB_CALL TaviSendPacket(ZEBDevice* device, const uint8_t* packet, uint8_t* status,
                                        uint16_t count);

/* ---- Result texts ------------------------------------------------------------------- */

/* Writes a short English text for any result of this library into buffer: the ZEBERR_ or
 * ZEBWARN_ name with a sentence, a Winsock or Windows error number by its name, or a module's
 * status word by its class. The text is cut to fit size bytes and always terminated when size
 * is above 0 (size 0 writes nothing). Returns the length of the whole text without the
 * terminator, so a result of size or more means it was cut. Thread-safe; allocates nothing. */
ZEB_API uint32_t ZEB_CALL ZEBResultText(uint32_t result, char* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* ZEB_H */
