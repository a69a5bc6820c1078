"""Files and directories of a controller module, carried out by the module for the host."""
import ctypes
import datetime
from typing import TYPE_CHECKING, List, NamedTuple, Optional

from . import _records as R
from ._errors import SIGNED, RemoteFailure
from ._library import lib

if TYPE_CHECKING:
    from ._device import Device

GENERIC_READ, GENERIC_WRITE = 0x80000000, 0x40000000
CREATE_ALWAYS, OPEN_EXISTING = 2, 3
# File attributes, as the module's Windows functions give them.
ATTRIBUTE_READONLY = 0x01
ATTRIBUTE_HIDDEN = 0x02
ATTRIBUTE_SYSTEM = 0x04
ATTRIBUTE_DIRECTORY = 0x10
ATTRIBUTE_ARCHIVE = 0x20
ATTRIBUTE_NORMAL = 0x80
_INVALID_HANDLE = 0xFFFFFFFF
_INVALID_ATTRIBUTES = 0xFFFFFFFF
_FILE_NOT_FOUND, _NO_MORE_FILES = 2, 18  # a search that matched nothing
_FIND_RECORD = 560
_SECURITY_ATTRIBUTES = 12  # record sizes as zeb.h gives them (ZEBFindData, ZEBSecurityAttributes)
_READ_CHUNK = 1024  # well inside what one read or write carries with either header size
_WRITE_CHUNK = 1024
_FILETIME_EPOCH = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)


