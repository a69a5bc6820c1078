"""An opened module: its identity, I/O (as points and as raw streams), setup and
configuration data, memory, and the controller requests behind it."""
import ctypes
import warnings
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Optional

from . import _records as R
from ._constants import _BUFFER_TOO_SMALL, _EXTENDED_FORMAT, _QUERY_BY_NAME, _QUERY_BY_NUMBER
from ._errors import IO, SIGNED, ZebError, check, succeeded
from ._library import lib
from ._points import INPUTS, OUTPUTS, Image

if TYPE_CHECKING:
    from ._files import Files
    from ._serial import SerialPort
    from ._transport import Module, Transport

_KIND_NAMES = {0: "Qx-RIO", 6: "node"}
_DEVICE_DEF_SIZE = 42  # what readers of the kind ask for
_NO_KIND = 0xFF  # stands in for a byte that did not come: the read does not say how many did
_CONTROLLER_MAX = 256  # data bytes of one CCM or K-sequence request
_CONTROLLER_ANSWER = 307  # the most data one controller answer carries


def kind_name(kind: Optional[int]) -> Optional[str]:
    """A module kind (byte 2 of its device definition) as zeb names it: "Qx-RIO", "node" or
    "kind N"; None for an unknown kind."""
    if kind is None:
        return None
    return _KIND_NAMES.get(kind, f"kind {kind}")


