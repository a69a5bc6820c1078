/**
 * @file zeb.h
 * @brief Host-side library for Ethernet-attached industrial I/O modules.
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
 *
 * The functions are grouped by family; see @ref zeb_results for how to read a result.
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

/**
 * @defgroup zeb_linkage Linkage
 * @brief How the exports are declared.
 * @{
 */

/**
 * @def ZEB_API
 * @brief Marks an export of the library.
 *
 * On Windows `__declspec(dllexport)` while the library itself is built (with
 * `ZEB_BUILDING_LIBRARY` defined) and `__declspec(dllimport)` for its users; elsewhere the
 * default symbol visibility. The DLL exports the names undecorated.
 */

/**
 * @def ZEB_CALL
 * @brief The exports' calling convention: caller-clears (`__cdecl`) on Windows, the
 * platform's own elsewhere.
 *
 * Hosts that can only call the callee-clears convention use the forwarders of `ZEB_PAS`.
 */

/** @} */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Constants ------------------------------------------------------------------------- */

/**
 * @defgroup zeb_constants Constants
 * @brief The API version, the transport kinds and protocols, and the modules' port.
 * @{
 */

/** The API version: the only version that ZEBOpen(), ZEBOpenTransport(), ZEBOpenDevice(),
 *  ZEBQueryDevices() and ZEBQueryDeviceData() accept (else ZEBERR_BAD_VERSION). */
#define ZEB_API_VERSION 3
/** Transport kind (ZEBTransport::Kind): Winsock datagram sockets, UDP over IPv4 or IPX. */
#define ZEB_TRANSPORT_WINSOCK 4
/** Transport kind (ZEBTransport::Kind): a local serial port, one module per port. */
#define ZEB_TRANSPORT_SERIAL 32
/** Protocol of a Winsock transport (ZEBTransport::Protocol): IPX datagrams. */
#define ZEB_PROTOCOL_IPX 2
/** Protocol of a Winsock transport (ZEBTransport::Protocol): UDP over IPv4. */
#define ZEB_PROTOCOL_IP 3
/** The UDP port, and IPX socket number, on which modules listen (28784). Both bytes are 0x70,
 *  so the value reads the same in host and network byte order. */
#define ZEB_MODULE_PORT 0x7070

/** @} */

/**
 * @defgroup zeb_results Result codes
 * @brief What the 32-bit results mean, and how to test them.
 *
 * Every function returns a 32-bit result (the `XCPU...` family the same bits as a signed
 * number). It is one of:
 * - 0: success;
 * - ZEBWARN_RETRIED (0x2000): success after re-sends, where the operation reports it;
 * - one of the library's codes ZEBERR_... below (0x8001 to 0x8013);
 * - a module's nonzero status word, converted by one of two rules that each operation names:
 *   *sign-extended* from 16 to 32 bits (0x0002 gives 2, 0x8003 gives 0xFFFF8003), or
 *   *sign-extended with bit 15 set* (the I/O rule: 0x0005 gives 0x8005, 0x8012 gives
 *   0xFFFF8012). By the second rule a small status word reads like a library code;
 * - a Winsock error number (10000 and up) or a Windows system error number (2, 5, 32, ...;
 *   109 for a serial reply cut short), passed through unchanged. On other platforms the
 *   system's errors are given the same Windows numbers, so a host sees the same results
 *   everywhere.
 *
 * Test a result with ZEB_SUCCEEDED(). The classic test (a failure is nonzero with the 0x2000
 * bit clear) lets Winsock numbers through, since they carry that bit too.
 *
 * **Failures of the exchange.** An operation that talks to a module can end in: ZEBERR_BAD_DEVICE
 * (a null device, or a record whose DataOffset is neither 9 nor 16, such as a zeroed record
 * that was never opened), ZEBERR_BAD_TRANSPORT (a device that is closed), ZEBERR_TIMEOUT (no
 * reply after ZEBDevice::Retries + 1 sends), ZEBERR_BAD_CRC, or a socket or serial-port error.
 * Nothing is delivered then. An operation that delivers data or reads a status word reports a
 * socket error as ZEBERR_NO_DATA, since the exchange left it no reply.
 *
 * **Delivery.** A caller's buffer comes with its capacity, usually as a pointer to a 16-bit
 * count that is replaced by the number of bytes delivered. Data longer than the buffer is cut
 * to fit and reported as ZEBERR_BUFFER_TOO_SMALL; an empty reply, or one without the fields
 * the operation reads, as ZEBERR_NO_DATA. A request that does not fit the operation's packet is
 * refused before anything is sent, with ZEBERR_PACKET_TOO_LARGE. Reads never go past the bytes
 * that arrived.
 * @{
 */

/** Success after re-sends: the request had to be sent again at least once (reported by the
 *  I/O exchange, the configuration data, and the acknowledged writes). */
#define ZEBWARN_RETRIED 0x2000u
/** The version argument is not ZEB_API_VERSION. */
#define ZEBERR_BAD_VERSION 0x8001u
/** The transport's kind is neither ZEB_TRANSPORT_WINSOCK nor ZEB_TRANSPORT_SERIAL, or the
 *  device is not open (its ZEBDevice::Transport is null). */
#define ZEBERR_BAD_TRANSPORT 0x8002u
/** A null device, a header size (ZEBDevice::DataOffset) other than 9 or 16, or a serial
 *  device whose port is not open. */
#define ZEBERR_BAD_DEVICE 0x8003u
/** The caller's buffer or list is too small: what fits has been delivered, the rest dropped. */
#define ZEBERR_BUFFER_TOO_SMALL 0x8004u
/** An empty reply, or one without the fields (status word, counts, data) that the operation
 *  reads. */
#define ZEBERR_NO_DATA 0x8005u
/** No acceptable reply within ZEBDevice::Timeout (plus the operation's extra time), after
 *  ZEBDevice::Retries re-sends; also a remote master that does not finish in time. */
#define ZEBERR_TIMEOUT 0x8006u
/** A Winsock transport whose protocol is neither ZEB_PROTOCOL_IPX nor ZEB_PROTOCOL_IP. */
#define ZEBERR_BAD_PROTOCOL 0x8007u
/** The module may be reached by broadcast only (ZEBIpAddress::BroadcastOnly), and the device
 *  was opened without broadcast. */
#define ZEBERR_NEEDS_BROADCAST 0x8008u
/** No transport given. */
#define ZEBERR_NULL_TRANSPORT 0x8009u
/** The reply's CRC does not match its contents (checked while the CRC mode is on). The request
 *  is not re-sent. */
#define ZEBERR_BAD_CRC 0x800Du
/** A null pointer where data is needed, a count above the operation's limit (controller
 *  requests, memory reads), or a reply whose length does not fit the request. */
#define ZEBERR_BAD_PARAMETER 0x8010u
/** Nothing waiting: a receive that does not wait found no reply, or a request was sent in
 *  no-wait mode (ZEBDevice::NoWait) and its reply is left for ZEBGetResponse(). */
#define ZEBERR_NO_PACKET 0x8011u
/** The acknowledgement did not echo the request, or an answer does not answer it. */
#define ZEBERR_MISMATCHED_REPLY 0x8012u
/** The request does not fit the operation's packet, or a block exceeds the operation's limit;
 *  nothing was sent. */
#define ZEBERR_PACKET_TOO_LARGE 0x8013u

/**
 * @brief Success proper: 0, or success after re-sends (ZEBWARN_RETRIED). Anything else is a
 * failure or an error number.
 * @param result A result of the library.
 * @return Nonzero when the result is 0 or ZEBWARN_RETRIED, else 0.
 */
#define ZEB_SUCCEEDED(result) zeb_succeeded_(result)

/** @cond internal */
/* A function, so that a call passed as the argument is made once. */
static inline int zeb_succeeded_(uint32_t result) {
    return result == 0 || result == ZEBWARN_RETRIED;
}
/** @endcond */

/** @} */

/* ---- Records (byte-packed; the caller owns them and zeroes them before first use) ------- */

#pragma pack(push, 1)

/**
 * @ingroup zeb_library
 * @brief One opened transport.
 *
 * Byte-packed; the caller owns it and zeroes it before first use, sets Kind and Protocol, and
 * passes it to ZEBOpenTransport(), which sets KeyMode and SourceAddress. It must outlive the
 * devices opened on it, which keep a pointer to it.
 */
typedef struct ZEBTransport {
    /** ZEB_TRANSPORT_WINSOCK or ZEB_TRANSPORT_SERIAL. Set by the caller. */
    uint16_t Kind;
    /** ZEB_PROTOCOL_IPX or ZEB_PROTOCOL_IP (Winsock). Set by the caller; not looked at for a
     *  serial transport. The value 4 makes ZEBQueryDevices() find nothing at once. */
    uint16_t Protocol;
    /** 1: outgoing frames are XOR-ed with Key (from byte 5 on: CRC, length and body; the
     *  magic and the sequence number stay clear). Any other value: frames go out in clear.
     *  ZEBOpenTransport() sets it to 0; a caller that wants the key sets it afterwards. */
    uint8_t KeyMode;
    /** Reserved. */
    uint8_t Reserved1[3];
    /** Zero-terminated key text, its characters used in turn. A key without a zero ends after
     *  the whole field; an empty key changes nothing. */
    char Key[60];
    /** Local socket address to bind each device's socket to, or NULL for any. For IP: family
     *  (16 bits), port and IPv4 address in network order; for IPX: a 14-byte IPX address,
     *  whose network is also the one broadcasts go to. Set from the third argument of
     *  ZEBOpenTransport(); the address must outlive the transport. */
    void* SourceAddress;
    /** Reserved. */
    uint8_t Reserved2[48];
} ZEBTransport;

/**
 * @ingroup zeb_library
 * @brief Address of a module reached over UDP/IP: an IPv4 socket address and the
 * broadcast-only flag (ZEBAddress::Ip).
 */
typedef struct ZEBIpAddress {
    /** Family 2 (16 bits, host order), port and address in network order, 8 zero bytes: the
     *  module's address with port ZEB_MODULE_PORT, as discovery fills it. */
    uint8_t SocketAddress[16];
    /** Reserved. */
    uint8_t Reserved[3];
    /** 1: the module may only be reached by broadcast (set by discovery from the module's
     *  answer); ZEBOpenDevice() then refuses to open it without broadcast. */
    uint8_t BroadcastOnly;
} ZEBIpAddress;

/**
 * @ingroup zeb_library
 * @brief Serial settings of a module reached over a local COM port (ZEBAddress::Serial).
 *
 * ZEBOpenDevice() opens the port for itself alone and sets these line settings (on Linux in
 * raw mode; on Windows the port's other settings stay as they were). A serial device waits no
 * longer than its Timeout for a reply; a reply that stops for 1000 ms in the middle gives 109.
 */
typedef struct ZEBSerialAddress {
    /** n of COMn: `COM1:` to `COM9:` on Windows, the device path of COMn above 9; on Linux
     *  `/dev/ttyS0` for COM1, `/dev/ttyS1` for COM2 and so on. Port 0 has no name. */
    uint8_t ComPort;
    /** Data bits, 5 to 8. */
    uint8_t DataBits;
    /** Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. */
    uint8_t Parity;
    /** Stop bits: 0 one, 1 one and a half, 2 two. */
    uint8_t StopBits;
    /** Bits per second. */
    uint32_t BaudRate;
    /** The opened port, written by ZEBOpenDevice() (also when setting the port up failed);
     *  (void*)-1 when not open. */
    void* PortHandle;
} ZEBSerialAddress;

/**
 * @ingroup zeb_library
 * @brief Where a module is (ZEBDevice::Address): a socket address or serial settings, by the
 * transport's kind and protocol.
 */
typedef union ZEBAddress {
    /** The 20 bytes as they stand. Discovery copies the sender's address here as the socket
     *  layer reports it: 16 bytes for IP; for IPX the 14-byte IPX address (family 6, 4-byte
     *  network, 6-byte node, 2-byte socket), which is the layout an IPX device is opened with. */
    uint8_t Raw[20];
    /** A module reached over UDP/IP. */
    ZEBIpAddress Ip;
    /** A module reached over a local serial port. */
    ZEBSerialAddress Serial;
} ZEBAddress;

/**
 * @ingroup zeb_library
 * @brief One module, opened or merely found. An array of these is also the discovery list.
 *
 * Byte-packed; the caller owns it and zeroes it before first use. Discovery fills Address and
 * NodeAddress, and such an entry is given to ZEBOpenDevice() unchanged; ZEBOpenDevice() sets
 * the timing, counters, mode and header fields and leaves Address, NodeAddress, LastSequence
 * and the tunnel fields as they are. A record must not be used by two calls at once.
 */
typedef struct ZEBDevice {
    /** Where the module is: an IP or IPX socket address, or serial settings. Set by the
     *  caller or by discovery. */
    ZEBAddress Address;
    /** Reserved. */
    uint8_t Reserved1[6];
    /** Milliseconds to wait for one reply. Set by ZEBOpenDevice(). Some operations wait
     *  longer for their final reply, and a few raise it by 10 ms for the length of their call
     *  (it has its value back afterwards). */
    uint16_t Timeout;
    /** Re-sends after a time-out, so at most Retries + 1 sends of one request. Set by
     *  ZEBOpenDevice(). */
    uint16_t Retries;
    /** The module's 6-byte hardware address, from its discovery answer; carried in the
     *  extended header. */
    uint8_t NodeAddress[6];
    /** Counts every re-send made on this device (16 bits, wrapping). Zeroed by
     *  ZEBOpenDevice(). */
    uint16_t ResendCount;
    /** Counts replies refused because their CRC did not match. Zeroed by ZEBOpenDevice(). */
    uint16_t CrcErrorCount;
    /** Counts packets that arrived while another reply was awaited (a late reply to an earlier
     *  send, say). Zeroed by ZEBOpenDevice(). */
    uint16_t LateReplyCount;
    /** Nonzero: the operations that honour it (I/O exchange, configuration data, controller
     *  requests) send their request and return ZEBERR_NO_PACKET at once; the reply is then
     *  collected with ZEBGetResponse(). Zeroed by ZEBOpenDevice(). */
    int32_t NoWait;
    /** Nonzero: requests carry the 16-byte extended header (marker 0x15 and NodeAddress), so
     *  that only the module with that hardware address answers. Set by ZEBOpenDevice() to its
     *  broadcast argument. */
    int32_t ExtendedHeader;
    /** Nonzero: the socket is opened for broadcast, every request goes to the broadcast
     *  address, and replies are read with their sender's address. Set by ZEBOpenDevice(). */
    int32_t Broadcast;
    /** The device's datagram socket (Winsock transports). The library's; set by
     *  ZEBOpenDevice(). */
    uintptr_t Socket;
    /** Where a request's body begins: 9, or 16 with the extended header. Set by
     *  ZEBOpenDevice(); operations refuse any other value with ZEBERR_BAD_DEVICE. */
    uint16_t DataOffset;
    /** The transport the device was opened on; NULL means that the device is not open. Set by
     *  ZEBOpenDevice() (also when the open fails), cleared by ZEBCloseDevice(). */
    ZEBTransport* Transport;
    /** Room in bytes at FromAddress. ZEBReadIOEx() and ZEBWriteIOEx() also use it as the
     *  device's re-send counter: they zero it at entry and count in it. */
    uint32_t FromAddressSize;
    /** In broadcast mode, receives the sender's socket address of every packet read, cut to
     *  FromAddressSize bytes (a cut address gives ZEBERR_BUFFER_TOO_SMALL with the packet still
     *  received); NULL when not wanted. Set to NULL by ZEBOpenDevice(). */
    void* FromAddress;
    /** Reserved; zeroed by ZEBOpenDevice(). */
    uint8_t Reserved2[4];
    /** Sequence number of the last request sent, whose reply is awaited. */
    uint16_t LastSequence;
    /** 1: every request of this device travels through a remote master (TunnelBase,
     *  TunnelSlot) to the node TunnelNode instead of its own socket or port; it is 1 again
     *  when the call returns. Any other value: direct. Set by the caller. */
    uint8_t Tunnel;
    /** The remote master's base selector, as the base argument of ZEBWriteVireoData(). */
    uint8_t TunnelBase;
    /** The remote master's slot selector, as the slot argument of ZEBWriteVireoData(). */
    uint8_t TunnelSlot;
    /** The node's number on the remote master's network. */
    uint8_t TunnelNode;
    /** Reserved. The library keeps a note here of the socket or port that the record owns
     *  once opened: leave it alone between ZEBOpenDevice() and ZEBCloseDevice(). */
    uint8_t Reserved3[44];
} ZEBDevice;

