"""Python access to Ethernet-attached I/O modules through the zeb32_3 library.

    import zeb
    with zeb.Transport(local="127.0.0.1") as t:
        for module in t.discover():
            with t.open(module) as dev:
                print(module.address, dev.read_io().hex())

Every failure raises ZebError, which carries the library's result code and its text.
"""
import ctypes
import ipaddress
import struct

from . import _library
from ._library import lib
from ._records import Device as _DeviceRecord
from ._records import Transport as _TransportRecord

__all__ = ["Transport", "Module", "Device", "ZebError", "result_text", "API_VERSION",
           "MODULE_PORT", "RETRIED"]

API_VERSION = 3
MODULE_PORT = 0x7070
RETRIED = 0x2000
_WINSOCK, _PROTOCOL_IP, _PROTOCOL_IPX = 4, 3, 2
_QUERY_BY_NUMBER, _QUERY_BY_NAME = 0x20, 0x16  # the setup record types of number and name
_EXTENDED_FORMAT = 0xB1  # an I/O buffer that begins with it asks for the extended item format

# The library's texts, for a library too old to give them (ZEBResultText); a test keeps the two
# alike (tests/vocab).
_NAMES = {
    0x2000: ("ZEBWARN_RETRIED", "success after re-sends"),
    0x8001: ("ZEBERR_BAD_VERSION", "the version argument is not 3"),
    0x8002: ("ZEBERR_BAD_TRANSPORT", "unknown transport kind"),
    0x8003: ("ZEBERR_BAD_DEVICE",
             "no device, a bad header size, or a serial device whose port is not open"),
    0x8004: ("ZEBERR_BUFFER_TOO_SMALL", "the data was cut to fit the caller's buffer"),
    0x8005: ("ZEBERR_NO_DATA", "the reply carried no data"),
    0x8006: ("ZEBERR_TIMEOUT", "no reply, after every re-send"),
    0x8007: ("ZEBERR_BAD_PROTOCOL", "the transport's protocol is neither IPX nor IP"),
    0x8008: ("ZEBERR_NEEDS_BROADCAST", "the module can be reached by broadcast only"),
    0x8009: ("ZEBERR_NULL_TRANSPORT", "no transport given"),
    0x800D: ("ZEBERR_BAD_CRC", "the reply's CRC is wrong"),
    0x8010: ("ZEBERR_BAD_PARAMETER",
             "an argument is out of range, or the reply does not fit the request"),
    0x8011: ("ZEBERR_NO_PACKET", "no reply is waiting yet"),
    0x8012: ("ZEBERR_MISMATCHED_REPLY", "the reply does not answer the request"),
    0x8013: ("ZEBERR_PACKET_TOO_LARGE", "the request is too large; nothing was sent"),
}


def result_text(code):
    """The library's text for a result code."""
    code &= 0xFFFFFFFF
    if _library.result_text is not None:
        buf = ctypes.create_string_buffer(256)
        _library.result_text(code, buf, len(buf))
        return buf.value.decode("latin-1")
    name, text = _NAMES.get(code, (f"0x{code:X}", "result"))
    return f"{name}: {text}"


class ZebError(Exception):
    """A call of the library failed; `code` is its 32-bit result."""

    def __init__(self, code, operation=""):
        self.code = code & 0xFFFFFFFF
        self.operation = operation
        self.text = result_text(self.code)
        where = f"{operation}: " if operation else ""
        super().__init__(f"{where}{self.text} (0x{self.code:X})")


def _check(result, operation, allowed=()):
    if result in (0, RETRIED) or result in allowed:
        return result
    raise ZebError(result, operation)


def _socket_address(ip, port):
    """The library's IPv4 socket address: family 2, port and address in network order."""
    packed = ipaddress.IPv4Address(ip).packed
    return struct.pack("<H", 2) + struct.pack(">H", port) + packed + bytes(8)


