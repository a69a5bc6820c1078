"""Finds and loads the shared library, and declares the functions the binding calls."""
import ctypes
import ctypes.util
import os
import sys

from ._records import Device, Transport

_NAMES = {"win32": "zeb32_3.dll", "darwin": "libzeb32_3.dylib"}


def _candidates():
    """Where the library may be: ZEB_LIBRARY, beside this package, a build tree, the system."""
    name = _NAMES.get(sys.platform, "libzeb32_3.so")
    explicit = os.environ.get("ZEB_LIBRARY")
    if explicit:
        yield explicit
    here = os.path.dirname(os.path.abspath(__file__))
    yield os.path.join(here, name)
    tree = os.path.dirname(os.path.dirname(here))
    for preset in ("release", "sanitize"):
        yield os.path.join(tree, "build", preset, "lib", name)
    found = ctypes.util.find_library("zeb32_3")
    if found:
        yield found
    yield name


def _load():
    errors = []
    for path in _candidates():
        if os.sep in path and not os.path.exists(path):
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            errors.append(f"{path}: {e}")
    raise OSError("the zeb32_3 library was not found (set ZEB_LIBRARY): " + "; ".join(errors))


lib = _load()

_u8p = ctypes.POINTER(ctypes.c_uint8)
_u16p = ctypes.POINTER(ctypes.c_uint16)
_dev = ctypes.POINTER(Device)
_tr = ctypes.POINTER(Transport)
_u16, _u32, _i32 = ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32

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
    "ZEBReadSetupData": [_dev, _u16, _u8p, _u16p],
    "ZEBWriteSetupData": [_dev, _u16, _u8p, _u32],
    "ZEBDeleteSetupData": [_dev, _u16],
    "ZEBEnumSetupData": [_dev, _u16p, _u16p],
    "ZEBReadConfigData": [_dev, _u8p, _u16p],
    "ZEBWriteConfigData": [_dev, _u8p, _u32, _u8p, _u16p],
    "ZEBReadMemory": [_dev, _u16, _u32, _u32, _u8p],
    "ZEBWriteMemory": [_dev, _u16, _u32, _u32, _u8p],
    "ZEBPetDevice": [_dev],
}

for _name, _args in _SIGNATURES.items():
    _f = getattr(lib, _name)
    _f.argtypes = _args
    _f.restype = _u32

# Optional exports: present in newer builds of the library.
result_text = getattr(lib, "ZEBResultText", None)
if result_text is not None:
    result_text.argtypes = [_u32, ctypes.c_char_p, _u32]
    result_text.restype = _u32


def optional(name, argtypes, restype=_u32):
    """A function of the library that older builds may lack, or None."""
    f = getattr(lib, name, None)
    if f is not None:
        f.argtypes = argtypes
        f.restype = restype
    return f