/**
 * @ingroup zeb_memory
 * @brief One part of a batched memory access (ZEBAccessMemory()). The caller owns the buffers.
 */
typedef struct ZEBMemoryItem {
    /** 0 read, 1 write; anything else is refused with ZEBERR_BAD_PARAMETER. */
    uint8_t Direction;
    /** The memory type, whose meaning is the module's. */
    uint16_t MemoryType;
    /** The first address. */
    uint32_t Address;
    /** Bytes to read or write. */
    uint16_t Count;
    /** Destination of a read, source of a write: Count bytes. */
    uint8_t* Buffer;
} ZEBMemoryItem;

/**
 * @ingroup zeb_memory
 * @brief One entry of the module's memory listing (ZEBENumMemory()), passed on as the module
 * sent it.
 */
typedef struct ZEBMemoryArea {
    /** The entry's 22 bytes; their layout is the module's. */
    uint8_t Data[22];
} ZEBMemoryArea;

/**
 * @ingroup zeb_serial
 * @brief A serial port's line settings, passed on unchanged both ways: the layout is the
 * module's.
 */
typedef struct ZEBSerialSetup {
    /** The record's 8 bytes. */
    uint8_t Data[8];
} ZEBSerialSetup;

/**
 * @ingroup zeb_nodes
 * @brief One entry of the node list (TaviGetNodeList()).
 */
typedef struct TaviNode {
    /** The node's name record (setup type 0x16) as delivered, at most 20 bytes; no end mark
     *  is added, and bytes after a shorter name keep what they held. */
    uint8_t Name[20];
    /** The first 16 bits of its number record (setup type 0x20). */
    uint16_t Number;
    /** The node's opened device, owned by the library: valid, and open, until the next
     *  TaviGetNodeList(). */
    ZEBDevice* Device;
} TaviNode;

/* ---- Records of the controller services (XCPU...) --------------------------------------- */

/**
 * @defgroup zeb_xcpu_records Records of the controller services
 * @ingroup zeb_xcpu
 * @brief The Windows records that the `XCPU...` functions carry.
 *
 * Carried byte for byte between the caller and a controller module, in the layouts of the
 * Windows records of the same purpose on the module (named in each record), which is a 32-bit
 * Windows CE system. The library looks inside none of them; the field names are for the
 * caller's convenience. On 32-bit Windows they have the sizes and offsets of the host's own
 * records, except the find record.
 * @{
 */

/** @brief FILETIME: 100-ns intervals since 1 January 1601, in two halves (8 bytes). */
typedef struct ZEBFileTime {
    /** The low 32 bits. */
    uint32_t LowDateTime;
    /** The high 32 bits. */
    uint32_t HighDateTime;
} ZEBFileTime;

/** @brief BY_HANDLE_FILE_INFORMATION (52 bytes). */
typedef struct ZEBFileInfo {
    /** The file's attributes. */
    uint32_t Attributes;
    /** When the file was created. */
    ZEBFileTime CreationTime;
    /** When it was last read or written. */
    ZEBFileTime LastAccessTime;
    /** When it was last written. */
    ZEBFileTime LastWriteTime;
    /** The serial number of its volume. */
    uint32_t VolumeSerialNumber;
    /** Its size, high 32 bits. */
    uint32_t SizeHigh;
    /** Its size, low 32 bits. */
    uint32_t SizeLow;
    /** The number of links to it. */
    uint32_t NumberOfLinks;
    /** Its identifier on the volume, high 32 bits. */
    uint32_t IndexHigh;
    /** Its identifier on the volume, low 32 bits. */
    uint32_t IndexLow;
} ZEBFileInfo;

/**
 * @brief SECURITY_ATTRIBUTES as the 32-bit module holds it: 12 bytes on every host, so on
 * 64-bit Windows it is not the host's own record.
 */
typedef struct ZEBSecurityAttributes {
    /** The record's size, 12. */
    uint32_t Length;
    /** A value of the module's, passed on unchanged. */
    uint32_t SecurityDescriptor;
    /** Nonzero: the handle is inherited. */
    int32_t InheritHandle;
} ZEBSecurityAttributes;

/**
 * @brief One entry of a directory search in the module's layout (WIN32_FIND_DATA of
 * Windows CE, 560 bytes).
 */
typedef struct ZEBFindData {
    /** The file's attributes. */
    uint32_t Attributes;
    /** When the file was created. */
    ZEBFileTime CreationTime;
    /** When it was last read or written. */
    ZEBFileTime LastAccessTime;
    /** When it was last written. */
    ZEBFileTime LastWriteTime;
    /** Its size, high 32 bits. */
    uint32_t SizeHigh;
    /** Its size, low 32 bits. */
    uint32_t SizeLow;
    /** The module's object identifier of the file. */
    uint32_t ObjectId;
    /** The file's name: UTF-16, zero-terminated. */
    uint16_t FileName[260];
} ZEBFindData;

/** @brief DCB: a serial port's line settings (28 bytes). */
typedef struct ZEBCommState {
    /** The record's size, 28. */
    uint32_t Length;
    /** Bits per second. */
    uint32_t BaudRate;
    /** The record's one-bit and two-bit switches, first one in bit 0. */
    uint32_t Flags;
    /** Reserved (0). */
    uint16_t Reserved;
    /** Bytes in the receive queue below which flow is turned on again. */
    uint16_t XonLimit;
    /** Free bytes in the receive queue below which flow is stopped. */
    uint16_t XoffLimit;
    /** Data bits. */
    uint8_t ByteSize;
    /** Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. */
    uint8_t Parity;
    /** Stop bits: 0 one, 1 one and a half, 2 two. */
    uint8_t StopBits;
    /** The XON character. */
    char XonChar;
    /** The XOFF character. */
    char XoffChar;
    /** The character put in place of one received with a parity error. */
    char ErrorChar;
    /** The end-of-data character. */
    char EofChar;
    /** The character that signals an event. */
    char EvtChar;
    /** Reserved. */
    uint16_t Reserved1;
} ZEBCommState;

/** @brief COMMTIMEOUTS, in milliseconds (20 bytes). */
typedef struct ZEBCommTimeouts {
    /** The longest time between two received bytes. */
    uint32_t ReadIntervalTimeout;
    /** Per byte read, added to the read's total time-out. */
    uint32_t ReadTotalTimeoutMultiplier;
    /** Added to the read's total time-out. */
    uint32_t ReadTotalTimeoutConstant;
    /** Per byte written, added to the write's total time-out. */
    uint32_t WriteTotalTimeoutMultiplier;
    /** Added to the write's total time-out. */
    uint32_t WriteTotalTimeoutConstant;
} ZEBCommTimeouts;

/** @brief COMSTAT: a serial port's state (12 bytes). */
typedef struct ZEBCommStatus {
    /** The hold and end-of-file switches, first one in bit 0. */
    uint32_t Flags;
    /** Bytes received and not yet read. */
    uint32_t InQueue;
    /** Bytes still to be sent. */
    uint32_t OutQueue;
} ZEBCommStatus;

/** @brief COMMPROP: what a serial port can do (64 bytes). */
typedef struct ZEBCommProperties {
    /** The size of the record. */
    uint16_t PacketLength;
    /** The record's version. */
    uint16_t PacketVersion;
    /** The services the port offers. */
    uint32_t ServiceMask;
    /** Reserved. */
    uint32_t Reserved1;
    /** The largest transmit queue, in bytes (0: no limit). */
    uint32_t MaxTxQueue;
    /** The largest receive queue, in bytes (0: no limit). */
    uint32_t MaxRxQueue;
    /** The highest rate the port can be set to. */
    uint32_t MaxBaud;
    /** The kind of device behind the port. */
    uint32_t ProvSubType;
    /** What the port supports (flow control, time-outs and the like). */
    uint32_t ProvCapabilities;
    /** The settings that can be changed. */
    uint32_t SettableParams;
    /** The rates that can be set. */
    uint32_t SettableBaud;
    /** The data bits that can be set. */
    uint16_t SettableData;
    /** The stop bits and parities that can be set. */
    uint16_t SettableStopParity;
    /** The transmit queue's size, in bytes. */
    uint32_t CurrentTxQueue;
    /** The receive queue's size, in bytes. */
    uint32_t CurrentRxQueue;
    /** Data specific to the port's provider. */
    uint32_t ProvSpec1;
    /** Data specific to the port's provider. */
    uint32_t ProvSpec2;
    /** Data specific to the port's provider. */
    uint16_t ProvChar[1];
    /** The padding at the end of the Windows record. */
    uint16_t Reserved2;
} ZEBCommProperties;

/** @} */

#pragma pack(pop)

/* The records' sizes and field offsets, checked wherever this header is compiled. */
/** @cond ZEB_LAYOUT_CHECKS */

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
ZEB_STATIC_ASSERT(sizeof(ZEBFileTime) == 8, "ZEBFileTime size");
ZEB_STATIC_ASSERT(sizeof(ZEBFileInfo) == 52, "ZEBFileInfo size");
ZEB_STATIC_ASSERT(sizeof(ZEBSecurityAttributes) == 12, "ZEBSecurityAttributes size");
ZEB_STATIC_ASSERT(sizeof(ZEBFindData) == 560, "ZEBFindData size");
ZEB_STATIC_ASSERT(offsetof(ZEBFindData, ObjectId) == 36, "ObjectId offset");
ZEB_STATIC_ASSERT(offsetof(ZEBFindData, FileName) == 40, "FileName offset");
ZEB_STATIC_ASSERT(sizeof(ZEBCommState) == 28, "ZEBCommState size");
ZEB_STATIC_ASSERT(offsetof(ZEBCommState, ByteSize) == 18, "ByteSize offset");
ZEB_STATIC_ASSERT(sizeof(ZEBCommTimeouts) == 20, "ZEBCommTimeouts size");
ZEB_STATIC_ASSERT(sizeof(ZEBCommStatus) == 12, "ZEBCommStatus size");
ZEB_STATIC_ASSERT(sizeof(ZEBCommProperties) == 64, "ZEBCommProperties size");
ZEB_STATIC_ASSERT(offsetof(ZEBCommProperties, SettableData) == 40, "SettableData offset");
ZEB_STATIC_ASSERT(offsetof(ZEBCommProperties, ProvChar) == 60, "ProvChar offset");

/** @endcond */

/**
 * @ingroup zeb_engine
 * @brief Called for packets that arrive while another reply is awaited (on the caller's
 * thread).
 *
 * Installed with ZEBSetAsyncHandler(). The library calls it from inside a wait for a reply,
 * synchronously, for every packet that is not that reply: a late reply to an earlier send, a
 * runt, another sender's packet in broadcast mode. Such packets are also counted in
 * ZEBDevice::LateReplyCount and then dropped. The handler's arguments:
 * - `device`: the device whose reply is awaited (a temporary device during discovery);
 * - `packet`: the packet as it arrived, header included, in the caller's reply buffer, which
 *   the next receive overwrites: copy what is to be kept;
 * - `length`: the packet's length in bytes.
 */
typedef void(ZEB_CALL* ZEBAsyncHandler)(ZEBDevice* device, uint8_t* packet, int32_t length);

/* ---- Library, transports and devices -------------------------------------------------- */

/**
 * @defgroup zeb_library Library, transports and devices
 * @brief Opening and closing the library, a transport, and the device record of one module.
 *
 * The order of use: ZEBOpen(), ZEBOpenTransport(), discovery (ZEBQueryDevices()) or a record
 * filled by the caller, ZEBOpenDevice() on one entry, any number of operations,
 * ZEBCloseDevice(), ZEBCloseTransport(), ZEBClose(). A Winsock transport gives each device a
 * non-blocking datagram socket of its own, connected to the module or opened for broadcast; a
 * serial transport gives each device a local COM port.
 */

/**
 * @ingroup zeb_library
 * @brief Opens the library: checks the version, and nothing else.
 * @param[in] version The caller's API version, ZEB_API_VERSION.
 * @retval 0 The version is accepted.
 * @retval ZEBERR_BAD_VERSION Any other version.
 */
ZEB_API uint32_t ZEB_CALL ZEBOpen(uint16_t version);
/**
 * @ingroup zeb_library
 * @brief Closes the library. It holds nothing, so nothing happens.
 * @return Always 0.
 */
ZEB_API uint32_t ZEB_CALL ZEBClose(void);
/**
 * @ingroup zeb_library
 * @brief Opens a transport whose Kind and Protocol the caller has set.
 *
 * Sets ZEBTransport::KeyMode to 0 and ZEBTransport::SourceAddress to `source_address`, then,
 * for a Winsock transport, starts the socket layer when this is the first open Winsock
 * transport of the process (Winsock 2.0 on Windows). A serial transport takes nothing.
 *
 * @param[in,out] transport The caller's transport record, zeroed, with Kind and Protocol set.
 * @param[in] version ZEB_API_VERSION; checked first, before the transport pointer.
 * @param[in] source_address The local socket address that the transport's devices bind to
 *   (see ZEBTransport::SourceAddress), or NULL for any. Kept, not copied: it must outlive the
 *   transport.
 * @retval 0 Opened.
 * @retval ZEBERR_BAD_VERSION The version is not ZEB_API_VERSION.
 * @retval ZEBERR_NULL_TRANSPORT No transport given.
 * @retval ZEBERR_BAD_TRANSPORT An unknown Kind.
 * @retval ZEBERR_BAD_PROTOCOL A Winsock transport whose Protocol is neither IPX nor IP.
 * @return Otherwise the socket layer's start-up error.
 */
ZEB_API uint32_t ZEB_CALL ZEBOpenTransport(ZEBTransport* transport, uint16_t version,
                                           void* source_address);
/**
 * @ingroup zeb_library
 * @brief Closes a transport: the socket layer is cleaned up when the last open Winsock
 * transport closes.
 *
 * Does not close the devices opened on it; close them first. Closing more often than opening
 * changes nothing.
 *
 * @param[in] transport The transport.
 * @retval 0 Closed (also when it was closed already).
 * @retval ZEBERR_NULL_TRANSPORT No transport given.
 * @retval ZEBERR_BAD_TRANSPORT An unknown Kind.
 * @retval ZEBERR_BAD_PROTOCOL A Winsock transport whose Protocol is neither IPX nor IP.
 */
ZEB_API uint32_t ZEB_CALL ZEBCloseTransport(ZEBTransport* transport);
/**
 * @ingroup zeb_library
 * @brief Opens one module's device record on a transport: its own socket, or its COM port.
 *
 * First initialises the record: Socket 0; Timeout and Retries from the arguments;
 * ExtendedHeader and Broadcast both set to `broadcast`; DataOffset 9, or 16 when `broadcast`
 * is nonzero; FromAddress NULL and FromAddressSize 0; the three counters and NoWait 0;
 * Transport set to `transport`. Address, NodeAddress, LastSequence and the tunnel fields are
 * left as they are, so an entry filled by discovery is opened as it stands. Then by kind:
 * - UDP: a socket bound to the transport's source address (or any), connected to the first
 *   16 bytes of Address, or allowed to broadcast when `broadcast` is nonzero. A record whose
 *   ZEBIpAddress::BroadcastOnly is 1 is refused unless opened for broadcast.
 * - IPX: the same with the 14-byte IPX address. Systems without IPX (Linux) fail here with
 *   the socket layer's error 10047.
 * - Serial: the port ZEBSerialAddress::ComPort, opened exclusively and set to the record's
 *   line settings; its handle is stored in ZEBSerialAddress::PortHandle.
 *
 * A failed open leaves Transport set, so that ZEBCloseDevice() releases whatever the record
 * holds (a port that opened but could not be set up); a socket created during a failed open
 * is closed before returning. A record may be opened again after it was closed.
 *
 * @param[in] transport The opened transport; kept in the record, so it must outlive it.
 * @param[in,out] device The record to open: zeroed or filled by discovery, with Address set.
 * @param[in] version ZEB_API_VERSION.
 * @param[in] timeout Milliseconds to wait for one reply (ZEBDevice::Timeout).
 * @param[in] retries Re-sends after a time-out (ZEBDevice::Retries).
 * @param[in] broadcast Nonzero: open for broadcast, with the extended header that names the
 *   module by NodeAddress.
 * @retval 0 Opened.
 * @retval ZEBERR_BAD_VERSION The version is not ZEB_API_VERSION.
 * @retval ZEBERR_NULL_TRANSPORT No transport given.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @retval ZEBERR_BAD_TRANSPORT The transport's Kind is unknown.
 * @retval ZEBERR_BAD_PROTOCOL A Winsock transport whose Protocol is neither IPX nor IP.
 * @retval ZEBERR_NEEDS_BROADCAST A broadcast-only IP module opened without broadcast.
 * @return Otherwise a Winsock error of creating, binding, connecting or setting up the socket,
 *   or a Windows system error of opening or setting up the port.
 */
