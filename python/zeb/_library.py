"""Finds and loads the shared library, and declares the functions the binding calls.

The library is loaded on first use, from the first of: the path given to load_library(), the
ZEB_LIBRARY environment variable, beside this package, the build tree this package sits in,
the system's library path.
"""
import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Any, Callable, Iterator, List, Optional

from . import _records as R

_NAMES = {"win32": "zeb32_3.dll", "darwin": "libzeb32_3.dylib"}

_dev = ctypes.POINTER(R.Device)
_devp = ctypes.POINTER(_dev)
_tr = ctypes.POINTER(R.Transport)
_img = ctypes.POINTER(R.Image)
_setup = ctypes.POINTER(R.SerialSetup)
_find = ctypes.POINTER(R.FindData)
_sec = ctypes.POINTER(R.SecurityAttributes)
_u8p = ctypes.POINTER(ctypes.c_uint8)
_u8pp = ctypes.POINTER(_u8p)
_u16p = ctypes.POINTER(ctypes.c_uint16)
_u32p = ctypes.POINTER(ctypes.c_uint32)
_i32p = ctypes.POINTER(ctypes.c_int32)
_u8, _u16, _u32, _i32 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32
_str = ctypes.c_char_p

# Every function the binding calls: its arguments, and its result type (32 bits unsigned for
# the ZEB family, signed for the XCPU family).
_SIGNATURES = {
    "ZEBOpen": [_u16],
    "ZEBClose": [],
    "ZEBOpenTransport": [_tr, _u16, ctypes.c_void_p],
    "ZEBCloseTransport": [_tr],
    "ZEBOpenDevice": [_tr, _dev, _u16, _u16, _u16, _i32],
    "ZEBCloseDevice": [_dev],
    "ZEBQueryDevices": [_tr, _dev, _u16p, _u16],
    "ZEBQueryDeviceData": [_tr, _dev, _u16p, _u16, _u16, ctypes.c_void_p, _u16],
    "ZEBSetQueryTimeout": [_u32],
    "ZEBGetQueryTimeout": [],
    "ZEBReadVersionInfo": [_dev, _u8p, _u32],
    "ZEBReadDeviceDef": [_dev, _u8p, _u32],
    "ZEBReadBaseDef": [_dev, _u8p, _u16p],
    "ZEBReadIO": [_dev, _u8p, _u16p],
    "ZEBWriteIO": [_dev, _u8p, _u32, _u8p, _u16p],
    "ZEBReadIOEx": [_devp, _u8pp, _u16p, _u32p, _i32],
    "ZEBWriteIOEx": [_devp, _u8pp, _u16p, _u8pp, _u16p, _u32p, _i32],
    "ZEBReadSetupData": [_dev, _u16, _u8p, _u16p],
    "ZEBWriteSetupData": [_dev, _u16, _u8p, _u32],
    "ZEBDeleteSetupData": [_dev, _u16],
    "ZEBEnumSetupData": [_dev, _u16p, _u16p],
    "ZEBReadConfigData": [_dev, _u8p, _u16p],
    "ZEBWriteConfigData": [_dev, _u8p, _u32, _u8p, _u16p],
    "ZEBReadMemory": [_dev, _u16, _u32, _u32, _u8p],
    "ZEBWriteMemory": [_dev, _u16, _u32, _u32, _u8p],
    "ZEBPetDevice": [_dev],
    "ZEBCCMRequest": [_dev, _i32, _u32, _u32, _u32, _u8p],
    "ZEBKSEQRequest": [_dev, _u32, _u8p, _u16p],
    "ZEBWriteComm": [_dev, _u32, _u8p],
    "ZEBReadComm": [_dev, _u16p, _u8p],
    "ZEBGetRXAvailable": [_dev, _u16p],
    "ZEBFlushRXQueue": [_dev],
    "ZEBSetupSerialPort": [_dev, _setup, _i32],
    "ZEBReadSerialPortSetup": [_dev, _setup],
    "ZEBGetTXLeft": [_dev, _u16p],
    "ZEBAccessComm": [_dev, _u32, _u8p, _u16p, _u8p],
    "ZEBWriteCommEx": [_dev, _u32, _u32, _u8p],
    "ZEBReadCommEx": [_dev, _u32, _u16p, _u8p],
    "ZEBGetRXAvailableEx": [_dev, _u32, _u16p],
    "ZEBFlushRXQueueEx": [_dev, _u32],
    "ZEBFlushTXQueueEx": [_dev, _u32],
    "ZEBSetupSerialPortEx": [_dev, _u32, _setup, _i32],
    "ZEBReadSerialPortSetupEx": [_dev, _u32, _setup],
    "ZEBGetTXLeftEx": [_dev, _u32, _u16p],
    "ZEBImageFromBaseDef": [_img, _u8p, _u16],
    "ZEBReadImageLayout": [_dev, _img],
    "ZEBDecodeStream": [_img, _u8p, _u16],
    "ZEBEncodeOutputs": [_img, _u8p, _u16p],
    "ZEBReadInputs": [_dev, _img],
    "ZEBWriteOutputs": [_dev, _img],
    "ZEBGetPoint": [_img, _u8, _u8, _u16, _u32p],
    "ZEBGetPointSigned": [_img, _u8, _u8, _u16, _i32p],
    "ZEBSetPoint": [_img, _u8, _u8, _u16, _u32],
    "ZEBResultText": [_u32, _str, _u32],
}
_XCPU_SIGNATURES = {
    "XCPUGetLastError": [_dev, _u32p],
    "XCPUCreateFile": [_dev, _str, _u32, _u32, _u32, _u32, _u32p],
    "XCPUReadFile": [_dev, _u32, _u8p, _u32, _u32p, _u32p],
    "XCPUWriteFile": [_dev, _u32, _u8p, _u32, _u32p, _u32p],
    "XCPUCloseHandle": [_dev, _u32, _u32p],
    "XCPUFindFirstFile": [_dev, _str, _find, _u32p],
    "XCPUFindNextFile": [_dev, _u32, _find, _u32p],
    "XCPUFindClose": [_dev, _u32, _u32p],
    "XCPUDeleteFile": [_dev, _str, _u32p],
    "XCPUCreateDirectory": [_dev, _str, _sec, _u32p],
    "XCPURemoveDirectory": [_dev, _str, _u32p],
    "XCPUGetFileAttributes": [_dev, _str, _u32p],
    "XCPUSetFileAttributes": [_dev, _str, _u32, _u32p],
}
# Functions that a build of the library may lack; they are None there.
_OPTIONAL = {
    "ZEBGetTransportError": ([_dev], _u32),
    "ZEBSetTrace": ([_i32], _i32),
}


