"""The library's byte-packed records, laid out as zeb.h and zeb_points.h declare them."""
import ctypes

_u8, _u16, _u32, _i32 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32


class Transport(ctypes.Structure):
    """ZEBTransport: one opened transport."""

    _pack_ = 1
    _fields_ = [
        ("Kind", _u16),
        ("Protocol", _u16),
        ("KeyMode", _u8),
        ("Reserved1", _u8 * 3),
        ("Key", ctypes.c_char * 60),
        ("SourceAddress", ctypes.c_void_p),
        ("Reserved2", _u8 * 48),
    ]


class Device(ctypes.Structure):
    """ZEBDevice: one module, opened or merely found."""

    _pack_ = 1
    _fields_ = [
        ("Address", _u8 * 20),
        ("Reserved1", _u8 * 6),
        ("Timeout", _u16),
        ("Retries", _u16),
        ("NodeAddress", _u8 * 6),
        ("ResendCount", _u16),
        ("CrcErrorCount", _u16),
        ("LateReplyCount", _u16),
        ("NoWait", _i32),
        ("ExtendedHeader", _i32),
        ("Broadcast", _i32),
        ("Socket", ctypes.c_size_t),
        ("DataOffset", _u16),
        ("Transport", ctypes.c_void_p),
        ("FromAddressSize", _u32),
        ("FromAddress", ctypes.c_void_p),
        ("Reserved2", _u8 * 4),
        ("LastSequence", _u16),
        ("Tunnel", _u8),
        ("TunnelBase", _u8),
        ("TunnelSlot", _u8),
        ("TunnelNode", _u8),
        ("Reserved3", _u8 * 44),
    ]


class SlotPoints(ctypes.Structure):
    """ZEBSlotPoints: one slot of the base with its point counts."""

    _pack_ = 1
    _fields_ = [
        ("Slot", _u8),
        ("Kind", _u8),
        ("Ident", _u8),
        ("Reserved", _u8),
        ("Count", _u8 * 6),
        ("At", _u16 * 6),
    ]


class Image(ctypes.Structure):
    """ZEBImage: a module's I/O image, its slots and the value of every point."""

    _pack_ = 1
    _fields_ = [
        ("SlotCount", _u16),
        ("ValueBytes", _u16),
        ("Slots", SlotPoints * 256),
        ("Values", _u8 * 2400),
    ]


class SerialSetup(ctypes.Structure):
    """ZEBSerialSetup: a serial port's line settings, 8 bytes in the module's layout."""

    _pack_ = 1
    _fields_ = [("Data", _u8 * 8)]


class FindData(ctypes.Structure):
    """ZEBFindData: one entry of a directory search, in the module's layout."""

    _pack_ = 1
    _fields_ = [
        ("Attributes", _u32),
        ("CreationTime", _u32 * 2),
        ("LastAccessTime", _u32 * 2),
        ("LastWriteTime", _u32 * 2),
        ("SizeHigh", _u32),
        ("SizeLow", _u32),
        ("ObjectId", _u32),
        ("FileName", _u16 * 260),
    ]


class SecurityAttributes(ctypes.Structure):
    """ZEBSecurityAttributes: SECURITY_ATTRIBUTES as the 32-bit module holds it."""

    _pack_ = 1
    _fields_ = [("Length", _u32), ("SecurityDescriptor", _u32), ("InheritHandle", _i32)]


_PTR = ctypes.sizeof(ctypes.c_void_p)
assert ctypes.sizeof(Transport) == 116 + _PTR
assert ctypes.sizeof(Device) == 114 + 3 * _PTR
assert ctypes.sizeof(SlotPoints) == 22
assert ctypes.sizeof(Image) == 8036
assert ctypes.sizeof(FindData) == 560
assert ctypes.sizeof(SecurityAttributes) == 12