ZEB_API uint32_t ZEB_CALL ZEBOpenDevice(ZEBTransport* transport, ZEBDevice* device,
                                        uint16_t version, uint16_t timeout, uint16_t retries,
                                        int32_t broadcast);
/**
 * @ingroup zeb_library
 * @brief Closes a device: its socket or port, if the record owns one.
 *
 * A record whose Transport is NULL (never opened, or closed already) is left alone. Whatever
 * the result, Transport is NULL afterwards and the record owns nothing.
 *
 * @param[in,out] device The device.
 * @retval 0 Closed, or nothing to close.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @retval ZEBERR_BAD_TRANSPORT The transport's Kind is unknown.
 * @retval ZEBERR_BAD_PROTOCOL A Winsock transport whose Protocol is neither IPX nor IP.
 * @return Otherwise the socket layer's error of closing the socket.
 */
ZEB_API uint32_t ZEB_CALL ZEBCloseDevice(ZEBDevice* device);

/* ---- Request engine -------------------------------------------------------------------- */

/**
 * @defgroup zeb_engine Request engine
 * @brief The exchange under every operation: framing, sending, waiting, re-sending.
 *
 * A request is one frame: the magic "ZQK", a 16-bit sequence number, the CRC-16/XMODEM of the
 * body (0 while the CRC mode is off), the body's length, then the body, whose first byte is the
 * function code. With ZEBDevice::ExtendedHeader the header is 16 bytes: the marker 0x15 and
 * the module's NodeAddress follow the 9 bytes. Every send, re-sends included, takes a new
 * sequence number (1 to 65535, then 1 again), stored in ZEBDevice::LastSequence; the reply
 * carries it back. A reply's body always starts at byte 9, and its length counts the header.
 *
 * The engine waits ZEBDevice::Timeout ms for the reply with the awaited number (sleeping until
 * a packet arrives), re-sends after a time-out up to ZEBDevice::Retries times, and hands every
 * other packet to the asynchronous handler. A device whose ZEBDevice::Tunnel is 1 has each
 * request carried through a remote master instead (@ref zeb_remote): no frame is built, and
 * the node's answer is placed at byte 9 of the reply buffer.
 *
 * These entry points are for hosts that build requests of their own; the operations of the
 * other families are built on them.
 */

/**
 * @ingroup zeb_engine
 * @brief Switches the CRC of requests and the check of replies on or off, for every device.
 *
 * On by default. While on, requests carry the CRC of their body and a reply whose CRC field
 * is not 0 must match; while off, requests carry 0 and every reply passes. Takes effect from
 * the next frame on.
 *
 * @param[in] mode Nonzero: on; 0: off.
 * @return The previous mode (1 on first use).
 */
ZEB_API int32_t ZEB_CALL SetCRCMode(int32_t mode);
/**
 * @ingroup zeb_engine
 * @brief Sends a request and waits for its reply, re-sending after a time-out.
 *
 * The caller writes the body at ZEBDevice::DataOffset of `request`; the engine fills the
 * bytes before it (magic, sequence number, CRC, length, extension) and, with the transport's
 * key in force, XORs the frame from byte 5 on in place. At most ZEBDevice::Retries + 1 sends,
 * each waited for ZEBDevice::Timeout ms; each re-send counts in ZEBDevice::ResendCount. A bad
 * CRC is counted in ZEBDevice::CrcErrorCount and not re-sent.
 *
 * @param[in,out] device An opened device.
 * @param[in,out] request The frame: room for the header, then the body; the header is written.
 * @param[in] request_length The frame's length: DataOffset + the body's length.
 * @param[out] reply Receives the reply frame (may be NULL when `want_reply` is 0).
 * @param[in,out] reply_length In: the room at `reply`; out: the reply's length, header
 *   included, or 0 when there is none.
 * @param[in] want_reply 0: send once and return ZEBERR_NO_PACKET at once, leaving the reply
 *   for ZEBGetResponse().
 * @param[in] warn Nonzero: a success after re-sends gives ZEBWARN_RETRIED rather than 0.
 * @retval 0 The reply is in `reply`.
 * @retval ZEBWARN_RETRIED The same, after re-sends (with `warn` only).
 * @retval ZEBERR_NO_PACKET Sent without waiting (`want_reply` 0).
 * @retval ZEBERR_TIMEOUT No reply after every send.
 * @retval ZEBERR_BAD_CRC The reply's CRC did not match.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @retval ZEBERR_BAD_PARAMETER No request or `reply_length`, no `reply` where one is wanted,
 *   or a request shorter than its header.
 * @retval ZEBERR_BAD_TRANSPORT The device is not open.
 * @return Otherwise the socket or port error of sending or receiving, with `*reply_length` 0;
 *   through a tunnel, the tunnel's result.
 */
ZEB_API uint32_t ZEB_CALL _SendPacket(ZEBDevice* device, uint8_t* request, uint16_t request_length,
                                      uint8_t* reply, int32_t* reply_length, int32_t want_reply,
                                      int32_t warn);
/**
 * @ingroup zeb_engine
 * @brief Sends a request that the module acknowledges at once and answers later, and waits
 * for both replies.
 *
 * Runs _SendPacket() for the acknowledgement, checks on the first pass that its body begins
 * with the `echo_count` bytes at `echo`, then waits up to ZEBDevice::Timeout + `extra_timeout`
 * ms for the final reply, which replaces the acknowledgement in `reply`. When the final reply
 * does not come, the whole request is sent again. The re-sends of both waits share the
 * device's Retries budget; ZEBDevice::Retries has its value back when the call returns.
 *
 * Copies of the acknowledgement: with echo bytes, a packet whose body begins with them while
 * the final reply is awaited is the acknowledgement again (a copy made by the network, or one
 * the module sent twice): it goes to the asynchronous handler and counts in LateReplyCount.
 * Without echo bytes any first reply is the acknowledgement, and a module may answer with the
 * very bytes it acknowledged with (a bare status word 0, say). A packet identical to the
 * acknowledgement is then held for up to 20 ms: a different packet with the same sequence
 * number within that time is the final reply (the held one was a copy, and is counted as a
 * late reply); otherwise the held packet is the final reply. Such a call takes at most 20 ms
 * longer than the module. The risk that remains: a copy of the acknowledgement made by the
 * network, with no other reply within 20 ms, is taken as the final reply of an exchange
 * without echo bytes: the operation reads the acknowledgement as its answer (a setup write
 * acknowledged with its function code, 0C 00, then returns 12, and one acknowledged with a
 * bare status word 0 returns 0 even if the module refuses later), and the module's own answer
 * reaches the asynchronous handler after the call. The operations acknowledged without echo
 * bytes are ZEBWriteSetupData(), ZEBDeleteSetupData(), ZEBWriteBaseDef(),
 * ZEBSetupSerialPort() and ZEBSetupSerialPortEx() with a wait, and
 * ZEBWriteTaviethernetPgmSpace(). Where a datagram copied by the network matters, read the
 * setup record back after writing it.
 *
 * @param[in,out] device An opened device.
 * @param[in,out] request As for _SendPacket().
 * @param[in] request_length As for _SendPacket().
 * @param[out] reply Receives the final reply (or the acknowledgement that did not match).
 * @param[in,out] reply_length In: the room at `reply`; out: the reply's length, or 0.
 * @param[in] want_reply As for _SendPacket(): 0 sends once and returns ZEBERR_NO_PACKET.
 * @param[in] warn Passed to _SendPacket() for the acknowledgement; the final result reports
 *   re-sends whatever it says.
 * @param[in] echo_count How many bytes the acknowledgement's body must begin with; 0 takes
 *   any first reply as the acknowledgement.
 * @param[in] echo The bytes that the acknowledgement must begin with.
 * @param[in] extra_timeout Milliseconds that the final reply may take beyond Timeout.
 * @param[in] wait 0: take the final reply only if it is already there (else ZEBERR_NO_PACKET).
 * @param[in] check_sequence Nonzero: the final reply must carry the request's sequence
 *   number; 0: any packet is taken.
 * @retval 0 The final reply is in `reply`.
 * @retval ZEBWARN_RETRIED The same, after any re-send.
 * @retval ZEBERR_MISMATCHED_REPLY The acknowledgement did not begin with the echo bytes; no
 *   final reply was awaited.
 * @retval ZEBERR_TIMEOUT The budget of re-sends ran out.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @retval ZEBERR_BAD_PARAMETER No request, `reply` or `reply_length`.
 * @return Otherwise any result of _SendPacket() or GetResponse() (a socket error ends the call
 *   at once); through a tunnel, the tunnel's result for the one answer it carries.
 */
ZEB_API uint32_t ZEB_CALL SendPacketTwoResponses(ZEBDevice* device, uint8_t* request,
                                                 uint16_t request_length, uint8_t* reply,
                                                 int32_t* reply_length, int32_t want_reply,
                                                 int32_t warn, uint16_t echo_count,
                                                 const uint8_t* echo, uint16_t extra_timeout,
                                                 int32_t wait, int32_t check_sequence);
/**
 * @ingroup zeb_engine
 * @brief Receives the reply to the device's last request, waiting for it or not.
 *
 * Packets whose sequence number is not ZEBDevice::LastSequence (and runts) go to the
 * asynchronous handler and count in ZEBDevice::LateReplyCount; the wait goes on, to its
 * deadline at most. A record that never sent (LastSequence 0) takes any packet. A call that
 * does not wait drains what is already queued by count (up to 256 packets), not by the clock,
 * so it reaches a reply queued behind stray packets whatever the device's Timeout, 0
 * included. A serial device assembles a frame across calls: a call that does not wait takes
 * only the bytes that are there and keeps part of a frame for the next.
 *
 * @param[in,out] device An opened device.
 * @param[out] reply Receives the reply frame.
 * @param[in,out] reply_length In: the room at `reply`; out: the reply's length (0 after a
 *   time-out; unchanged when nothing was waiting).
 * @param[in] extra_timeout Milliseconds to wait beyond ZEBDevice::Timeout.
 * @param[in] wait 0: do not wait; only what has arrived is looked at.
 * @param[in] check_sequence Nonzero: only the awaited sequence number is the reply; 0: any
 *   packet is, and its number is stored in LastSequence.
 * @retval 0 The reply is in `reply`.
 * @retval ZEBERR_NO_PACKET Nothing there (`wait` 0).
 * @retval ZEBERR_TIMEOUT Nothing within the time.
 * @retval ZEBERR_BAD_CRC The reply's CRC did not match (counted in CrcErrorCount).
 * @retval ZEBERR_BUFFER_TOO_SMALL A sender address cut to FromAddressSize (the packet is
 *   received), or a serial frame longer than the room (dropped).
 * @retval ZEBERR_BAD_DEVICE No device given, or a serial device without an open port.
 * @retval ZEBERR_BAD_PARAMETER No `reply` or `reply_length`.
 * @retval ZEBERR_BAD_TRANSPORT The device is not open.
 * @return Otherwise a socket or port error; 109 for a serial frame cut short.
 */
ZEB_API uint32_t ZEB_CALL GetResponse(ZEBDevice* device, uint8_t* reply, int32_t* reply_length,
                                      uint16_t extra_timeout, int32_t wait, int32_t check_sequence);
/**
 * @ingroup zeb_engine
 * @brief Collects a reply that has already arrived, without waiting: the second half of a
 * request sent in no-wait mode (ZEBDevice::NoWait, or _SendPacket() without `want_reply`).
 *
 * GetResponse() with no extra time and `wait` 0: stray packets already queued are passed to
 * the asynchronous handler and skipped, then the awaited reply is returned, or
 * ZEBERR_NO_PACKET. The reply is the whole frame; an operation's reply body starts at byte 9
 * (for the I/O exchange: the status word, then the input stream from byte 11).
 *
 * @param[in,out] device An opened device.
 * @param[out] buffer Receives the reply frame.
 * @param[in,out] length In: the room at `buffer`; out: the reply's length.
 * @param[in] check_sequence Nonzero: only the reply to the last request counts.
 * @retval 0 The reply is in `buffer`.
 * @retval ZEBERR_NO_PACKET It has not arrived (yet); `*length` is unchanged.
 * @return Otherwise as GetResponse().
 */
ZEB_API uint32_t ZEB_CALL ZEBGetResponse(ZEBDevice* device, uint8_t* buffer, int32_t* length,
                                         int32_t check_sequence);
/**
 * @ingroup zeb_engine
 * @brief Installs the handler for packets that arrive while another reply is awaited.
 *
 * The handler is process-wide and stays until replaced; see ZEBAsyncHandler.
 *
 * @param[in] handler The handler, or NULL to remove it.
 * @return Always 0.
 */
ZEB_API uint32_t ZEB_CALL ZEBSetAsyncHandler(ZEBAsyncHandler handler);
/**
 * @ingroup zeb_engine
 * @brief Reads the installed asynchronous handler.
 * @param[out] handler Receives the handler, or NULL when none is installed; not written when
 *   NULL itself.
 * @return Always 0.
 */
ZEB_API uint32_t ZEB_CALL ZEBGetAsyncHandler(ZEBAsyncHandler* handler);

/* ---- Discovery ------------------------------------------------------------------------- */

/**
 * @defgroup zeb_discovery Discovery
 * @brief Finding modules by one broadcast query, and how long to listen for answers.
 *
 * A query opens a temporary broadcast device on the caller's transport (Timeout 20 ms,
 * Retries 0, the plain 9-byte header), sends the query once to port ZEB_MODULE_PORT of every
 * host (255.255.255.255, or the IPX broadcast node on the source address's network), and lists
 * the answers that arrive within the query time-out (600 ms unless changed), after a first
 * wait of up to 20 ms. An answer is a reply with the magic "ZQK" or "ZQQ", at least 18 bytes
 * long, whose body begins 0x55 0xAA; it fills the next list entry: Address with the sender's
 * address (for IP the module's address with port ZEB_MODULE_PORT), NodeAddress with its
 * hardware address, and for IP ZEBIpAddress::BroadcastOnly. No other field is touched, and
 * the entry can be given to ZEBOpenDevice() as it is. A sender already listed is listed once.
 * Malformed answers, datagrams with a wrong CRC or too large, and packets from earlier queries
 * (passed to the asynchronous handler) are skipped; a failure of the socket ends the query.
 */

