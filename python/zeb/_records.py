"""The library's byte-packed records, laid out as zeb.h declares them."""
import ctypes

_u8, _u16, _u32, _i32 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32


class Transport(ctypes.Structure):
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


_PTR = ctypes.sizeof(ctypes.c_void_p)
assert ctypes.sizeof(Transport) == 116 + _PTR
assert ctypes.sizeof(Device) == 114 + 3 * _PTR