def filetime(value: int) -> Optional[datetime.datetime]:
    """A FILETIME (100-ns intervals since 1601, UTC) as an aware datetime in UTC; None for 0
    (no time) and for a value past the year 9999."""
    if value == 0:
        return None
    try:
        return _FILETIME_EPOCH + datetime.timedelta(microseconds=value // 10)
    except OverflowError:
        return None


class FileEntry(NamedTuple):
    """One entry of a directory listing, decoded from the module's find record.

    Times are aware datetimes in UTC, or None where the module gives none.
    """

    name: str
    """The entry's name, without its directory."""
    size: int
    """Its size in bytes (0 for a directory)."""
    attributes: int
    """Its attribute bits (ATTRIBUTE_READONLY, ATTRIBUTE_DIRECTORY, ...)."""
    created: Optional[datetime.datetime]
    """When it was created."""
    accessed: Optional[datetime.datetime]
    """When it was last read or written."""
    modified: Optional[datetime.datetime]
    """When it was last written."""

    @property
    def is_directory(self) -> bool:
        """Whether the entry is a directory."""
        return bool(self.attributes & ATTRIBUTE_DIRECTORY)

    @property
    def is_read_only(self) -> bool:
        """Whether the entry is read-only."""
        return bool(self.attributes & ATTRIBUTE_READONLY)

    @property
    def is_hidden(self) -> bool:
        """Whether the entry is hidden."""
        return bool(self.attributes & ATTRIBUTE_HIDDEN)

    @classmethod
    def from_record(cls, record: R.FindData) -> "FileEntry":
        """Decodes a find record (ZEBFindData)."""
        def time(pair: "ctypes.Array[ctypes.c_uint32]") -> Optional[datetime.datetime]:
            return filetime(pair[1] << 32 | pair[0])

        name = bytes(record.FileName).decode("utf-16-le", "replace").split("\0", 1)[0]
        return cls(name=name, size=record.SizeHigh << 32 | record.SizeLow,
                   attributes=int(record.Attributes), created=time(record.CreationTime),
                   accessed=time(record.LastAccessTime), modified=time(record.LastWriteTime))


class Files:
    """The files and directories of a controller module: `dev.files.read(path)`,
    `.write(path, data)`, `.list(path)`, `.delete(path)`, `.mkdir(path)`, `.rmdir(path)`,
    `.attributes(path)`, `.set_attributes(path, bits)`.

    Paths are the module's, with '\\' (or '/', where the module takes it) between names. A
    function the module carries out and that fails raises RemoteFailure with the module's
    last-error number; a failed exchange raises the ZebError of its kind.
    """

    def __init__(self, device: "Device") -> None:
        self._device = device

    def _call(self, name: str, *args: object) -> int:
        out = ctypes.c_uint32(0)
        result = getattr(lib, name)(self._device._ref(), *args, ctypes.byref(out))
        self._device._check(result & 0xFFFFFFFF, name, SIGNED)
        return out.value

    def _last_error(self) -> int:
        last = ctypes.c_uint32(0)
        result = lib.XCPUGetLastError(self._device._ref(), ctypes.byref(last))
        self._device._check(result & 0xFFFFFFFF, "XCPUGetLastError", SIGNED)
        return last.value

    def _remote_failure(self, operation: str) -> RemoteFailure:
        return RemoteFailure(self._last_error(), operation)

    def _open(self, path: str, access: int, creation: int) -> int:
        handle = self._call("XCPUCreateFile", path.encode("latin-1"), access, 0, creation, 0)
        if handle == _INVALID_HANDLE:
            raise self._remote_failure(f"open {path}")
        return handle

    def _close(self, handle: int) -> None:
        self._call("XCPUCloseHandle", handle)

    def read(self, path: str) -> bytes:
        """The whole file's bytes."""
        handle = self._open(path, GENERIC_READ, OPEN_EXISTING)
        try:
            data = bytearray()
            buf = (ctypes.c_uint8 * _READ_CHUNK)()
            while True:
                got = ctypes.c_uint32(0)
                ok = ctypes.c_uint32(0)
                result = lib.XCPUReadFile(self._device._ref(), handle, buf, _READ_CHUNK,
                                          ctypes.byref(got), ctypes.byref(ok))
                self._device._check(result & 0xFFFFFFFF, "XCPUReadFile", SIGNED)
                if not ok.value:
                    raise self._remote_failure(f"read {path}")
                if got.value == 0:
                    return bytes(data)
                data += bytes(buf[: min(got.value, _READ_CHUNK)])
        finally:
            self._close(handle)

    def write(self, path: str, data: bytes) -> None:
        """Creates or replaces the file with `data`."""
        handle = self._open(path, GENERIC_WRITE, CREATE_ALWAYS)
        try:
            data = bytes(data)
            for at in range(0, len(data), _WRITE_CHUNK):
                chunk = data[at: at + _WRITE_CHUNK]
                buf = (ctypes.c_uint8 * len(chunk)).from_buffer_copy(chunk)
                written = ctypes.c_uint32(0)
                ok = ctypes.c_uint32(0)
                result = lib.XCPUWriteFile(self._device._ref(), handle, buf, len(chunk),
                                           ctypes.byref(written), ctypes.byref(ok))
                self._device._check(result & 0xFFFFFFFF, "XCPUWriteFile", SIGNED)
                if not ok.value or written.value != len(chunk):
                    raise self._remote_failure(f"write {path}")
        finally:
            self._close(handle)

    def list(self, path: str = "") -> List[FileEntry]:
        """The entries of a directory ("" or "\\" for the root), or those that match a
        pattern with '*' or '?' in its last name. A directory or pattern that matches nothing
        gives []; a path that does not exist raises RemoteFailure."""
        pattern = path
        if not any(c in path for c in "*?"):
            pattern = path + ("*" if path == "" or path[-1] in "\\/" else "\\*")
        record = R.FindData()
        find = self._call("XCPUFindFirstFile", pattern.encode("latin-1"), ctypes.byref(record))
        if find == _INVALID_HANDLE:
            error = self._last_error()
            if error in (_FILE_NOT_FOUND, _NO_MORE_FILES):
                return []
            raise RemoteFailure(error, f"list {pattern}")
        entries = []
        try:
            while True:
                entries.append(FileEntry.from_record(record))
                if not self._call("XCPUFindNextFile", find, ctypes.byref(record)):
                    return entries
        finally:
            self._call("XCPUFindClose", find)

    def delete(self, path: str) -> None:
        """Deletes a file."""
        if not self._call("XCPUDeleteFile", path.encode("latin-1")):
            raise self._remote_failure(f"delete {path}")

    def mkdir(self, path: str) -> None:
        """Creates a directory."""
        security = R.SecurityAttributes(_SECURITY_ATTRIBUTES, 0, 0)
        if not self._call("XCPUCreateDirectory", path.encode("latin-1"),
                          ctypes.byref(security)):
            raise self._remote_failure(f"mkdir {path}")

    def rmdir(self, path: str) -> None:
        """Removes an empty directory."""
        if not self._call("XCPURemoveDirectory", path.encode("latin-1")):
            raise self._remote_failure(f"rmdir {path}")

    def attributes(self, path: str) -> int:
        """A file's or directory's attribute bits."""
        bits = self._call("XCPUGetFileAttributes", path.encode("latin-1"))
        if bits == _INVALID_ATTRIBUTES:
            raise self._remote_failure(f"attributes of {path}")
        return bits

    def set_attributes(self, path: str, attributes: int) -> None:
        """Sets a file's or directory's attribute bits (ATTRIBUTE_READONLY, ...)."""
        if not self._call("XCPUSetFileAttributes", path.encode("latin-1"), attributes):
            raise self._remote_failure(f"set attributes of {path}")