/**
 * @ingroup zeb_discovery
 * @brief Finds every module that answers a query on the transport's network.
 *
 * Sends function code 0x05.
 *
 * @param[in] transport The opened transport. A Protocol of 4 finds nothing: the count is set
 *   to 0 and nothing is sent.
 * @param[out] list The caller's array of device records; entries below the returned count and
 *   below the capacity are written. May be NULL (no room).
 * @param[in,out] count In: the array's capacity in entries; out: how many modules answered,
 *   which exceeds the capacity when the list was too small. Unchanged on a failure.
 * @param[in] version ZEB_API_VERSION.
 * @retval 0 The answers are listed (none is no failure: the count is 0).
 * @retval ZEBERR_BUFFER_TOO_SMALL More answers than room: the list is full, and the count
 *   says how many answered; call again with a list of that size.
 * @retval ZEBERR_NULL_TRANSPORT No transport given.
 * @retval ZEBERR_BAD_PARAMETER No count given.
 * @return Otherwise an error of opening the temporary device (ZEBERR_BAD_VERSION,
 *   ZEBERR_BAD_TRANSPORT, ZEBERR_BAD_PROTOCOL, a socket error) or of the socket while
 *   listening.
 */
ZEB_API uint32_t ZEB_CALL ZEBQueryDevices(ZEBTransport* transport, ZEBDevice* list, uint16_t* count,
                                          uint16_t version);
/**
 * @ingroup zeb_discovery
 * @brief Finds the modules to which a data item applies: a query that carries one record of
 * the setup-data store for the modules to compare with their own.
 *
 * Sends 0x09, 0x00, `data_type` (16 bits), the data's length (16 bits), then the data. Which
 * modules answer is theirs to decide; a module's name (type 0x16) and number (type 0x20) are
 * the usual items. Answers are listed as by ZEBQueryDevices(), which see; there is no shortcut
 * for a Protocol of 4.
 *
 * @param[in] transport The opened transport.
 * @param[out] list The caller's array of device records, or NULL.
 * @param[in,out] count In: the array's capacity; out: how many modules answered.
 * @param[in] version ZEB_API_VERSION.
 * @param[in] data_type The setup-data type of the item.
 * @param[in] data The item's bytes, or NULL to send none.
 * @param[in] data_length The item's length; cut to 512 bytes.
 * @return As ZEBQueryDevices().
 */
ZEB_API uint32_t ZEB_CALL ZEBQueryDeviceData(ZEBTransport* transport, ZEBDevice* list,
                                             uint16_t* count, uint16_t version, uint16_t data_type,
                                             const void* data, uint16_t data_length);
/**
 * @ingroup zeb_discovery
 * @brief Sets how long a query listens for answers, for every later query of the process.
 * @param[in] milliseconds The listening time (600 at start); not checked.
 * @return The time it replaces.
 */
ZEB_API uint32_t ZEB_CALL ZEBSetQueryTimeout(uint32_t milliseconds);
/**
 * @ingroup zeb_discovery
 * @brief Reads how long a query listens for answers.
 * @return The listening time in milliseconds.
 */
ZEB_API uint32_t ZEB_CALL ZEBGetQueryTimeout(void);

/* ---- Identity and version (size: 16-bit capacity; the delivered count is not reported) -- */

/**
 * @defgroup zeb_identity Identity and version
 * @brief What an opened module is: its version block, support block and device definition.
 *
 * Each is a one-byte request whose whole reply body is delivered as it comes: no status word,
 * at most 191 bytes (a 200-byte reply). `size` is a 16-bit capacity passed in a 32-bit slot:
 * only its low 16 bits count, and the number of bytes delivered is not reported, so a caller
 * that needs it zero-fills its buffer first or knows the block's length. Re-sends are not
 * reported. The library interprets none of the blocks; in the device definition, byte 2 is
 * the module's kind (0 a module of the `Qx-RIO` family, 6 a networked node).
 */

/**
 * @ingroup zeb_identity
 * @brief Reads the module's version block. Sends function code 0x01.
 * @param[in,out] device An opened device.
 * @param[out] buffer Receives the block.
 * @param[in] size Room at `buffer` in bytes (low 16 bits).
 * @retval 0 The block is delivered (also an empty one).
 * @retval ZEBERR_BUFFER_TOO_SMALL The first `size` bytes are delivered, the rest dropped
 *   (also with a NULL buffer, which takes nothing).
 * @retval ZEBERR_NO_DATA An empty reply (or a socket error).
 * @return Otherwise a failure of the exchange (@ref zeb_results); nothing is delivered.
 */
ZEB_API uint32_t ZEB_CALL ZEBReadVersionInfo(ZEBDevice* device, uint8_t* buffer, uint32_t size);
/**
 * @ingroup zeb_identity
 * @brief Reads the module's support (capability) block. Sends function code 0x02.
 * @param[in,out] device An opened device.
 * @param[out] buffer Receives the block.
 * @param[in] size Room at `buffer` in bytes (low 16 bits).
 * @return As ZEBReadVersionInfo().
 */
ZEB_API uint32_t ZEB_CALL ZEBReadSupportInfo(ZEBDevice* device, uint8_t* buffer, uint32_t size);
/**
 * @ingroup zeb_identity
 * @brief Reads the module's device definition. Sends function code 0x04.
 *
 * Byte 2 is the module's kind: 0 for a module of the `Qx-RIO` family, 6 for a networked node
 * (@ref zeb_nodes). Readers of the kind ask for 42 bytes.
 *
 * @param[in,out] device An opened device.
 * @param[out] buffer Receives the definition.
 * @param[in] size Room at `buffer` in bytes (low 16 bits).
 * @return As ZEBReadVersionInfo().
 */
ZEB_API uint32_t ZEB_CALL ZEBReadDeviceDef(ZEBDevice* device, uint8_t* buffer, uint32_t size);

/* ---- Base definition ------------------------------------------------------------------- */

/**
 * @defgroup zeb_basedef Base definition
 * @brief The module's description of the I/O base behind it: which slots hold a module, and
 * how many bit, word and 32-bit inputs and outputs each has.
 *
 * The definition travels as an item stream with the headers of the I/O stream (@ref zeb_io):
 * item 0 selects the slot named by its length field; item 1 carries a module record for it
 * (length + 2 bytes: a kind byte, an identification byte, then counts: kind 1 bit in, bit out,
 * word in, word out; kind 3 bit in, bit out, 32-bit in, 32-bit out; kind 5 all six; kind 7 a
 * pair count and (item type, count) pairs; kind 255 no I/O); 0xB1 0x00 switches to the
 * extended item format, in which 0xF0 ends the definition. A caller that wants the extended
 * item format begins its buffer with 0xB1 0x00 before a read. The library carries the bytes
 * and interprets none of them.
 *
 * The reads deliver the reply's whole body (no status word), cut to `*size` with
 * ZEBERR_BUFFER_TOO_SMALL; `*size` becomes the number of bytes delivered. An empty reply sets
 * it to 0 and gives ZEBERR_NO_DATA; a failed exchange leaves it alone. Re-sends are not
 * reported by the reads.
 */

/**
 * @ingroup zeb_basedef
 * @brief Reads the module's base definition.
 *
 * Sends 0x08, and 0xB1 after it when `buffer` begins with 0xB1 (and `*size` is not 0). At most
 * 991 bytes come back (a 1000-byte reply).
 *
 * @param[in,out] device An opened device.
 * @param[in,out] buffer Receives the definition; its first byte is read first for the marker.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered.
 * @retval 0 Delivered whole.
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*size` (a NULL buffer or size takes nothing).
 * @retval ZEBERR_NO_DATA An empty reply.
 * @return Otherwise a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadBaseDef(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
/**
 * @ingroup zeb_basedef
 * @brief Asks the module to initialise its base definition, and delivers its answer.
 *
 * Sends the single byte 0x18. At most 591 bytes come back (a 600-byte reply); whether they are
 * a full base definition is the module's matter.
 *
 * @param[in,out] device An opened device.
 * @param[out] buffer Receives the reply's body.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered.
 * @return As ZEBReadBaseDef().
 */