def _candidates(explicit: Optional[str]) -> Iterator[str]:
    name = _NAMES.get(sys.platform, "libzeb32_3.so")
    if explicit:
        yield explicit
        return
    from_env = os.environ.get("ZEB_LIBRARY")
    if from_env:
        yield from_env
        return
    here = os.path.dirname(os.path.abspath(__file__))
    yield os.path.join(here, name)
    tree = os.path.dirname(os.path.dirname(here))
    if os.path.exists(os.path.join(tree, "lib", "zeb.h")):  # imported from the source tree
        for preset in ("release", "sanitize"):
            yield os.path.join(tree, "build", preset, "lib", name)
    found = ctypes.util.find_library("zeb32_3")
    if found:
        yield found
    yield name


def _declare(cdll: ctypes.CDLL) -> None:
    for table, restype in ((_SIGNATURES, _u32), (_XCPU_SIGNATURES, _i32)):
        for fname, args in table.items():
            f = getattr(cdll, fname)
            f.argtypes = args
            f.restype = restype
    for fname, (args, restype) in _OPTIONAL.items():
        f = getattr(cdll, fname, None)
        if f is not None:
            f.argtypes = args
            f.restype = restype


class _Library:
    """The loaded library, whose functions are its attributes; loaded on first use."""

    def __init__(self) -> None:
        self._cdll: Optional[ctypes.CDLL] = None
        self._lock = threading.Lock()
        self.path: Optional[str] = None

    def load(self, path: Optional[str] = None) -> ctypes.CDLL:
        with self._lock:
            if self._cdll is not None:
                if path is not None and os.path.abspath(path) != self.path:
                    raise RuntimeError(f"the zeb32_3 library is already loaded from {self.path}")
                return self._cdll
            errors: List[str] = []
            for candidate in _candidates(path):
                if os.sep in candidate and not os.path.exists(candidate):
                    errors.append(f"{candidate}: no such file")
                    continue
                try:
                    cdll = ctypes.CDLL(candidate)
                    _declare(cdll)
                except (OSError, AttributeError) as e:
                    errors.append(f"{candidate}: {e}")
                    continue
                self._cdll = cdll
                self.path = os.path.abspath(candidate) if os.sep in candidate else candidate
                return cdll
            raise OSError("the zeb32_3 library was not found (set ZEB_LIBRARY, or call "
                          "zeb.load_library(path)): " + "; ".join(errors))

    def optional(self, name: str) -> Optional[Callable[..., Any]]:
        """A function that older builds of the library lack, or None."""
        if name not in _OPTIONAL:
            raise KeyError(name)
        return getattr(self.load(), name, None)

    def __getattr__(self, name: str) -> Any:
        # Reached only for names not set on the instance: the library's functions.
        if name.startswith("_"):
            raise AttributeError(name)
        f = getattr(self.load(), name)
        setattr(self, name, f)
        return f


lib = _Library()
