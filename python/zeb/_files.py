"""Files and directories of a controller module, carried out by the module for the host."""
import ctypes
import struct

from . import ZebError, _check
from ._library import optional
from ._records import Device as _DeviceRecord

_dev = ctypes.POINTER(_DeviceRecord)
_u8p = ctypes.POINTER(ctypes.c_uint8)
_u32p = ctypes.POINTER(ctypes.c_uint32)
_u32, _str = ctypes.c_uint32, ctypes.c_char_p

_F = {
    "XCPUCreateFile": [_dev, _str, _u32, _u32, _u32, _u32, _u32p],
    "XCPUReadFile": [_dev, _u32, _u8p, _u32, _u32p, _u32p],
    "XCPUWriteFile": [_dev, _u32, _u8p, _u32, _u32p, _u32p],
    "XCPUCloseHandle": [_dev, _u32, _u32p],
    "XCPUFindFirstFile": [_dev, _str, _u8p, _u32p],
    "XCPUFindNextFile": [_dev, _u32, _u8p, _u32p],
    "XCPUFindClose": [_dev, _u32, _u32p],
    "XCPUDeleteFile": [_dev, _str, _u32p],
    "XCPUCreateDirectory": [_dev, _str, _u8p, _u32p],
    "XCPURemoveDirectory": [_dev, _str, _u32p],
    "XCPUGetLastError": [_dev, _u32p],
}
_fn = {name: optional(name, args) for name, args in _F.items()}

GENERIC_READ, GENERIC_WRITE = 0x80000000, 0x40000000
CREATE_ALWAYS, OPEN_EXISTING = 2, 3
_INVALID_HANDLE = 0xFFFFFFFF
_FIND_RECORD = 560
_SECURITY_ATTRIBUTES = 12  # record sizes as zeb.h gives them (ZEBFindData, ZEBSecurityAttributes)
_READ_CHUNK = 1024  # well inside what one read or write carries with either header size
_WRITE_CHUNK = 1024


class Files:
    """`dev.files.read(path)`, `.write(path, data)`, `.list(pattern)`, `.delete(path)`,
    `.mkdir(path)`, `.rmdir(path)`. A failure the module reports raises ZebError with the
    module's last-error number as its code."""

    def __init__(self, device):
        if _fn["XCPUCreateFile"] is None:
            raise ZebError(0x8003, "this build of the library has no controller services")
        self._device = device

    def _call(self, name, *args):
        out = ctypes.c_uint32(0)
        _check(_fn[name](self._device._ref(), *args, ctypes.byref(out)), name)
        return out.value

    def _remote_failure(self, operation):
        last = ctypes.c_uint32(0)
        _check(_fn["XCPUGetLastError"](self._device._ref(), ctypes.byref(last)),
               "XCPUGetLastError")
        return ZebError(last.value, operation)

    def _open(self, path, access, creation):
        handle = self._call("XCPUCreateFile", path.encode("latin-1"), access, 0, creation, 0)
        if handle == _INVALID_HANDLE:
            raise self._remote_failure(f"open {path}")
        return handle

    def _close(self, handle):
        self._call("XCPUCloseHandle", handle)

    def read(self, path):
        handle = self._open(path, GENERIC_READ, OPEN_EXISTING)
        try:
            data = bytearray()
            buf = (ctypes.c_uint8 * _READ_CHUNK)()
            while True:
                got = ctypes.c_uint32(0)
                ok = ctypes.c_uint32(0)
                _check(_fn["XCPUReadFile"](self._device._ref(), handle, buf, _READ_CHUNK,
                                           ctypes.byref(got), ctypes.byref(ok)), "XCPUReadFile")
                if not ok.value:
                    raise self._remote_failure(f"read {path}")
                if got.value == 0:
                    return bytes(data)
                data += bytes(buf[: min(got.value, _READ_CHUNK)])
        finally:
            self._close(handle)

    def write(self, path, data):
        handle = self._open(path, GENERIC_WRITE, CREATE_ALWAYS)
        try:
            data = bytes(data)
            for at in range(0, len(data), _WRITE_CHUNK):
                chunk = data[at: at + _WRITE_CHUNK]
                buf = (ctypes.c_uint8 * len(chunk)).from_buffer_copy(chunk)
                written = ctypes.c_uint32(0)
                ok = ctypes.c_uint32(0)
                _check(_fn["XCPUWriteFile"](self._device._ref(), handle, buf, len(chunk),
                                            ctypes.byref(written), ctypes.byref(ok)),
                       "XCPUWriteFile")
                if not ok.value or written.value != len(chunk):
                    raise self._remote_failure(f"write {path}")
        finally:
            self._close(handle)

    def list(self, pattern="*"):
        """(name, size, attributes) of every entry that matches the pattern."""
        record = (ctypes.c_uint8 * _FIND_RECORD)()
        find = self._call("XCPUFindFirstFile", pattern.encode("latin-1"), record)
        if find == _INVALID_HANDLE:
            return []
        entries = []
        try:
            while True:
                entries.append(_entry(bytes(record)))
                if not self._call("XCPUFindNextFile", find, record):
                    return entries
        finally:
            self._call("XCPUFindClose", find)

    def delete(self, path):
        if not self._call("XCPUDeleteFile", path.encode("latin-1")):
            raise self._remote_failure(f"delete {path}")

    def mkdir(self, path):
        security = (ctypes.c_uint8 * _SECURITY_ATTRIBUTES)()
        if not self._call("XCPUCreateDirectory", path.encode("latin-1"), security):
            raise self._remote_failure(f"mkdir {path}")

    def rmdir(self, path):
        if not self._call("XCPURemoveDirectory", path.encode("latin-1")):
            raise self._remote_failure(f"rmdir {path}")


def _entry(record):
    attributes, = struct.unpack_from("<I", record, 0)
    high, low = struct.unpack_from("<II", record, 28)
    name = record[40:560].decode("utf-16-le", "replace").split("\0", 1)[0]
    return name, (high << 32) | low, attributes