ZEB_API uint32_t ZEB_CALL ZEBInitBaseDef(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
/**
 * @ingroup zeb_basedef
 * @brief Asks the module to rescan its base, and delivers its answer.
 *
 * Sends 0x18 and the 32-bit `value`. At most 991 bytes come back (a 1000-byte reply).
 *
 * @param[in,out] device An opened device.
 * @param[in] value Sent unchanged; its meaning is the module's.
 * @param[out] buffer Receives the reply's body.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered.
 * @return As ZEBReadBaseDef().
 */
ZEB_API uint32_t ZEB_CALL ZEBRescanBase(ZEBDevice* device, uint32_t value, uint8_t* buffer,
                                        uint16_t* size);
/**
 * @ingroup zeb_basedef
 * @brief Writes a base definition to the module.
 *
 * Sends 0x0F, 0x00, the length (16 bits), then the definition, in a request of at most 600
 * bytes: 587 bytes of definition with the 9-byte header, 580 with the 16-byte one. The module
 * acknowledges at once and answers when the write is done: the final reply is awaited up to
 * ZEBDevice::Timeout + 30000 ms, and carries a status word and any further data.
 *
 * @param[in,out] device An opened device.
 * @param[in] source The definition.
 * @param[in] length Its length in bytes.
 * @param[out] buffer Receives the final reply's data after its status word; may be NULL.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered. Needed with a buffer.
 * @retval 0 Written.
 * @retval ZEBWARN_RETRIED Written, after re-sends.
 * @retval ZEBERR_BUFFER_TOO_SMALL Written; the reply's data cut to `*size`.
 * @retval ZEBERR_PACKET_TOO_LARGE The definition does not fit; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL source with a nonzero length; nothing was sent.
 * @retval ZEBERR_NO_DATA A final reply without its status word (`*size` 0 with a buffer).
 * @return Otherwise the module's nonzero status word, sign-extended (nothing delivered,
 *   `*size` left alone), or a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteBaseDef(ZEBDevice* device, const uint8_t* source, uint32_t length,
                                          uint8_t* buffer, uint16_t* size);

/* ---- Setup data store (each exchange waits 10 ms longer than the device's Timeout) ---- */

/**
 * @defgroup zeb_setup Setup data
 * @brief The module's store of setup records: byte records filed under 16-bit types.
 *
 * The module's name (type 0x16) and number (type 0x20) live here; all other types and the
 * meaning of their bytes are the module's and the host's. Each exchange waits 10 ms longer
 * than the device's Timeout: the field is raised for the call and has its value back on
 * every way out. A nonzero status word is the result, sign-extended.
 */

/**
 * @ingroup zeb_setup
 * @brief Reads one setup record.
 *
 * Sends 0x0B, 0x00, `type` (16 bits). The reply is a status word and the record, at most 589
 * bytes.
 *
 * @param[in,out] device An opened device.
 * @param[in] type The record's type.
 * @param[out] buffer Receives the record.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered (also with a nonzero status).
 * @retval 0 The record is delivered.
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*size`.
 * @retval ZEBERR_NO_DATA A reply without its status word; `*size` is left as it was.
 * @return Otherwise the module's nonzero status word, sign-extended (a record that came with
 *   it is still delivered), or a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadSetupData(ZEBDevice* device, uint16_t type, uint8_t* buffer,
                                           uint16_t* size);
/**
 * @ingroup zeb_setup
 * @brief Writes one setup record, replacing any record of that type.
 *
 * Sends 0x0C, 0x00, `type`, then the record, in a request of at most 600 bytes: 587 bytes of
 * record with the 9-byte header, 580 with the 16-byte one. Acknowledged at once; the final
 * reply, a status word, is awaited up to ZEBDevice::Timeout + 10 + 30000 ms.
 *
 * @param[in,out] device An opened device.
 * @param[in] type The record's type.
 * @param[in] source The record's bytes.
 * @param[in] length Its length in bytes.
 * @retval 0 Written.
 * @retval ZEBWARN_RETRIED Written, after re-sends.
 * @retval ZEBERR_PACKET_TOO_LARGE The record does not fit; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL source with a nonzero length; nothing was sent.
 * @retval ZEBERR_NO_DATA A final reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteSetupData(ZEBDevice* device, uint16_t type, const uint8_t* source,
                                            uint32_t length);
/**
 * @ingroup zeb_setup
 * @brief Deletes one setup record.
 *
 * Sends 0x0D, 0x00, `type`; acknowledged and answered as ZEBWriteSetupData().
 *
 * @param[in,out] device An opened device.
 * @param[in] type The record's type.
 * @retval 0 Deleted.
 * @retval ZEBWARN_RETRIED Deleted, after re-sends.
 * @retval ZEBERR_NO_DATA A final reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBDeleteSetupData(ZEBDevice* device, uint16_t type);
/**
 * @ingroup zeb_setup
 * @brief Lists the types of the records in the store.
 *
 * Sends 0x0A. The reply is a status word, a count n and n types of 16 bits (at most 293 fit).
 * The entries that arrived whole are delivered, at most `*count` of them.
 *
 * @param[in,out] device An opened device.
 * @param[out] types Receives the types.
 * @param[in,out] count In: room at `types` in entries; out: entries delivered.
 * @retval 0 The list is delivered.
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*count` entries.
 * @retval ZEBERR_NO_DATA A reply without its status word and count, or with a zero status
 *   word and no count (`*count` left alone), or a list shorter than its count (the entries
 *   that came are delivered).
 * @return Otherwise the module's nonzero status word, sign-extended: what came with it is still
 *   delivered, and a refusal that is the status word alone leaves `*count` alone. Or a failure
 *   of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBEnumSetupData(ZEBDevice* device, uint16_t* types, uint16_t* count);

/* ---- Configuration data (shaped as the I/O exchange; honours NoWait) ------------------- */

/**
 * @defgroup zeb_config Configuration data
 * @brief The module's configuration block, read and written whole.
 *
 * Shaped exactly as the I/O exchange (@ref zeb_io), under its own function codes: the same
 * buffers (1200 bytes, so at most 1189 bytes of data), the same no-wait mode
 * (ZEBDevice::NoWait), ZEBWARN_RETRIED after re-sends, and the same status rule: a nonzero
 * status word is the result sign-extended with bit 15 set, and data that came with it is
 * still delivered. The library does not interpret the block.
 */

/**
 * @ingroup zeb_config
 * @brief Reads the configuration block.
 *
 * Sends 0x62, and 0xB1 after it when `buffer` begins with 0xB1 (the extended item format).
 *
 * @param[in,out] device An opened device.
 * @param[in,out] buffer Receives the block; its first byte is read first for the marker.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered.
 * @retval 0 Delivered.
 * @retval ZEBWARN_RETRIED Delivered, after re-sends.
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*size`.
 * @retval ZEBERR_NO_DATA A reply without its status word; `*size` is 0.
 * @retval ZEBERR_NO_PACKET Sent in no-wait mode; collect the reply with ZEBGetResponse().
 * @return Otherwise the module's nonzero status word by the I/O rule, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadConfigData(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
/**
 * @ingroup zeb_config
 * @brief Writes the configuration block, and receives the block as the module then holds it.
 *
 * Sends 0x61, then the block: at most 1190 bytes with the 9-byte header, 1183 with the
 * 16-byte one.
 *
 * @param[in,out] device An opened device.
 * @param[in] source The block.
 * @param[in] length Its length in bytes.
 * @param[out] buffer Receives the reply's data; only when both `buffer` and `size` are given.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered (0 for a reply without its
 *   status word). May be NULL.
 * @retval 0 Written.
 * @retval ZEBWARN_RETRIED Written, after re-sends.
 * @retval ZEBERR_BUFFER_TOO_SMALL Written; the reply's data cut to `*size`.
 * @retval ZEBERR_PACKET_TOO_LARGE The block does not fit; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL source with a nonzero length; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @retval ZEBERR_NO_PACKET Sent in no-wait mode.
 * @return Otherwise the module's nonzero status word by the I/O rule, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteConfigData(ZEBDevice* device, const uint8_t* source,
                                             uint32_t length, uint8_t* buffer, uint16_t* size);

/* ---- Diagnostics ----------------------------------------------------------------------- */

/**
 * @defgroup zeb_diagnostics Diagnostics
 * @brief Watching a module: a keep-alive, its Ethernet statistics and its status block.
 *
 * None of them changes the module's configuration or reports re-sends, and the library
 * interprets none of the data.
 */

/**
 * @ingroup zeb_diagnostics
 * @brief Sends a keep-alive, and tells only whether the module answered.
 *
 * Sends 0x14, 0x00; the reply is not examined. Cheap enough to send periodically.
 *
 * @param[in,out] device An opened device.
 * @retval 0 The module answered (through a tunnel: the remote master did; see
 *   @ref zeb_remote).
 * @return Otherwise the exchange's result unchanged (@ref zeb_results), a socket error
 *   included.
 */
ZEB_API uint32_t ZEB_CALL ZEBPetDevice(ZEBDevice* device);
/**
 * @ingroup zeb_diagnostics
 * @brief Reads the module's Ethernet statistics.
 *
 * Sends 0x0E, 0x00, then 1 when `option` is nonzero, else 0. The reply's whole body is the
 * statistics record (no status word), at most 191 bytes.
 *
 * @param[in,out] device An opened device.
 * @param[out] buffer Receives the record.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered.
 * @param[in] option Sent as 0 or 1; what it asks of the module (commonly to clear the counters
 *   the reply carries) is the module's.
 * @retval 0 Delivered (an empty body too, with `*size` 0).
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*size`.
 * @retval ZEBERR_NO_DATA An empty reply; `*size` is 0.
 * @return Otherwise a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadEthernetStats(ZEBDevice* device, uint8_t* buffer, uint16_t* size,
                                               uint32_t option);
/**
 * @ingroup zeb_diagnostics
 * @brief Reads the module's status block.
 *
 * Sends 0x17, then 1 when `buffer` begins with 0xB1 (the extended format) else 0, then 1 when
 * `option` is nonzero else 0. The reply is a status word and the block, at most 589 bytes.
 *
 * @param[in,out] device An opened device.
 * @param[in,out] buffer Receives the block; its first byte is read first for the marker.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered (also with a nonzero status).
 * @param[in] option Sent as 0 or 1; its meaning is the module's.
 * @retval 0 Delivered.
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*size`.
 * @retval ZEBERR_NO_DATA A reply without its status word; `*size` is 0.
 * @return Otherwise the module's nonzero status word, sign-extended (it takes precedence over
 *   a cut; the block is still delivered), or a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadModuleStatus(ZEBDevice* device, uint8_t* buffer, uint16_t* size,
                                              uint32_t option);

/* ---- I/O exchange ---------------------------------------------------------------------- */


/**
 * @defgroup zeb_io I/O exchange
 * @brief Reading a module's inputs and writing its outputs, for one device or many at once.
 *
 * Inputs and outputs travel as an item stream. An item starts with a header: in the compact
 * item format one byte, the type in the high nibble and a length in the low one; in the
 * extended item format two bytes, type then length. A stream starts compact; the item 0xB1
 * 0x00 (type 11) switches the rest to the extended format, in which lengths count bytes
 * rather than elements. Types: 0 select the slot named by the length; 3 bit inputs and 4 bit
 * outputs (bytes, bit 0 first); 5 and 6 word inputs and outputs (16 bits each); 8 and 9
 * 32-bit inputs and outputs; 15 end of stream. A writer ends every stream with 0xFF. Values
 * are little-endian. How many points each slot holds is given by the base definition
 * (@ref zeb_basedef). A caller that wants inputs in the extended format begins its input
 * buffer with 0xB1 0x00.
 *
 * The reply is a status word and the input stream: at most 1189 bytes (a 1200-byte reply). A
 * write's request holds at most 1200 bytes: 1190 bytes of stream with the 9-byte header, 1183
 * with the 16-byte one. A nonzero status word becomes the result sign-extended with bit 15 set
 * (0x0005 gives 0x8005, 0x8012 gives 0xFFFF8012), overriding a cut or a warning, and the data
 * that came with it is still delivered; callers treat a result with bit 15 set and nonzero low
 * 12 bits as a failed exchange. The single-device operations honour ZEBDevice::NoWait and
 * report ZEBWARN_RETRIED after re-sends.
 *
 * ZEBReadIOEx and ZEBWriteIOEx exchange with many devices at once. They use each device's
 * FromAddressSize as its re-send counter: it is set to 0 at the start and holds the number of
 * re-sends made for that device afterwards. A broadcast device that receives sender addresses
 * into FromAddress needs its FromAddressSize set again after such a call.
 */

/**
 * @ingroup zeb_io
 * @brief Reads the module's inputs.
 *
 * Sends 0x07, and 0xB1 after it when `buffer` begins with 0xB1 (and `*size` is not 0).
 *
 * @param[in,out] device An opened device.
 * @param[in,out] buffer Receives the input stream; its first byte is read first for the
 *   marker.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered (also with a nonzero status).
 * @retval 0 Delivered.
 * @retval ZEBWARN_RETRIED Delivered, after re-sends.
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*size` (a NULL buffer takes nothing).
 * @retval ZEBERR_NO_DATA A reply without its status word; `*size` is 0.
 * @retval ZEBERR_NO_PACKET Sent in no-wait mode; collect the reply with ZEBGetResponse().
 * @return Otherwise the module's nonzero status word by the I/O rule (the inputs that came
 *   with it are delivered), or a failure of the exchange (@ref zeb_results), which delivers
 *   nothing and leaves `*size` alone.
 */
ZEB_API uint32_t ZEB_CALL ZEBReadIO(ZEBDevice* device, uint8_t* buffer, uint16_t* size);
/**
 * @ingroup zeb_io
 * @brief Writes outputs and reads the inputs back in the same exchange.
 *
 * Sends 0x06, then the output stream unchanged.
 *
 * @param[in,out] device An opened device.
 * @param[in] source The output stream.
 * @param[in] length Its length in bytes.
 * @param[out] buffer Receives the input stream; only when both `buffer` and `size` are given.
 * @param[in,out] size In: room at `buffer`; out: bytes delivered (0 for a reply without its
 *   status word). May be NULL: then only the status counts.
 * @retval 0 Written.
 * @retval ZEBWARN_RETRIED Written, after re-sends.
 * @retval ZEBERR_BUFFER_TOO_SMALL Written; the inputs cut to `*size`.
 * @retval ZEBERR_PACKET_TOO_LARGE The stream does not fit; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL source with a nonzero length; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @retval ZEBERR_NO_PACKET Sent in no-wait mode.
 * @return Otherwise the module's nonzero status word by the I/O rule, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteIO(ZEBDevice* device, const uint8_t* source, uint32_t length,
                                     uint8_t* buffer, uint16_t* size);
/**
 * @ingroup zeb_io
 * @brief Writes outputs without reading the inputs back.
 *
 * Sends 0x30, then the output stream; only the reply's status word is read.
 *
 * @param[in,out] device An opened device.
 * @param[in] source The output stream.
 * @param[in] length Its length in bytes.
 * @retval 0 Written.
 * @retval ZEBWARN_RETRIED Written, after re-sends.
 * @retval ZEBERR_PACKET_TOO_LARGE The stream does not fit; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL source with a nonzero length; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @retval ZEBERR_NO_PACKET Sent in no-wait mode.
 * @return Otherwise the module's nonzero status word by the I/O rule, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteIONoRead(ZEBDevice* device, const uint8_t* source,
                                           uint32_t length);
/**
 * @ingroup zeb_io
 * @brief Reads the inputs of many devices at once.
 *
 * Sends each device's ZEBReadIO() request without waiting (setting its NoWait for the send
 * only), one new request per pass, and collects the replies as they come, sleeping until one
 * arrives or the earliest time-out is due. A device whose reply does not come within its
 * Timeout is sent its request again, up to its Retries, and ends in ZEBERR_TIMEOUT after that;
 * its re-sends count in its ResendCount and FromAddressSize. A success after re-sends ends as
 * 0. A request that fails as it is sent finishes its entry with that failure. A tunnelled
 * device is served in full when its turn comes.
 *
 * @param[in] devices `count` pointers to opened devices; a NULL entry is passed over, and its
 *   other entries are left untouched.
 * @param[in] buffers `count` pointers to input buffers, each beginning with 0xB1 to ask for
 *   the extended format. May be NULL, as may an entry: nothing is delivered then, and a reply
 *   that carries inputs gives ZEBERR_BUFFER_TOO_SMALL.
 * @param[in,out] sizes `count` capacities, replaced by the bytes delivered.
 * @param[out] results `count` results, one per device, as ZEBReadIO() gives them (but never
 *   ZEBWARN_RETRIED); 8 (not enough memory) for every device when the call could not get its
 *   working tables.
 * @param[in] count The number of entries; 0 or less does nothing.
 * @retval 0 Always, once the arguments are accepted: each device's outcome is in `results`.
 * @retval ZEBERR_BAD_PARAMETER A NULL `devices`, `sizes` or `results` with a positive count.
 */
ZEB_API uint32_t ZEB_CALL ZEBReadIOEx(ZEBDevice** devices, uint8_t** buffers, uint16_t* sizes,
                                      uint32_t* results, int32_t count);
/**
 * @ingroup zeb_io
 * @brief Writes the outputs of many devices at once, reading their inputs back.
 *
 * As ZEBReadIOEx(), with the requests of ZEBWriteIO().
 *
 * @param[in] devices `count` pointers to opened devices; NULL entries are passed over.
 * @param[in] sources `count` pointers to output streams.
 * @param[in] lengths `count` stream lengths.
 * @param[in] buffers `count` pointers to input buffers. May be NULL, as may an entry: nothing
 *   is delivered then, and a reply that carries inputs gives ZEBERR_BUFFER_TOO_SMALL.
 * @param[in,out] sizes `count` capacities, replaced by the bytes delivered.
 * @param[out] results `count` results, one per device, as ZEBWriteIO() gives them (but never
 *   ZEBWARN_RETRIED).
 * @param[in] count The number of entries; 0 or less does nothing.
 * @retval 0 Always, once the arguments are accepted: each device's outcome is in `results`.
 * @retval ZEBERR_BAD_PARAMETER A NULL `devices`, `sources`, `lengths`, `sizes` or `results`
 *   with a positive count.
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteIOEx(ZEBDevice** devices, const uint8_t* const* sources,
                                       const uint16_t* lengths, uint8_t** buffers, uint16_t* sizes,
                                       uint32_t* results, int32_t count);

/* ---- Controller requests (acknowledged first; honour NoWait; never report re-sends) ----- */

/**
 * @defgroup zeb_controller Controller requests
 * @brief CCM and K-sequence requests, carried through the module to a controller.
 *
 * The module acknowledges each request at once (0x20 and the function code) and answers it
 * within the device's Timeout (0x22, the function code, a status word, the answer data; at most
 * 307 bytes of data). A refusal in place of the acknowledgement carries the module's status
 * word, which becomes the result sign-extended, as does a nonzero status in the answer. Both
 * honour ZEBDevice::NoWait (ZEBERR_NO_PACKET right after sending) and never report re-sends:
 * a success after re-sends is 0, and ZEBDevice::ResendCount still shows them.
 */

/**
 * @ingroup zeb_controller
 * @brief Reads or writes a block of controller data with a CCM request.
 *
 * Sends 0x19, 0x00, 0x01, 0x20 for a write or 0x1E for a read, the count's low byte (256 goes
 * out as 0), the address's low 16 bits, the data type's low byte, then the data of a write.
 * Count: at most 256 data bytes. A read fills exactly Count bytes of buffer; a write sends
 * them, and gets back the module's answer bytes (as many as it sent, at most Count).
 *
 * @param[in,out] device An opened device.
 * @param[in] write Nonzero: a write; 0: a read.
 * @param[in] data_type The controller's data type (low byte sent).
 * @param[in] address The address in it (low 16 bits sent).
 * @param[in] count Bytes to read or write, at most 256.
 * @param[in,out] buffer A write's data, replaced by the answer bytes; a read's destination,
 *   written only when exactly `count` bytes came.
 * @retval 0 Done.
 * @retval ZEBERR_BAD_PARAMETER A count above 256, or a NULL buffer with a nonzero count
 *   (nothing sent); or a read answered with another number of bytes (buffer untouched).
 * @retval ZEBERR_MISMATCHED_REPLY The answer does not begin 0x22 0x19, or the first reply is
 *   neither an acknowledgement nor a refusal.
 * @retval ZEBERR_NO_DATA An empty final reply.
 * @retval ZEBERR_NO_PACKET Sent in no-wait mode.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results); the buffer is untouched then.
 */
ZEB_API uint32_t ZEB_CALL ZEBCCMRequest(ZEBDevice* device, int32_t write, uint32_t data_type,
                                        uint32_t address, uint32_t count, uint8_t* buffer);
/**
 * @ingroup zeb_controller
 * @brief Sends a K-sequence message that the caller has composed, and delivers the answer.
 *
 * Sends 0x1A, 0x00, the count's low byte (256 goes out as 0), 0x00, then the message.
 * Sends the count bytes of buffer (at most 256) and receives the answer into the same buffer;
 * `*buffer_size`: in, its room; out, the bytes delivered.
 *
 * @param[in,out] device An opened device.
 * @param[in] count The message's length, at most 256.
 * @param[in,out] buffer The message, replaced by the answer.
 * @param[in,out] buffer_size In: room at `buffer` for the answer; out: bytes delivered.
 *   Needed to receive an answer.
 * @retval 0 The answer is delivered.
 * @retval ZEBERR_BUFFER_TOO_SMALL The answer cut to `*buffer_size`.
 * @retval ZEBERR_BAD_PARAMETER A count above 256, or a NULL buffer with a nonzero count;
 *   nothing was sent.
 * @retval ZEBERR_MISMATCHED_REPLY The answer does not begin 0x22 0x1A, or the first reply is
 *   neither an acknowledgement nor a refusal.
 * @retval ZEBERR_NO_DATA An empty final reply.
 * @retval ZEBERR_NO_PACKET Sent in no-wait mode.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results); nothing is delivered then.
 */
ZEB_API uint32_t ZEB_CALL ZEBKSEQRequest(ZEBDevice* device, uint32_t count, uint8_t* buffer,
                                         uint16_t* buffer_size);

/* ---- Memory and shared RAM ------------------------------------------------------------- */


/**
 * @defgroup zeb_memory Memory and shared RAM
 * @brief Typed memory (a memory type and a 32-bit address), the module's list of its memory
 * areas, and shared RAM (two 16-bit selectors and a 16-bit address).
 *
 * Reads deliver their count bytes whole or not at all (at most 589 a request); a module status
 * whose low 12 bits are 0, or 0x0086, still delivers and is returned sign-extended. Writes take
 * at most 512 bytes (memory) and 256 (shared RAM). In shared RAM, bit 15 of the address is
 * sent as a flag beside it.
 *
 * Every reply starts with a status word, which becomes the result sign-extended (0x0086 gives
 * 134 with the data delivered; 0x8001 gives 0xFFFF8001, not the library's code). None of them
 * reports re-sends. Shared RAM is also the road to a remote master (@ref zeb_remote).
 */

/**
 * @ingroup zeb_memory
 * @brief Reads a block of typed memory.
 *
 * Sends 0x25, 0x00, `memory_type`, `count` (16 bits each), `address` (32 bits).
 *
 * @param[in,out] device An opened device.
 * @param[in] memory_type The memory type; its meaning is the module's.
 * @param[in] address The first address.
 * @param[in] count Bytes to read, at most 589.
 * @param[out] buffer Receives exactly `count` bytes, or nothing.
 * @retval 0 Delivered.
 * @retval ZEBERR_BAD_PARAMETER A count above 589 or a NULL buffer (nothing sent), or a reply
 *   with status 0 and fewer bytes than asked for (nothing delivered).
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended: with the data delivered
 *   when its low 12 bits are 0 or it is 0x0086 and the data came whole, without otherwise; or
 *   a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadMemory(ZEBDevice* device, uint16_t memory_type, uint32_t address,
                                        uint32_t count, uint8_t* buffer);
/**
 * @ingroup zeb_memory
 * @brief Writes a block of typed memory.
 *
 * Sends 0x24 and the fields of ZEBReadMemory(), then the data.
 *
 * @param[in,out] device An opened device.
 * @param[in] memory_type The memory type.
 * @param[in] address The first address.
 * @param[in] count Bytes to write, at most 512.
 * @param[in] buffer The data.
 * @retval 0 Written.
 * @retval ZEBERR_PACKET_TOO_LARGE A count above 512; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL buffer with a nonzero count; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteMemory(ZEBDevice* device, uint16_t memory_type, uint32_t address,
                                         uint32_t count, const uint8_t* buffer);
/**
 * @ingroup zeb_memory
 * @brief Reads and writes several blocks of typed memory in one request.
 *
 * Sends 0x27, 0x00, the item count (16 bits), then each item in order: a 9-byte head
 * (direction, memory type, address, count) and, for a write, its data. The batch is checked
 * whole before anything is sent: the request must fit 600 bytes, and the answer its reads call
 * for (4 bytes, then each read's head and data) 591 bytes. The reply is a status word, a word
 * that is 0 when no items follow, and for each read item the same head and its data; read
 * items are filled in order, and a wrong or short answer item stops there, with the earlier
 * ones delivered. Unlike the single reads, a status of 0x0086 delivers nothing.
 *
 * @param[in,out] device An opened device.
 * @param[in] items The items; their read buffers receive the data.
 * @param[in] item_count The number of items.
 * @retval 0 Done.
 * @retval ZEBERR_PACKET_TOO_LARGE The request or the answer would not fit; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A direction other than 0 or 1, or a NULL array or buffer where
 *   data is needed (nothing sent); or an answer item cut short.
 * @retval ZEBERR_MISMATCHED_REPLY An answer item whose type, address or count is not its
 *   read item's.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended (nothing delivered when its
 *   low 12 bits are not 0), or a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBAccessMemory(ZEBDevice* device, ZEBMemoryItem* items,
                                          uint32_t item_count);
/**
 * @ingroup zeb_memory
 * @brief Lists the module's memory areas.
 *
 * Sends 0x26. The reply is a status word, a count n and n entries of 22 bytes (at most 26
 * fit), which are delivered as they came, also with a nonzero status word.
 *
 * @param[in,out] device An opened device.
 * @param[in,out] area_count In: room at `areas` in entries; out: entries delivered.
 * @param[out] areas Receives the entries.
 * @retval 0 Delivered.
 * @retval ZEBERR_BUFFER_TOO_SMALL Cut to `*area_count` entries.
 * @retval ZEBERR_NO_DATA A reply without its count (`*area_count` left alone; a nonzero
 *   status word that came is the result instead), or a list shorter than its count (the
 *   entries that came are delivered).
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBENumMemory(ZEBDevice* device, uint16_t* area_count,
                                        ZEBMemoryArea* areas);
/**
 * @ingroup zeb_memory
 * @brief Reads a block of shared RAM.
 *
 * Sends 0x28, the address flag (1 when bit 15 of `address` is set, else 0), `base`, `slot`,
 * `address` without bit 15, and `count` (16 bits each). Delivered as by ZEBReadMemory().
 *
 * @param[in,out] device An opened device.
 * @param[in] base The first selector of the shared RAM.
 * @param[in] slot The second selector.
 * @param[in] address The address; bit 15 selects the flagged region (0x8030 is sent as flag 1
 *   and address 0x0030).
 * @param[in] count Bytes to read, at most 589.
 * @param[out] buffer Receives exactly `count` bytes, or nothing.
 * @return As ZEBReadMemory().
 */
ZEB_API uint32_t ZEB_CALL ZEBReadSharedRAM(ZEBDevice* device, uint16_t base, uint16_t slot,
                                           uint16_t address, uint32_t count, uint8_t* buffer);
/**
 * @ingroup zeb_memory
 * @brief Writes a block of shared RAM.
 *
 * Sends 0x29 and the fields of ZEBReadSharedRAM(), then the data.
 *
 * @param[in,out] device An opened device.
 * @param[in] base The first selector of the shared RAM.
 * @param[in] slot The second selector.
 * @param[in] address The address; bit 15 selects the flagged region.
 * @param[in] count Bytes to write, at most 256.
 * @param[in] buffer The data.
 * @retval 0 Written.
 * @retval ZEBERR_PACKET_TOO_LARGE A count above 256; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL buffer with a nonzero count; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteSharedRAM(ZEBDevice* device, uint16_t base, uint16_t slot,
                                            uint16_t address, uint32_t count,
                                            const uint8_t* buffer);

/* ---- Serial pass-through (the module's own ports) -------------------------------------- */


/**
 * @defgroup zeb_serial Serial pass-through
 * @brief The module's own serial ports: write, read, queue counts, flushes, line setup, and a
 * combined write-and-answer exchange.
 *
 * The plain family leaves the port to the module; the Ex family names it, counted from 1.
 * A write takes at most 196 bytes less the header size (195 for the Ex family), and
 * ZEBAccessComm at most 1496 less the header size. Reads deliver at most the bytes asked for.
 *
 * Every request is 0x23 and an operation byte: 0x01 write, 0x02 read, 0x03 receive queue,
 * 0x04 flush the receive queue, 0x05 set the port up, 0x06 transmit queue, 0x07 read the setup
 * back, 0x08 the combined exchange (plain only), 0x09 flush the transmit queue (Ex only). The
 * Ex family adds 0x80 to the operation and sends the port's number less one in the next byte
 * (port 0 goes out as 0xFF and is not refused); every later field moves up by one byte.
 * Replies start with a status word (except the setup read-back), which becomes the result
 * sign-extended. None of them reports re-sends. These are the ports of the module; the
 * library's own serial transport uses a port of the host.
 */

/**
 * @ingroup zeb_serial
 * @brief Sends bytes out of the module's port.
 *
 * Sends 0x23 0x01, the count (16 bits), then the bytes: at most 187 with the 9-byte header,
 * 180 with the 16-byte one.
 *
 * @param[in,out] device An opened device.
 * @param[in] count Bytes to send.
 * @param[in] buffer The bytes.
 * @retval 0 Queued by the module.
 * @retval ZEBERR_PACKET_TOO_LARGE Too many bytes; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL buffer with a nonzero count; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteComm(ZEBDevice* device, uint32_t count, const uint8_t* buffer);
/**
 * @ingroup zeb_serial
 * @brief Collects the bytes that the module's port has received.
 *
 * Sends 0x23 0x02 and the number of bytes wanted (16 bits). The reply is a status word, a
 * count n and the bytes; at most the bytes asked for and at most the bytes that arrived are
 * delivered, also with a nonzero status word.
 *
 * @param[in,out] device An opened device.
 * @param[in,out] count In: bytes wanted; out: bytes delivered.
 * @param[out] buffer Receives the bytes.
 * @retval 0 Delivered.
 * @retval ZEBERR_BUFFER_TOO_SMALL The module sent more than asked for; cut to `*count`.
 * @retval ZEBERR_BAD_PARAMETER No count, or a NULL buffer with bytes wanted (the module would
 *   give them up from its queue); nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its count (`*count` left alone; a nonzero status
 *   word that came is the result instead), or fewer bytes than it counts (those that came
 *   are delivered).
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadComm(ZEBDevice* device, uint16_t* count, uint8_t* buffer);
/**
 * @ingroup zeb_serial
 * @brief Asks how many received bytes wait in the port's receive queue.
 *
 * Sends 0x23 0x03. The reply is a status word and the count, which is stored whatever the
 * status says.
 *
 * @param[in,out] device An opened device.
 * @param[out] available Receives the count; not written when NULL.
 * @retval 0 Stored.
 * @retval ZEBERR_NO_DATA A reply without its count: nothing stored (a nonzero status word
 *   that came is the result instead).
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBGetRXAvailable(ZEBDevice* device, uint16_t* available);
/**
 * @ingroup zeb_serial
 * @brief Drops what the port's receive queue holds. Sends 0x23 0x04.
 * @param[in,out] device An opened device.
 * @retval 0 Flushed.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBFlushRXQueue(ZEBDevice* device);
/**
 * @ingroup zeb_serial
 * @brief Sets the port's line up.
 *
 * Sends 0x23 0x05, the wait flag, 0x00, then the 8-byte setup record. With a wait the module
 * acknowledges at once and answers once the port is set up (when the bytes still queued have
 * left): the final reply is awaited up to ZEBDevice::Timeout + 10 + 30000 ms. Re-sends are not
 * reported either way.
 *
 * @param[in,out] device An opened device.
 * @param[in] setup The line settings; the layout is the module's.
 * @param[in] wait Nonzero: wait for the setup to be done. Its low byte is sent (1 when that
 *   byte is 0).
 * @retval 0 Set up.
 * @retval ZEBERR_BAD_PARAMETER No setup record; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBSetupSerialPort(ZEBDevice* device, const ZEBSerialSetup* setup,
                                             int32_t wait);
/**
 * @ingroup zeb_serial
 * @brief Reads the port's line settings back.
 *
 * Sends 0x23 0x07 0x00 0x00. The reply is the 8-byte record alone, without a status word.
 *
 * @param[in,out] device An opened device.
 * @param[out] setup Receives the record; not written when NULL.
 * @retval 0 Delivered.
 * @retval ZEBERR_NO_DATA A reply shorter than the record.
 * @return Otherwise a failure of the exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBReadSerialPortSetup(ZEBDevice* device, ZEBSerialSetup* setup);
/**
 * @ingroup zeb_serial
 * @brief Asks how many bytes still wait to be sent from the port.
 *
 * Sends 0x23 0x06; answered as ZEBGetRXAvailable().
 *
 * @param[in,out] device An opened device.
 * @param[out] left Receives the count; not written when NULL.
 * @return As ZEBGetRXAvailable().
 */
ZEB_API uint32_t ZEB_CALL ZEBGetTXLeft(ZEBDevice* device, uint16_t* left);

/**
 * @ingroup zeb_serial
 * @brief ZEBWriteComm() on a named port: sends 0x23 0x81, the port byte, the count, the bytes
 * (at most 186 with the 9-byte header, 179 with the 16-byte one).
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @param[in] count Bytes to send.
 * @param[in] buffer The bytes.
 * @return As ZEBWriteComm().
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteCommEx(ZEBDevice* device, uint32_t port, uint32_t count,
                                         const uint8_t* buffer);
/**
 * @ingroup zeb_serial
 * @brief ZEBReadComm() on a named port: sends 0x23 0x82, the port byte, the number wanted.
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @param[in,out] count In: bytes wanted; out: bytes delivered.
 * @param[out] buffer Receives the bytes.
 * @return As ZEBReadComm().
 */
ZEB_API uint32_t ZEB_CALL ZEBReadCommEx(ZEBDevice* device, uint32_t port, uint16_t* count,
                                        uint8_t* buffer);
/**
 * @ingroup zeb_serial
 * @brief ZEBGetRXAvailable() on a named port: sends 0x23 0x83 and the port byte.
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @param[out] available Receives the count; not written when NULL.
 * @return As ZEBGetRXAvailable().
 */
ZEB_API uint32_t ZEB_CALL ZEBGetRXAvailableEx(ZEBDevice* device, uint32_t port,
                                              uint16_t* available);
/**
 * @ingroup zeb_serial
 * @brief ZEBFlushRXQueue() on a named port: sends 0x23 0x84 and the port byte.
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @return As ZEBFlushRXQueue().
 */
ZEB_API uint32_t ZEB_CALL ZEBFlushRXQueueEx(ZEBDevice* device, uint32_t port);
/**
 * @ingroup zeb_serial
 * @brief Drops what a named port's transmit queue still holds: sends 0x23 0x89 and the port
 * byte (the plain family has no such operation).
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @retval 0 Flushed.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBFlushTXQueueEx(ZEBDevice* device, uint32_t port);
/**
 * @ingroup zeb_serial
 * @brief ZEBSetupSerialPort() on a named port: sends 0x23 0x85, the port byte, the wait flag,
 * 0x00, the record.
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @param[in] setup The line settings.
 * @param[in] wait Nonzero: wait for the setup to be done.
 * @return As ZEBSetupSerialPort().
 */
ZEB_API uint32_t ZEB_CALL ZEBSetupSerialPortEx(ZEBDevice* device, uint32_t port,
                                               const ZEBSerialSetup* setup, int32_t wait);
/**
 * @ingroup zeb_serial
 * @brief ZEBReadSerialPortSetup() on a named port: sends 0x23 0x87, the port byte, 0x00 0x00.
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @param[out] setup Receives the record; not written when NULL.
 * @return As ZEBReadSerialPortSetup().
 */
ZEB_API uint32_t ZEB_CALL ZEBReadSerialPortSetupEx(ZEBDevice* device, uint32_t port,
                                                   ZEBSerialSetup* setup);
/**
 * @ingroup zeb_serial
 * @brief ZEBGetTXLeft() on a named port: sends 0x23 0x86 and the port byte.
 * @param[in,out] device An opened device.
 * @param[in] port The module's port, counted from 1.
 * @param[out] left Receives the count; not written when NULL.
 * @return As ZEBGetRXAvailable().
 */
ZEB_API uint32_t ZEB_CALL ZEBGetTXLeftEx(ZEBDevice* device, uint32_t port, uint16_t* left);

/**
 * @ingroup zeb_serial
 * @brief Writes bytes out of the module's port and delivers the answer that comes back.
 *
 * Sends 0x23 0x08, the count (16 bits), then the bytes, in a 1500-byte request: at most 1487
 * bytes with the 9-byte header, 1480 with the 16-byte one. The reply is a status word, a count
 * n and the answer bytes.
 * Sends count bytes and delivers the answer; `*reply_count`: in, room in reply_buffer; out,
 * the bytes delivered. With a null reply_buffer or reply_count only the status counts.
 *
 * @param[in,out] device An opened device.
 * @param[in] count Bytes to send.
 * @param[in] buffer The bytes.
 * @param[in,out] reply_count In: room at `reply_buffer`; out: bytes delivered. May be NULL.
 * @param[out] reply_buffer Receives the answer. May be NULL.
 * @retval 0 Done.
 * @retval ZEBERR_BUFFER_TOO_SMALL The answer cut to `*reply_count` (reported over the
 *   module's status).
 * @retval ZEBERR_PACKET_TOO_LARGE Too many bytes; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL buffer with a nonzero count; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word, or (with a reply buffer) without
 *   its count (`*reply_count` left alone) or with fewer bytes than it counts.
 * @return Otherwise the module's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBAccessComm(ZEBDevice* device, uint32_t count, const uint8_t* buffer,
                                        uint16_t* reply_count, uint8_t* reply_buffer);

/* ---- Remote master (a Vireo behind the module's shared RAM) -------------------------------- */

/**
 * @defgroup zeb_remote Remote master and tunnels
 * @brief A remote master of the `Vireo` family, reached through the shared RAM of the module
 * that the device addresses; and devices whose requests travel through one.
 *
 * The mailbox lives in the flagged region of the shared RAM that `base` and `slot` select
 * (@ref zeb_memory): a 12-byte control block at 0x0030 (command byte, state, error code,
 * 0, then area, offset, chunk length; or the command number and its parameters) and the data
 * window at 0x003C behind it. The host prepares the block with command byte 0, starts it by
 * writing the command byte (8 write data, 7 read data, 6 command), and polls the first four
 * bytes until the remote master marks the block done (state 2) or failed (state 3, with an
 * error code), or until the device's Timeout has passed since the start (ZEBERR_TIMEOUT).
 * Every poll is a full shared-RAM exchange, so a wait costs the module's round trips and no
 * more. The base and slot arguments are sent as their low 16 bits. None of them reports
 * re-sends. A shared-RAM exchange whose result is anything other than 0 or ZEBWARN_RETRIED
 * ends the operation with that result, also one that carries the 0x2000 bit (a module's
 * status word or a Winsock number): it is never taken for a success. The one exception is a
 * failed poll of ZEBDoVireoCommand() and ZEBDoVireoCommandEx(), which is passed over until the
 * Timeout. The mailbox is one resource of the remote master: run one mailbox operation per
 * remote master at a time.
 *
 * A device record with ZEBDevice::Tunnel 1 sends every ordinary operation through the remote
 * master at (TunnelBase, TunnelSlot) to the node TunnelNode: the request body goes into area 4
 * from offset 0, command 3 sends it on (parameters: the node number, 0, the body's length, 0,
 * 0x0800), and the answer comes back from area 4 behind a head of status and length. Tunnel
 * is 1 again when the call returns, whatever happened. Where the node's answer carries a
 * nonzero status (no such node, say), the exchange fails with ZEBERR_NO_DATA and a reply
 * length of 0, so every operation reports ZEBERR_NO_DATA, also those that do not read their
 * reply (ZEBPetDevice(), XCPUSetOSLoad(), XCPUReboot()); an answer another request left in the
 * area never passes for this one. Every forwarding step must return exactly 0. An answer longer
 * than the operation's reply buffer is cut to fit and reported as ZEBERR_BUFFER_TOO_SMALL. A
 * tunnelled exchange carries one answer: no acknowledgement.
 */

/**
 * @ingroup zeb_remote
 * @brief Writes a block into one of the remote master's data areas.
 *
 * Moves count bytes into or out of the remote master's area (low byte used) from offset on, in
 * chunks of 256 bytes. base and slot select the shared RAM (low 16 bits sent). For each chunk:
 * the control block (command 0, area, offset, chunk length), the chunk into the data window,
 * the command byte 8, then the poll. Chunks already acknowledged stay written when a later one
 * fails; the offset wraps at 16 bits.
 *
 * @param[in,out] device An opened device: the module in front of the remote master.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] area The remote master's area (low byte used).
 * @param[in] buffer The data.
 * @param[in] count Bytes to write; 0 sends nothing.
 * @param[in] offset Where in the area the block begins.
 * @retval 0 Written.
 * @retval ZEBERR_TIMEOUT The remote master did not finish a chunk within the device's Timeout.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @retval ZEBERR_BAD_PARAMETER A NULL buffer with a nonzero count.
 * @return Otherwise the remote master's error byte (state 3; an error code of 0 gives 0), or
 *   the failed shared-RAM exchange's result (a failed poll ends the call too).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                            uint32_t area, const uint8_t* buffer, uint16_t count,
                                            uint16_t offset);
/**
 * @ingroup zeb_remote
 * @brief Reads a block out of one of the remote master's data areas.
 *
 * For each chunk of up to 256 bytes: the control block, the command byte 7 with state 0, the
 * poll, then the chunk read from the data window. Chunks already read stay delivered when a
 * later one fails.
 *
 * @param[in,out] device An opened device: the module in front of the remote master.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] area The remote master's area (low byte used).
 * @param[out] buffer Receives the data.
 * @param[in] count Bytes to read; 0 sends nothing.
 * @param[in] offset Where in the area the block begins.
 * @return As ZEBWriteVireoData().
 */
ZEB_API uint32_t ZEB_CALL ZEBReadVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                           uint32_t area, uint8_t* buffer, uint16_t count,
                                           uint16_t offset);