def _bytes_buffer(data):
    return (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(bytes(data) or b"\0")


class Module:
    """A module that answered discovery: its address, hardware address and broadcast flag."""

    def __init__(self, record):
        self._record = bytes(record)
        raw = bytes(_DeviceRecord.from_buffer_copy(self._record).Address)
        self.address = str(ipaddress.IPv4Address(raw[4:8]))
        self.port = struct.unpack(">H", raw[2:4])[0]
        self.hardware_address = ":".join(
            f"{b:02x}" for b in _DeviceRecord.from_buffer_copy(self._record).NodeAddress)
        self.broadcast_only = bool(raw[19])

    def __repr__(self):
        return f"Module({self.address}, {self.hardware_address})"


class Transport:
    """The UDP/IP transport, bound to `local` (an IPv4 address) when given."""

    def __init__(self, local=None):
        _check(lib.ZEBOpen(API_VERSION), "ZEBOpen")
        self._record = _TransportRecord()
        self._record.Kind = _WINSOCK
        self._record.Protocol = _PROTOCOL_IP
        self._source = None
        if local is not None:
            self._source = ctypes.create_string_buffer(_socket_address(local, 0), 16)
        _check(lib.ZEBOpenTransport(ctypes.byref(self._record), API_VERSION, self._source),
               "ZEBOpenTransport")
        self._open = True

    def close(self):
        if self._open:
            lib.ZEBCloseTransport(ctypes.byref(self._record))
            self._open = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def discover(self, number=None, name=None, capacity=64, timeout_ms=None):
        """Every module that answers the broadcast query (optionally by number or by name)."""
        if timeout_ms is not None:
            lib.ZEBSetQueryTimeout(timeout_ms)
        records = (_DeviceRecord * capacity)()
        count = ctypes.c_uint16(capacity)
        if number is not None:
            data = struct.pack("<I", number)
            r = lib.ZEBQueryDeviceData(ctypes.byref(self._record), records, ctypes.byref(count),
                                       API_VERSION, _QUERY_BY_NUMBER, data, len(data))
        elif name is not None:
            data = name.encode("latin-1")[:20].ljust(20, b"\0")
            r = lib.ZEBQueryDeviceData(ctypes.byref(self._record), records, ctypes.byref(count),
                                       API_VERSION, _QUERY_BY_NAME, data, len(data))
        else:
            r = lib.ZEBQueryDevices(ctypes.byref(self._record), records, ctypes.byref(count),
                                    API_VERSION)
        _check(r, "discover", allowed=(0x8004,))
        found = [Module(bytes(records[i])) for i in range(min(count.value, capacity))]
        return sorted(found, key=lambda m: ipaddress.IPv4Address(m.address))

    def open(self, module, timeout_ms=200, retries=2):
        """Opens a device on a Module or an IPv4 address text."""
        record = _DeviceRecord()
        if isinstance(module, Module):
            ctypes.memmove(ctypes.byref(record), module._record, ctypes.sizeof(record))
        else:
            raw = _socket_address(str(module), MODULE_PORT)
            ctypes.memmove(record.Address, raw, len(raw))
        _check(lib.ZEBOpenDevice(ctypes.byref(self._record), ctypes.byref(record), API_VERSION,
                                 timeout_ms, retries, 0), "ZEBOpenDevice")
        return Device(record, self)


class Device:
    """An opened module. Use it in a `with` block, or call close()."""

    _IO_CAPACITY = 1400

    def __init__(self, record, transport):
        self._record = record
        self._transport = transport  # kept alive while the device is open
        self._open = True

    def close(self):
        if self._open:
            lib.ZEBCloseDevice(ctypes.byref(self._record))
            self._open = False

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def counters(self):
        """Re-sends, CRC errors and late replies counted on this device."""
        r = self._record
        return {"resends": r.ResendCount, "crc_errors": r.CrcErrorCount,
                "late_replies": r.LateReplyCount}

    def _ref(self):
        if not self._open:
            raise ZebError(0x8003, "device is closed")
        return ctypes.byref(self._record)

    def _sized(self, name, call, capacity, head=b""):
        buf = (ctypes.c_uint8 * capacity)(*head)
        size = ctypes.c_uint16(capacity)
        _check(call(buf, ctypes.byref(size)), name)
        return bytes(buf[: min(size.value, capacity)])

    def device_definition(self):
        buf = (ctypes.c_uint8 * 42)()
        _check(lib.ZEBReadDeviceDef(self._ref(), buf, 42), "ZEBReadDeviceDef")
        return bytes(buf)

    def version_info(self):
        buf = (ctypes.c_uint8 * 191)()
        _check(lib.ZEBReadVersionInfo(self._ref(), buf, 191), "ZEBReadVersionInfo")
        return bytes(buf)

    def base_definition(self):
        return self._sized("ZEBReadBaseDef", lambda b, s: lib.ZEBReadBaseDef(self._ref(), b, s),
                           self._IO_CAPACITY)

    def read_io(self, extended=False):
        """The module's input stream (the extended item format when asked for)."""
        head = bytes([_EXTENDED_FORMAT, 0]) if extended else b""
        return self._sized("ZEBReadIO", lambda b, s: lib.ZEBReadIO(self._ref(), b, s),
                           self._IO_CAPACITY, head)

    def write_io(self, outputs, extended=False):
        """Writes an output stream; returns the input stream that came back."""
        data = _bytes_buffer(outputs)
        head = bytes([_EXTENDED_FORMAT, 0]) if extended else b""
        return self._sized(
            "ZEBWriteIO",
            lambda b, s: lib.ZEBWriteIO(self._ref(), data, len(outputs), b, s),
            self._IO_CAPACITY, head)

    def setup_types(self):
        types = (ctypes.c_uint16 * 256)()
        count = ctypes.c_uint16(256)
        _check(lib.ZEBEnumSetupData(self._ref(), types, ctypes.byref(count)), "ZEBEnumSetupData")
        return list(types[: min(count.value, 256)])

    def read_setup(self, record_type, capacity=1024):
        return self._sized(
            "ZEBReadSetupData",
            lambda b, s: lib.ZEBReadSetupData(self._ref(), record_type, b, s), capacity)

    def write_setup(self, record_type, data):
        _check(lib.ZEBWriteSetupData(self._ref(), record_type, _bytes_buffer(data), len(data)),
               "ZEBWriteSetupData")

    def delete_setup(self, record_type):
        _check(lib.ZEBDeleteSetupData(self._ref(), record_type), "ZEBDeleteSetupData")

    def read_config(self):
        return self._sized("ZEBReadConfigData",
                           lambda b, s: lib.ZEBReadConfigData(self._ref(), b, s),
                           self._IO_CAPACITY)

    def write_config(self, data):
        return self._sized(
            "ZEBWriteConfigData",
            lambda b, s: lib.ZEBWriteConfigData(self._ref(), _bytes_buffer(data), len(data), b, s),
            self._IO_CAPACITY)

    def read_memory(self, memory_type, address, count):
        buf = (ctypes.c_uint8 * max(count, 1))()
        _check(lib.ZEBReadMemory(self._ref(), memory_type, address, count, buf), "ZEBReadMemory")
        return bytes(buf[:count])

    def write_memory(self, memory_type, address, data):
        _check(lib.ZEBWriteMemory(self._ref(), memory_type, address, len(data),
                                  _bytes_buffer(data)), "ZEBWriteMemory")

    def pet(self):
        _check(lib.ZEBPetDevice(self._ref()), "ZEBPetDevice")

    @property
    def files(self):
        """The files and directories of a controller module."""
        from ._files import Files

        return Files(self)