def _buffer(data: bytes) -> "ctypes.Array[ctypes.c_uint8]":
    return (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(bytes(data) or b"\0")


class Device:
    """An opened module. Use it in a `with` block, or call close().

    Points: read_inputs() gives the inputs as an Image by slot and kind; `outputs` is this
    device's output image, which write_outputs() writes whole. The raw streams stay at
    read_io() and write_io().
    """

    _IO_CAPACITY = 1400

    def __init__(self, record: R.Device, transport: "Transport", address: str) -> None:
        self._record = record
        self._transport = transport  # kept alive while the device is open
        self._open = True
        self._layout: Optional[R.Image] = None
        self._outputs: Optional[Image] = None
        self.address = address
        """The module's address: a dotted quad."""

    def close(self) -> None:
        """Closes the device; further calls raise ZebError."""
        if self._open:
            lib.ZEBCloseDevice(ctypes.byref(self._record))
            self._open = False

    def __enter__(self) -> "Device":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"Device({self.address})"

    @property
    def hardware_address(self) -> str:
        """The module's hardware address as "02:52:53:00:00:01" (known after discovery; all
        zero for a module opened by its IP address alone)."""
        return ":".join(f"{b:02x}" for b in self._record.NodeAddress)

    @property
    def counters(self) -> Dict[str, int]:
        """Re-sends, CRC errors and late replies counted on this device."""
        r = self._record
        return {"resends": r.ResendCount, "crc_errors": r.CrcErrorCount,
                "late_replies": r.LateReplyCount}

    def _ref(self) -> Any:
        if not self._open:
            raise ZebError(0x8003, "device is closed")
        return ctypes.byref(self._record)

    def _check(self, result: int, operation: str, rule: Optional[str]) -> int:
        return check(result, operation, rule, self._record)

    def _sized(self, name: str, rule: Optional[str], call: Callable[[Any, Any], Any],
               capacity: int, head: bytes = b"") -> bytes:
        buf = (ctypes.c_uint8 * capacity)(*head)
        size = ctypes.c_uint16(capacity)
        self._check(call(buf, ctypes.byref(size)), name, rule)
        return bytes(buf[: min(size.value, capacity)])

    # ---- Identity ---------------------------------------------------------------------------

    def device_definition(self) -> bytes:
        """The module's device definition (42 bytes); byte 2 is its kind."""
        buf = (ctypes.c_uint8 * _DEVICE_DEF_SIZE)()
        self._check(lib.ZEBReadDeviceDef(self._ref(), buf, _DEVICE_DEF_SIZE), "ZEBReadDeviceDef",
                    None)
        return bytes(buf)

    def version_info(self) -> bytes:
        """The module's version block."""
        buf = (ctypes.c_uint8 * 191)()
        self._check(lib.ZEBReadVersionInfo(self._ref(), buf, 191), "ZEBReadVersionInfo", None)
        return bytes(buf)

    def identify(self) -> "Module":
        """The module with its name, number and kind read from it, as zeb shows them; a field
        the module does not give is None."""
        from ._transport import Module

        kind = name = number = None
        definition = (ctypes.c_uint8 * _DEVICE_DEF_SIZE)(*([_NO_KIND] * _DEVICE_DEF_SIZE))
        if lib.ZEBReadDeviceDef(self._ref(), definition, _DEVICE_DEF_SIZE) == 0 \
                and definition[2] != _NO_KIND:
            kind = int(definition[2])
        record = (ctypes.c_uint8 * 256)()
        size = ctypes.c_uint16(256)
        if succeeded(lib.ZEBReadSetupData(self._ref(), _QUERY_BY_NAME, record,
                                          ctypes.byref(size))):
            text = bytes(record[: min(size.value, 256)]).split(b"\0", 1)[0]
            name = text.decode("utf-8", "replace")
        size = ctypes.c_uint16(256)
        if succeeded(lib.ZEBReadSetupData(self._ref(), _QUERY_BY_NUMBER, record,
                                          ctypes.byref(size))) and 0 < size.value <= 4:
            number = int.from_bytes(bytes(record[: size.value]), "little")
        return Module(bytes(self._record), self.address, name=name, number=number, kind=kind)

    # ---- I/O as points ----------------------------------------------------------------------

    def _image_layout(self) -> R.Image:
        if self._layout is None:
            layout = R.Image()
            result = lib.ZEBReadImageLayout(self._ref(), ctypes.byref(layout))
            if result == _BUFFER_TOO_SMALL:
                warnings.warn(f"{self.address}: the base has more points than an image holds; "
                              "the slots that fit are laid out", RuntimeWarning, stacklevel=3)
            else:
                self._check(result, "ZEBReadImageLayout", None)
            self._layout = layout
        return self._layout

    @property
    def outputs(self) -> Image:
        """This device's output image, laid out from the module's base definition on first use
        with every output 0. Set points in it and call write_outputs(): outputs not set keep
        the values this Device object last wrote (or 0 before its first write)."""
        if self._outputs is None:
            record = R.Image.from_buffer_copy(self._image_layout())
            self._outputs = Image(record, OUTPUTS, writable=True)
        return self._outputs

    def read_inputs(self) -> Image:
        """The module's inputs by slot and kind: `dev.read_inputs()[3].bits[0]`
        (ZEBReadInputs)."""
        inputs = Image(R.Image.from_buffer_copy(self._image_layout()), INPUTS)
        self._check(lib.ZEBReadInputs(self._ref(), ctypes.byref(inputs._record)),
                    "ZEBReadInputs", IO)
        return inputs

    def write_outputs(self) -> Image:
        """Writes every output of `outputs` to the module (ZEBWriteOutputs), and returns the
        inputs it answers with."""
        outputs = self.outputs
        # The exchange takes the answer into the image it is given: a copy, so that the
        # outputs stay as this host wrote them whatever the module's stream carries.
        sent = outputs.copy()
        self._check(lib.ZEBWriteOutputs(self._ref(), ctypes.byref(sent._record)),
                    "ZEBWriteOutputs", IO)
        return Image(sent._record, INPUTS)

    # ---- I/O as raw streams -----------------------------------------------------------------

    def base_definition(self, extended: bool = False) -> bytes:
        """The module's base definition as it sends it (the extended item format when asked
        for)."""
        head = bytes([_EXTENDED_FORMAT, 0]) if extended else b""
        return self._sized("ZEBReadBaseDef", None,
                           lambda b, s: lib.ZEBReadBaseDef(self._ref(), b, s),
                           self._IO_CAPACITY, head)

    def read_io(self, extended: bool = False) -> bytes:
        """The module's input stream (the extended item format when asked for)."""
        head = bytes([_EXTENDED_FORMAT, 0]) if extended else b""
        return self._sized("ZEBReadIO", IO, lambda b, s: lib.ZEBReadIO(self._ref(), b, s),
                           self._IO_CAPACITY, head)

    def write_io(self, outputs: bytes, extended: bool = False) -> bytes:
        """Writes an output stream; returns the input stream that came back."""
        data = _buffer(outputs)
        head = bytes([_EXTENDED_FORMAT, 0]) if extended else b""
        return self._sized(
            "ZEBWriteIO", IO,
            lambda b, s: lib.ZEBWriteIO(self._ref(), data, len(outputs), b, s),
            self._IO_CAPACITY, head)

    # ---- Setup and configuration data -------------------------------------------------------

    def setup_types(self) -> List[int]:
        """The types of the module's setup records."""
        types = (ctypes.c_uint16 * 256)()
        count = ctypes.c_uint16(256)
        self._check(lib.ZEBEnumSetupData(self._ref(), types, ctypes.byref(count)),
                    "ZEBEnumSetupData", SIGNED)
        return list(types[: min(count.value, 256)])

    def read_setup(self, record_type: int, capacity: int = 1024) -> bytes:
        """One setup record's bytes. A record the module does not hold raises
        ModuleRefused."""
        return self._sized(
            "ZEBReadSetupData", SIGNED,
            lambda b, s: lib.ZEBReadSetupData(self._ref(), record_type, b, s), capacity)

    def write_setup(self, record_type: int, data: bytes) -> None:
        """Writes one setup record, replacing any record of that type."""
        self._check(lib.ZEBWriteSetupData(self._ref(), record_type, _buffer(data), len(data)),
                    "ZEBWriteSetupData", SIGNED)

    def delete_setup(self, record_type: int) -> None:
        """Deletes one setup record."""
        self._check(lib.ZEBDeleteSetupData(self._ref(), record_type), "ZEBDeleteSetupData",
                    SIGNED)

    def read_config(self) -> bytes:
        """The module's configuration block."""
        return self._sized("ZEBReadConfigData", IO,
                           lambda b, s: lib.ZEBReadConfigData(self._ref(), b, s),
                           self._IO_CAPACITY)

    def write_config(self, data: bytes) -> bytes:
        """Writes the configuration block; returns the block as the module then holds it."""
        return self._sized(
            "ZEBWriteConfigData", IO,
            lambda b, s: lib.ZEBWriteConfigData(self._ref(), _buffer(data), len(data), b, s),
            self._IO_CAPACITY)

    # ---- Memory and keep-alive --------------------------------------------------------------

    def read_memory(self, memory_type: int, address: int, count: int) -> bytes:
        """`count` bytes (at most 589) of typed memory from `address` on."""
        buf = (ctypes.c_uint8 * max(count, 1))()
        self._check(lib.ZEBReadMemory(self._ref(), memory_type, address, count, buf),
                    "ZEBReadMemory", SIGNED)
        return bytes(buf[:count])

    def write_memory(self, memory_type: int, address: int, data: bytes) -> None:
        """Writes bytes (at most 512) of typed memory from `address` on."""
        self._check(lib.ZEBWriteMemory(self._ref(), memory_type, address, len(data),
                                       _buffer(data)), "ZEBWriteMemory", SIGNED)

    def pet(self) -> None:
        """Sends a keep-alive; returns when the module answered."""
        self._check(lib.ZEBPetDevice(self._ref()), "ZEBPetDevice", None)

    # ---- Controller requests ----------------------------------------------------------------

    def ccm_read(self, data_type: int, address: int, count: int) -> bytes:
        """Reads `count` bytes (1 to 256) of a controller data area with a CCM request."""
        if not 1 <= count <= _CONTROLLER_MAX:
            raise ValueError(f"a CCM read takes 1 to {_CONTROLLER_MAX} bytes, not {count}")
        buf = (ctypes.c_uint8 * count)()
        self._check(lib.ZEBCCMRequest(self._ref(), 0, data_type, address, count, buf),
                    "ZEBCCMRequest", SIGNED)
        return bytes(buf)

    def ccm_write(self, data_type: int, address: int, data: bytes) -> bytes:
        """Writes bytes (1 to 256) into a controller data area with a CCM request; returns the
        answer bytes the module sends back."""
        if not 1 <= len(data) <= _CONTROLLER_MAX:
            raise ValueError(f"a CCM write takes 1 to {_CONTROLLER_MAX} bytes, not {len(data)}")
        buf = _buffer(data)
        self._check(lib.ZEBCCMRequest(self._ref(), 1, data_type, address, len(data), buf),
                    "ZEBCCMRequest", SIGNED)
        return bytes(buf[: len(data)])

    def kseq(self, message: bytes) -> bytes:
        """Sends a K-sequence message (1 to 256 bytes) to the controller; returns its answer."""
        if not 1 <= len(message) <= _CONTROLLER_MAX:
            raise ValueError(f"a K-sequence message has 1 to {_CONTROLLER_MAX} bytes, "
                             f"not {len(message)}")
        room = max(len(message), _CONTROLLER_ANSWER)
        buf = (ctypes.c_uint8 * room)(*message)
        size = ctypes.c_uint16(room)
        self._check(lib.ZEBKSEQRequest(self._ref(), len(message), buf, ctypes.byref(size)),
                    "ZEBKSEQRequest", SIGNED)
        return bytes(buf[: min(size.value, room)])

    # ---- What hangs off a device ------------------------------------------------------------

    @property
    def files(self) -> "Files":
        """The files and directories of a controller module."""
        from ._files import Files

        return Files(self)

    def serial(self, port: Optional[int] = None) -> "SerialPort":
        """One of the module's own serial ports: the module's default port, or the port
        numbered from 1."""
        from ._serial import SerialPort

        return SerialPort(self, port)