/**
 * @ingroup zeb_remote
 * @brief Runs a numbered command of the remote master.
 *
 * Runs a numbered command; on failure the result is the remote master's error byte. Writes
 * the 6-byte block (command byte 0, state 0, 0, 0, the command number), then the command byte
 * 6 with state 0, then polls: the time is tested before each poll, and a failed poll read is
 * passed over. With a Timeout of 0 the call ends before the first poll.
 *
 * @param[in,out] device An opened device: the module in front of the remote master.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] command The command number; its meaning is the remote master's.
 * @retval 0 Done.
 * @retval ZEBERR_TIMEOUT Not done within the device's Timeout.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @return Otherwise the remote master's error byte (state 3), or the failed shared-RAM
 *   write's result.
 */
ZEB_API uint32_t ZEB_CALL ZEBDoVireoCommand(ZEBDevice* device, uint32_t base, uint32_t slot,
                                            uint16_t command);
/**
 * @ingroup zeb_remote
 * @brief Runs a numbered command of the remote master with parameters.
 *
 * The same with up to 250 parameter bytes; on failure the result is its 16-bit error code
 * (bytes 2 and 3 of the control block). The parameters follow the command number in the
 * block; a failed poll read is passed over, and the time is tested after each poll.
 *
 * @param[in,out] device An opened device: the module in front of the remote master.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] command The command number.
 * @param[in] params The parameter bytes.
 * @param[in] param_length Their number, at most 250.
 * @retval 0 Done.
 * @retval ZEBERR_TIMEOUT Not done within the device's Timeout.
 * @retval ZEBERR_PACKET_TOO_LARGE More than 250 parameter bytes; nothing was sent.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @retval ZEBERR_BAD_PARAMETER NULL parameters with a nonzero length; nothing was sent.
 * @return Otherwise the remote master's 16-bit error code (state 3), or the failed shared-RAM
 *   write's result.
 */
