"""Python access to Ethernet-attached I/O modules through the zeb32_3 library.

    import zeb
    with zeb.Transport(local="127.0.0.1") as t:      # or set ZEB_LOCAL
        with t.open("press-line") as dev:             # an address, "#1", a name, a MAC
            inputs = dev.read_inputs()
            print(inputs[0].bits[:4], inputs[4].words.signed[1])
            dev.outputs[3].bits[6] = 1                # this host's output image
            dev.write_outputs()                       # the other outputs as last written

Modules: Transport.discover() lists them with their name, number and kind; Transport.open()
takes a Module or a reference as zeb reads it. Points: Device.read_inputs() and
Device.outputs are Images by slot, with `bits`, `words` and `dwords`; the raw I/O streams stay
at Device.read_io() and Device.write_io(). Also bound: setup and configuration data, memory,
the controller requests (Device.ccm_read(), Device.kseq()), the module's serial ports
(Device.serial()), a controller module's files (Device.files), and the I/O of many modules at
once (read_inputs_many() and friends).

Every failure raises ZebError, which carries the library's result code and its text; its
kinds are ZebTimeout, ModuleRefused (with the module's status word), TransportError (with the
Winsock or system error number) and RemoteFailure (a controller module's function failed).
"""
from typing import Optional

from ._constants import (API_VERSION, BIT_IN, BIT_OUT, DWORD_IN, DWORD_OUT, MODULE_PORT,
                         RETRIED, WORD_IN, WORD_OUT)
from ._device import Device, kind_name
from ._errors import (ModuleAmbiguous, ModuleNotFound, ModuleRefused, RemoteFailure,
                      TransportError, ZebError, ZebTimeout, result_text)
from ._files import (ATTRIBUTE_ARCHIVE, ATTRIBUTE_DIRECTORY, ATTRIBUTE_HIDDEN,
                     ATTRIBUTE_NORMAL, ATTRIBUTE_READONLY, ATTRIBUTE_SYSTEM, FileEntry, Files)
from ._library import lib as _lib
from ._parallel import (IOResult, read_inputs_many, read_io_many, write_io_many,
                        write_outputs_many)
from ._points import INPUTS, OUTPUTS, Image, Points, Slot
from ._serial import SerialPort, SerialSetup
from ._transport import Module, Reference, Transport

__all__ = [
    "Transport", "Module", "Reference", "Device", "Image", "Slot", "Points", "INPUTS", "OUTPUTS",
    "Files", "FileEntry", "SerialPort", "SerialSetup", "IOResult", "read_io_many",
    "write_io_many", "read_inputs_many", "write_outputs_many", "ZebError", "ZebTimeout",
    "ModuleRefused", "TransportError", "RemoteFailure", "ModuleNotFound", "ModuleAmbiguous",
    "result_text", "kind_name", "load_library", "library_path", "set_trace", "API_VERSION",
    "MODULE_PORT", "RETRIED", "BIT_IN", "BIT_OUT", "WORD_IN", "WORD_OUT", "DWORD_IN",
    "DWORD_OUT", "ATTRIBUTE_READONLY", "ATTRIBUTE_HIDDEN", "ATTRIBUTE_SYSTEM",
    "ATTRIBUTE_DIRECTORY", "ATTRIBUTE_ARCHIVE", "ATTRIBUTE_NORMAL",
]


def load_library(path: Optional[str] = None) -> str:
    """Loads the zeb32_3 library now, from `path` when given (else as on first use: the
    ZEB_LIBRARY environment variable, beside the package, the build tree, the system's
    library path), and returns the path it was loaded from. Raises OSError when it is not
    found, and RuntimeError when it is already loaded from another path."""
    _lib.load(path)
    return str(_lib.path)


def library_path() -> str:
    """The path the library is loaded from (loading it if needed)."""
    return load_library()


def set_trace(on: bool) -> bool:
    """Turns the library's trace of every frame sent and received (to standard error) on or
    off; returns whether it was on. Raises NotImplementedError for a library without it."""
    f = _lib.optional("ZEBSetTrace")
    if f is None:
        raise NotImplementedError("this build of the zeb32_3 library has no trace")
    return bool(f(1 if on else 0))