ZEB_API uint32_t ZEB_CALL ZEBDoVireoCommandEx(ZEBDevice* device, uint32_t base, uint32_t slot,
                                              uint16_t command, const uint8_t* params,
                                              uint16_t param_length);
/**
 * @ingroup zeb_remote
 * @brief ZEBWriteVireoData() under the controller family's prefix: the same request, the same
 * result.
 * @param[in,out] device An opened device.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] area The remote master's area (low byte used).
 * @param[in] buffer The data.
 * @param[in] count Bytes to write.
 * @param[in] offset Where in the area the block begins.
 * @return As ZEBWriteVireoData().
 */
ZEB_API uint32_t ZEB_CALL XCPUWriteVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                             uint32_t area, const uint8_t* buffer, uint16_t count,
                                             uint16_t offset);
/**
 * @ingroup zeb_remote
 * @brief ZEBReadVireoData() under the controller family's prefix.
 * @param[in,out] device An opened device.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] area The remote master's area (low byte used).
 * @param[out] buffer Receives the data.
 * @param[in] count Bytes to read.
 * @param[in] offset Where in the area the block begins.
 * @return As ZEBReadVireoData().
 */
ZEB_API uint32_t ZEB_CALL XCPUReadVireoData(ZEBDevice* device, uint32_t base, uint32_t slot,
                                            uint32_t area, uint8_t* buffer, uint16_t count,
                                            uint16_t offset);
/**
 * @ingroup zeb_remote
 * @brief ZEBDoVireoCommand() under the controller family's prefix.
 * @param[in,out] device An opened device.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] command The command number.
 * @return As ZEBDoVireoCommand().
 */
ZEB_API uint32_t ZEB_CALL XCPUDoVireoCommand(ZEBDevice* device, uint32_t base, uint32_t slot,
                                             uint16_t command);
/**
 * @ingroup zeb_remote
 * @brief ZEBDoVireoCommandEx() under the controller family's prefix.
 * @param[in,out] device An opened device.
 * @param[in] base The shared RAM's first selector.
 * @param[in] slot The shared RAM's second selector.
 * @param[in] command The command number.
 * @param[in] params The parameter bytes.
 * @param[in] param_length Their number, at most 250.
 * @return As ZEBDoVireoCommandEx().
 */
ZEB_API uint32_t ZEB_CALL XCPUDoVireoCommandEx(ZEBDevice* device, uint32_t base, uint32_t slot,
                                               uint16_t command, const uint8_t* params,
                                               uint16_t param_length);

/* ---- Networked nodes ------------------------------------------------------------------- */

/**
 * @defgroup zeb_nodes Networked nodes
 * @brief Modules whose device definition names them as kind 6: the list of them, and writes
 * into their program space.
 */

/**
 * @ingroup zeb_nodes
 * @brief Finds, opens and lists every networked node on the local IPX network.
 *
 * Finds, opens and lists every networked node on the local IPX network. The table and the
 * devices it points to are the library's and stay valid (and open) until the next call, which
 * closes them first. Returns null with `*count` 0 when no node is found or anything fails.
 *
 * Opens the library's own IPX transport, runs ZEBQueryDevices() into a table of 100 records,
 * opens each module found (Timeout 100 ms, Retries 2, no broadcast) and reads its device
 * definition: a module of kind 6 is listed with its number (setup type 0x20) and name (setup
 * type 0x16) and stays open; any other is closed. Records longer than the entry holds are cut
 * to it (the read's ZEBERR_BUFFER_TOO_SMALL counts as a success here: only their leading bytes
 * are wanted). A failed call closes what it opened, and so does a discovery with more than 100
 * answers. Linux has no IPX, so there the result is always
 * null. Not for use from two threads at once, nor while another thread uses an earlier list.
 *
 * @param[out] count Receives the number of entries (0 on failure); may be NULL.
 * @return The first entry of the library's node table, or NULL.
 */
ZEB_API TaviNode* ZEB_CALL TaviGetNodeList(uint16_t* count);
/**
 * @ingroup zeb_nodes
 * @brief Writes a block into a node's program space.
 *
 * Writes count bytes (at most 316) into a node's program space: 0, ZEBWARN_RETRIED after
 * re-sends, the node's status word sign-extended, or the exchange's failure. Sends 0x60,
 * 0x00, two reserved bytes (0), then the data. Acknowledged at once; the final reply, a status
 * word, is awaited up to ZEBDevice::Timeout + 10 + 30000 ms.
 *
 * @param[in,out] device An opened device (a node).
 * @param[in] buffer The bytes.
 * @param[in] count Their number, at most 316.
 * @retval 0 Written.
 * @retval ZEBWARN_RETRIED Written, after re-sends.
 * @retval ZEBERR_BAD_DEVICE No device given.
 * @retval ZEBERR_PACKET_TOO_LARGE More than 316 bytes; nothing was sent.
 * @retval ZEBERR_BAD_PARAMETER A NULL buffer with a nonzero count; nothing was sent.
 * @retval ZEBERR_NO_DATA A final reply without its status word.
 * @return Otherwise the node's nonzero status word, sign-extended, or a failure of the
 *   exchange (@ref zeb_results).
 */
ZEB_API uint32_t ZEB_CALL ZEBWriteTaviethernetPgmSpace(ZEBDevice* device, const uint8_t* buffer,
                                                       uint16_t count);
/**
 * @ingroup zeb_nodes
 * @brief Writes a packet's data into a node's program space, with a true/false result.
 *
 * Writes the count bytes from packet + 60 on; 1 and `*status` set to 0 on success, else 0.
 * The write is ZEBWriteTaviethernetPgmSpace(); only its result 0 counts as success (a success
 * after re-sends does not).
 *
 * @param[in,out] device An opened device (a node).
 * @param[in] packet The caller's block: its first 60 bytes are skipped, `count` bytes follow.
 * @param[out] status Set to 0 on success, untouched otherwise; may be NULL.
 * @param[in] count Bytes to write, at most 316.
 * @retval 1 Written.
 * @retval 0 Not written, or no packet given.
 */
ZEB_API int32_t ZEB_CALL TaviSendPacket(ZEBDevice* device, const uint8_t* packet, uint8_t* status,
                                        uint16_t count);

/* ---- Controller services (XCPU...) ----------------------------------------------------- */


/**
 * @defgroup zeb_xcpu Controller services
 * @brief A controller module's files, directories, serial ports and programs (`XCPU...`).
 *
 * A controller module carries out Windows file, directory and serial-port functions, starts
 * programs and restarts. Each call is one request and one reply; it always waits, whatever
 * NoWait says, and never reports re-sends (a success after re-sends is 0).
 *
 * The result: a failed exchange's result unchanged (any nonzero one, Winsock numbers included),
 * with no output written; otherwise the module's status word sign-extended (0 when accepted),
 * with every output delivered whatever the status. A reply too short for the outputs asked for
 * writes none of them: a refusal that came as the status word alone gives that status,
 * sign-extended; a reply without a status word, or with 0 there, gives ZEBERR_NO_DATA (a
 * tunnelled call whose node did not answer gives ZEBERR_NO_DATA too). Input that does not
 * fit the call's request is refused before sending with ZEBERR_PACKET_TOO_LARGE, and a null
 * pointer where the request needs data with ZEBERR_BAD_PARAMETER.
 *
 * Handles are the module's 32-bit values. The last pointer, `result`, receives what the
 * module's Windows function returned (a handle, a success flag, a size...); failures of the
 * function itself come back there, and XCPUGetLastError tells why. A null output pointer is
 * not written.
 *
 * A service call is 0x35 0xCA (the code and its complement), the service number (16 bits),
 * then the arguments: 32-bit numbers, records as they stand, blocks of data, and paths (the
 * length with the zero byte in 16 bits, the 8-bit characters unconverted, the zero byte). The
 * reply is the status word, the function's 32-bit return value, then the outputs. A late
 * reply makes the engine send the request again, so the module may carry out a read, a write
 * or a relative seek twice; the library takes no step against it. The library keeps no record
 * of the module's handles and closes none of them, closing the device included. These
 * functions are not in `ZEB_PAS`.
 */

/**
 * @defgroup zeb_xcpu_control Controller as a whole
 * @ingroup zeb_xcpu
 * @brief The OS-load value, a restart, starting a program, and the last-error number.
 */

/**
 * @ingroup zeb_xcpu_control
 * @brief Passes a value to the module, which gives it its meaning. The reply is not examined.
 *
 * Sends 0xF9 0x06, then the value (32 bits).
 *
 * @param[in,out] device An opened device.
 * @param[in] value The value, passed on unchanged.
 * @retval 0 The module answered.
 * @return Otherwise the exchange's result unchanged (@ref zeb_results).
 */
ZEB_API int32_t ZEB_CALL XCPUSetOSLoad(ZEBDevice* device, uint32_t value);
/**
 * @ingroup zeb_xcpu_control
 * @brief Restarts the module. A module that restarts without answering ends the call in a
 * time-out.
 *
 * Sends 0xFA 0x05; the reply is not examined. Like every call, it waits for an answer, sending
 * again as often as the device's Retries allow.
 *
 * @param[in,out] device An opened device.
 * @retval 0 The module answered.
 * @retval ZEBERR_TIMEOUT No answer (a module that restarted at once).
 * @return Otherwise the exchange's result unchanged (@ref zeb_results).
 */
ZEB_API int32_t ZEB_CALL XCPUReboot(ZEBDevice* device);
/**
 * @ingroup zeb_xcpu_control
 * @brief Starts a program on the module.
 *
 * Starts a program: its name (at most 64 bytes, up to the first space), then its arguments.
 * An empty command line sends nothing and returns -1. Sends 0x34 0xCB, the program's name
 * zero-padded to 64 bytes, then the argument text with its zero byte. Leading spaces are
 * skipped; only a space ends the name (a tab belongs to it); the argument text starts after
 * the white space that follows, and keeps trailing white space. The argument text may have at
 * most 433 characters less the header size.
 *
 * @param[in,out] device An opened device.
 * @param[in] command_line The program's name and its arguments, zero-terminated.
 * @retval 0 Started.
 * @retval -1 An empty command line; nothing was sent.
 * @retval ZEBERR_PACKET_TOO_LARGE A name over 64 bytes or argument text too long; nothing was
 *   sent.
 * @retval ZEBERR_BAD_PARAMETER No command line; nothing was sent.
 * @retval ZEBERR_NO_DATA A reply without its status word.
 * @return Otherwise the module's nonzero status word, sign-extended, or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPURunProgram(ZEBDevice* device, const char* command_line);
/**
 * @ingroup zeb_xcpu_control
 * @brief Reads the module's last-error number: why its last function failed.
 *
 * Service 0x04, no arguments. The return value is the last-error number.
 *
 * @param[in,out] device An opened device.
 * @param[out] last_error Receives the number; not written when NULL or when the call fails.
 * @return The module's status word, sign-extended (0 when accepted), ZEBERR_NO_DATA for a
 *   reply too short, or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUGetLastError(ZEBDevice* device, uint32_t* last_error);
/**
 * @ingroup zeb_xcpu_control
 * @brief Sets the module's last-error number.
 *
 * Service 0x0A, then the number (32 bits).
 *
 * @param[in,out] device An opened device.
 * @param[in] error The number.
 * @return The module's status word, sign-extended (0 when accepted), ZEBERR_NO_DATA for a
 *   reply without it, or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUSetLastError(ZEBDevice* device, uint32_t error);


/**
 * @defgroup zeb_xcpu_files Files and directories
 * @ingroup zeb_xcpu
 * @brief Opening, reading, writing and searching the controller module's files.
 *
 * Files and directories. Paths are zero-terminated 8-bit strings sent unconverted; a path may
 * have at most 477 characters less the header size for XCPUCreateFile, 489 for
 * XCPUSetFileAttributes, 481 for XCPUCreateDirectory, 433 for XCPUFindFirstFile and 493 for the
 * others.
 *
 * Each takes the device first, then the Windows function's parameters (XCPUCreateFile without
 * the security and template ones, reads and writes without the overlapped one), then
 * `result`. Every function returns the module's status word, sign-extended (0 when accepted),
 * ZEBERR_NO_DATA for a reply too short for the outputs asked for (none written), or the
 * exchange's failure with no output written, as the family describes (@ref zeb_xcpu). A handle
 * comes from XCPUCreateFile() (files and serial ports) or XCPUFindFirstFile() (searches) and
 * ends with XCPUCloseHandle() or XCPUFindClose().
 */

/**
 * @ingroup zeb_xcpu_files
 * @brief Opens or creates a file, or opens a serial port; `*handle_out` receives the module's
 * handle.
 *
 * Service 0x01: the path, then `access`, `share`, `creation`, `flags` (32 bits each).
 *
 * @param[in,out] device An opened device.
 * @param[in] path The file's or port's name.
 * @param[in] access The desired access.
 * @param[in] share The share mode.
 * @param[in] creation The creation disposition.
 * @param[in] flags The flags and attributes.
 * @param[out] handle_out Receives the module's handle (an invalid one when its open failed).
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER for a path too long or missing; ZEBERR_NO_DATA; or the exchange's
 *   failure.
 */
ZEB_API int32_t ZEB_CALL XCPUCreateFile(ZEBDevice* device, const char* path, uint32_t access,
                                        uint32_t share, uint32_t creation, uint32_t flags,
                                        uint32_t* handle_out);
/**
 * @ingroup zeb_xcpu_files
 * @brief Reads from a file or serial port.
 *
 * Reads at most count bytes (at most 1581) into buffer; `*bytes_read` receives how many were
 * delivered. A reply with more than count bytes delivers count of them and gives
 * ZEBERR_BUFFER_TOO_SMALL; one with fewer bytes than it reports delivers those that came and
 * gives ZEBERR_NO_DATA. Service 0x02: the handle, the count. The reply's outputs are the
 * number of bytes read and the bytes; a nonzero status word is the result either way.
 *
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[out] buffer Receives the bytes.
 * @param[in] count Bytes to read, at most 1581.
 * @param[out] bytes_read Receives the number delivered.
 * @param[out] result Receives the function's return value (its success flag).
 * @return The module's status word, sign-extended; ZEBERR_BUFFER_TOO_SMALL or ZEBERR_NO_DATA
 *   as above; ZEBERR_PACKET_TOO_LARGE for a count above 1581, ZEBERR_BAD_PARAMETER for a NULL
 *   buffer with a nonzero count (the bytes would be lost from the file), both before sending;
 *   or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUReadFile(ZEBDevice* device, uint32_t file, uint8_t* buffer,
                                      uint32_t count, uint32_t* bytes_read, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Writes to a file or serial port.
 *
 * Writes count bytes (at most 1588 less the header size). Service 0x03: the handle, the count,
 * the bytes.
 *
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[in] data The bytes.
 * @param[in] count Their number.
 * @param[out] bytes_written Receives the number the module wrote.
 * @param[out] result Receives the function's return value (its success flag).
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER before sending; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUWriteFile(ZEBDevice* device, uint32_t file, const uint8_t* data,
                                       uint32_t count, uint32_t* bytes_written, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Closes a file or serial-port handle. Service 0x05: the handle.
 * @param[in,out] device An opened device.
 * @param[in] handle The handle.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUCloseHandle(ZEBDevice* device, uint32_t handle, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Reads a file's three times. Service 0x0B: the handle.
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[out] creation Receives when it was created.
 * @param[out] last_access Receives when it was last read or written.
 * @param[out] last_write Receives when it was last written.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUGetFileTime(ZEBDevice* device, uint32_t file, ZEBFileTime* creation,
                                         ZEBFileTime* last_access, ZEBFileTime* last_write,
                                         uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Sets a file's three times.
 *
 * Sends all three times; none may be null. Service 0x0C: the handle and the three records.
 *
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[in] creation When it was created.
 * @param[in] last_access When it was last read or written.
 * @param[in] last_write When it was last written.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_BAD_PARAMETER for a NULL time
 *   (nothing sent); ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUSetFileTime(ZEBDevice* device, uint32_t file,
                                         const ZEBFileTime* creation,
                                         const ZEBFileTime* last_access,
                                         const ZEBFileTime* last_write, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Starts a directory search.
 *
 * Sends the caller's find record along and replaces it with the first match; `*result`
 * receives the module's find handle. Service 0x0D: the pattern, then the 560-byte record as
 * it stands.
 *
 * @param[in,out] device An opened device.
 * @param[in] pattern The path and pattern to search for.
 * @param[in,out] find_data The find record: sent, then replaced by the first match.
 * @param[out] result Receives the find handle (an invalid one when nothing matched).
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER (no pattern or record) before sending; ZEBERR_NO_DATA; or the
 *   exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUFindFirstFile(ZEBDevice* device, const char* pattern,
                                           ZEBFindData* find_data, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Continues a directory search. Service 0x0F: the find handle, the 560-byte record.
 * @param[in,out] device An opened device.
 * @param[in] find The find handle.
 * @param[in,out] find_data The find record: sent, then replaced by the next match.
 * @param[out] result Receives the function's return value: 0 when there are no more matches.
 * @return The module's status word, sign-extended; ZEBERR_BAD_PARAMETER for no record
 *   (nothing sent); ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUFindNextFile(ZEBDevice* device, uint32_t find, ZEBFindData* find_data,
                                          uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Ends a directory search. Service 0x0E: the find handle.
 * @param[in,out] device An opened device.
 * @param[in] find The find handle.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUFindClose(ZEBDevice* device, uint32_t find, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Deletes a file. Service 0x10: the path.
 * @param[in,out] device An opened device.
 * @param[in] path The file.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER before sending; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUDeleteFile(ZEBDevice* device, const char* path, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Ends a file at its file pointer. Service 0x11: the handle.
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUSetEndOfFile(ZEBDevice* device, uint32_t file, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Moves a file's pointer.
 *
 * Moves the file pointer; `*distance_high` is sent as the high part (0 when it is null) and
 * receives the new position's high part. `*result` receives the low part. Service 0x12: the
 * handle, the distance, the high part, the method.
 *
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[in] distance The distance's low part (signed).
 * @param[in,out] distance_high The distance's high part, replaced by the new position's; may
 *   be NULL.
 * @param[in] method Where the distance counts from.
 * @param[out] result Receives the new position's low part.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUSetFilePointer(ZEBDevice* device, uint32_t file, int32_t distance,
                                            int32_t* distance_high, uint32_t method,
                                            uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Writes a file's buffered data out. Service 0x13: the handle.
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUFlushFileBuffers(ZEBDevice* device, uint32_t file, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Reads a file's size.
 *
 * `*result` receives the size's low part, `*size_high` its high part. Service 0x14: the
 * handle.
 *
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[out] size_high Receives the size's high part; may be NULL.
 * @param[out] result Receives the size's low part.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUGetFileSize(ZEBDevice* device, uint32_t file, uint32_t* size_high,
                                         uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Reads what the module knows of an open file. Service 0x16: the handle.
 * @param[in,out] device An opened device.
 * @param[in] file The handle.
 * @param[out] info Receives the record.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUGetFileInformationByHandle(ZEBDevice* device, uint32_t file,
                                                        ZEBFileInfo* info, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Sets a file's attributes. Service 0x17: the path, the attributes (32 bits).
 * @param[in,out] device An opened device.
 * @param[in] path The file.
 * @param[in] attributes The attribute set.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER before sending; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUSetFileAttributes(ZEBDevice* device, const char* path,
                                               uint32_t attributes, uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Reads a file's attributes.
 *
 * `*result` receives the attribute set. Service 0x18: the path.
 *
 * @param[in,out] device An opened device.
 * @param[in] path The file.
 * @param[out] result Receives the attribute set.
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER before sending; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUGetFileAttributes(ZEBDevice* device, const char* path,
                                               uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Creates a directory.
 *
 * A null security record goes out as 12 zero bytes. Service 0x19: the path, then the 12-byte
 * security record.
 *
 * @param[in,out] device An opened device.
 * @param[in] path The directory.
 * @param[in] security The security record in the module's layout; may be NULL.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER before sending; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPUCreateDirectory(ZEBDevice* device, const char* path,
                                             const ZEBSecurityAttributes* security,
                                             uint32_t* result);
/**
 * @ingroup zeb_xcpu_files
 * @brief Removes a directory. Service 0x1A: the path.
 * @param[in,out] device An opened device.
 * @param[in] path The directory.
 * @param[out] result Receives the function's return value.
 * @return The module's status word, sign-extended; ZEBERR_PACKET_TOO_LARGE or
 *   ZEBERR_BAD_PARAMETER before sending; ZEBERR_NO_DATA; or the exchange's failure.
 */
ZEB_API int32_t ZEB_CALL XCPURemoveDirectory(ZEBDevice* device, const char* path, uint32_t* result);


/**
 * @defgroup zeb_xcpu_comm Serial ports of the controller
 * @ingroup zeb_xcpu
 * @brief Line settings, time-outs, queues, error state and capabilities of a controller
 * module's serial ports.
 *
 * Serial ports of the module, opened with XCPUCreateFile. Their data moves with
 * XCPUReadFile() and XCPUWriteFile(), and XCPUCloseHandle() closes them. Each function ships
 * a Windows record to the module or back as it stands; the library checks none of its fields.
 * Every function returns the module's status word, sign-extended (0 when accepted),
 * ZEBERR_BAD_PARAMETER for a record to send that is NULL (nothing sent), ZEBERR_NO_DATA for a
 * reply too short for the outputs asked for (none written), or the exchange's failure with no
 * output written (@ref zeb_xcpu).
 */

/**
 * @ingroup zeb_xcpu_comm
 * @brief Sets a port's line settings. Service 0x06: the handle, the 28-byte DCB.
 * @param[in,out] device An opened device.
 * @param[in] port The port's handle.
 * @param[in] dcb The settings.
 * @param[out] result Receives the function's return value.
 * @return As the group describes.
 */
ZEB_API int32_t ZEB_CALL XCPUSetCommState(ZEBDevice* device, uint32_t port, const ZEBCommState* dcb,
                                          uint32_t* result);
/**
 * @ingroup zeb_xcpu_comm
 * @brief Reads a port's line settings. Service 0x07: the handle.
 * @param[in,out] device An opened device.
 * @param[in] port The port's handle.
 * @param[out] dcb Receives the settings.
 * @param[out] result Receives the function's return value.
 * @return As the group describes.
 */
ZEB_API int32_t ZEB_CALL XCPUGetCommState(ZEBDevice* device, uint32_t port, ZEBCommState* dcb,
                                          uint32_t* result);
/**
 * @ingroup zeb_xcpu_comm
 * @brief Sets a port's time-outs. Service 0x08: the handle, the 20-byte record.
 * @param[in,out] device An opened device.
 * @param[in] port The port's handle.
 * @param[in] timeouts The time-outs.
 * @param[out] result Receives the function's return value.
 * @return As the group describes.
 */
ZEB_API int32_t ZEB_CALL XCPUSetCommTimeouts(ZEBDevice* device, uint32_t port,
                                             const ZEBCommTimeouts* timeouts, uint32_t* result);
/**
 * @ingroup zeb_xcpu_comm
 * @brief Reads a port's time-outs. Service 0x09: the handle.
 * @param[in,out] device An opened device.
 * @param[in] port The port's handle.
 * @param[out] timeouts Receives the time-outs.
 * @param[out] result Receives the function's return value.
 * @return As the group describes.
 */
ZEB_API int32_t ZEB_CALL XCPUGetCommTimeouts(ZEBDevice* device, uint32_t port,
                                             ZEBCommTimeouts* timeouts, uint32_t* result);
/**
 * @ingroup zeb_xcpu_comm
 * @brief Drops what a port's queues hold, or ends their operations. Service 0x1B: the handle,
 * the flags.
 * @param[in,out] device An opened device.
 * @param[in] port The port's handle.
 * @param[in] flags Which queues and operations.
 * @param[out] result Receives the function's return value.
 * @return As the group describes.
 */
ZEB_API int32_t ZEB_CALL XCPUPurgeComm(ZEBDevice* device, uint32_t port, uint32_t flags,
                                       uint32_t* result);
/**
 * @ingroup zeb_xcpu_comm
 * @brief Reads and clears a port's error state.
 *
 * `*errors` receives the error flags, `*status` (when not null) the port's COMSTAT. Service
 * 0x1C: the handle.
 *
 * @param[in,out] device An opened device.
 * @param[in] port The port's handle.
 * @param[out] errors Receives the error flags.
 * @param[out] status Receives the port's state; may be NULL.
 * @param[out] result Receives the function's return value.
 * @return As the group describes.
 */
ZEB_API int32_t ZEB_CALL XCPUClearCommError(ZEBDevice* device, uint32_t port, uint32_t* errors,
                                            ZEBCommStatus* status, uint32_t* result);
/**
 * @ingroup zeb_xcpu_comm
 * @brief Reads what a port can do. Service 0x1D: the handle.
 * @param[in,out] device An opened device.
 * @param[in] port The port's handle.
 * @param[out] properties Receives the record.
 * @param[out] result Receives the function's return value.
 * @return As the group describes.
 */
ZEB_API int32_t ZEB_CALL XCPUGetCommProperties(ZEBDevice* device, uint32_t port,
                                               ZEBCommProperties* properties, uint32_t* result);

/* ---- Result texts ------------------------------------------------------------------- */

/**
 * @brief Writes a short English text for any result of this library.
 * @ingroup zeb_results
 *
 * The text is the ZEBERR_ or ZEBWARN_ name with a sentence, a Winsock or Windows error number
 * by its name, or a module's status word described by its class. Sends nothing; allocates
 * nothing; safe to call from several threads at once.
 *
 * @param[in] result The result to describe.
 * @param[out] buffer Where the text goes, cut to fit and always terminated when @p size is
 *                    above 0; nothing is written when @p size is 0 or @p buffer is null.
 * @param[in] size The room in @p buffer, in bytes, terminator included.
 * @return The length of the whole text without its terminator: a value of @p size or more
 *         means that the text was cut.
 */
ZEB_API uint32_t ZEB_CALL ZEBResultText(uint32_t result, char* buffer, uint32_t size);

/* ---- Looking behind a result ----------------------------------------------------------- */

/**
 * @brief The socket or port error behind a device's last failure, as seen from this thread.
 * @ingroup zeb_results
 *
 * A refused port or an unreachable network comes back from the socket as a Winsock number,
 * which carries the 0x2000 bit and so passes the classic failure test: the operation then
 * sees an empty reply and reports ZEBERR_NO_DATA. This tells a tool what lay behind it.
 * Every send on the device clears it; a failed send or receive sets it; ZEBOpenDevice() and
 * ZEBCloseDevice() clear it for the thread that calls them. Kept per thread for the 16 devices
 * the thread used last. Sends nothing.
 *
 * @param[in] device The device.
 * @return The Winsock or system error number (10061 connection refused, 10054 reset by the
 *   peer, 10051 network unreachable...), or 0 when the device's last exchange met none.
 */
ZEB_API uint32_t ZEB_CALL ZEBGetTransportError(const ZEBDevice* device);

/**
 * @brief Turns the frame trace on or off for the whole process: every frame sent and received
 * is written to standard error as one line (direction, address, sequence number, CRC, length,
 * function name, body bytes). For finding out what a module says; off by default.
 * @ingroup zeb_results
 *
 * @param[in] on Nonzero turns it on.
 * @return The previous setting, 0 or 1.
 */
ZEB_API int32_t ZEB_CALL ZEBSetTrace(int32_t on);

#ifdef __cplusplus
}
#endif

#endif /* ZEB_H */
