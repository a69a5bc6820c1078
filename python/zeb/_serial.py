"""The module's own serial ports: bytes out and in, queue counts, flushes and line settings."""
import ctypes
from typing import TYPE_CHECKING, NamedTuple, Optional

from . import _records as R
from ._errors import SIGNED
from ._library import lib

if TYPE_CHECKING:
    from ._device import Device

_PLAIN_WRITE_LIMIT = 196  # bytes of one write, less the header size
_PORT_WRITE_LIMIT = 195
_READ_CHUNK = 187  # the most a 200-byte reply carries
_ACCESS_LIMIT = 1496  # bytes of one write-and-answer exchange, less the header size
_ACCESS_ANSWER = 1489  # the most its answer carries
PARITIES = ("none", "odd", "even", "mark", "space")
STOP_BITS = ("1", "1.5", "2")
FLOW_CONTROLS = ("none", "rts-cts", "xon-xoff")


class SerialSetup(NamedTuple):
    """A port's line settings, as zeb reads the module's 8-byte record: the rate (32 bits),
    data bits, parity, stop bits and flow control (their indexes in PARITIES, STOP_BITS and
    FLOW_CONTROLS)."""

    baud: int
    """Bits per second."""
    data_bits: int
    """Data bits, 5 to 8."""
    parity: int
    """0 none, 1 odd, 2 even, 3 mark, 4 space."""
    stop_bits: int
    """0 one, 1 one and a half, 2 two."""
    flow: int
    """0 none, 1 RTS/CTS, 2 XON/XOFF."""

    @classmethod
    def from_bytes(cls, data: bytes) -> "SerialSetup":
        """Reads the 8-byte record."""
        return cls(int.from_bytes(data[0:4], "little"), data[4], data[5], data[6], data[7])

    def to_bytes(self) -> bytes:
        """The 8-byte record."""
        return self.baud.to_bytes(4, "little") + bytes(
            [self.data_bits, self.parity, self.stop_bits, self.flow])


class SerialPort:
    """One of the module's serial ports: the module's default port (`port` None), or the
    port numbered from 1. Failures raise ZebError by kind; a module's refusal raises
    ModuleRefused with its status."""

    def __init__(self, device: "Device", port: Optional[int] = None) -> None:
        if port is not None and not 1 <= port <= 256:
            raise ValueError(f"serial ports are numbered from 1 to 256, not {port}")
        self._device = device
        self.port = port
        """The port number, or None for the module's default port."""

    def _check(self, result: int, name: str) -> None:
        self._device._check(result, name, SIGNED)

    def write(self, data: bytes) -> None:
        """Sends bytes out of the port, in as many requests as they need."""
        d = self._device
        limit = (_PORT_WRITE_LIMIT if self.port else _PLAIN_WRITE_LIMIT) - d._record.DataOffset
        data = bytes(data)
        for at in range(0, len(data), limit):
            chunk = data[at: at + limit]
            buf = (ctypes.c_uint8 * len(chunk)).from_buffer_copy(chunk)
            if self.port:
                self._check(lib.ZEBWriteCommEx(d._ref(), self.port, len(chunk), buf),
                            "ZEBWriteCommEx")
            else:
                self._check(lib.ZEBWriteComm(d._ref(), len(chunk), buf), "ZEBWriteComm")

    def available(self) -> int:
        """How many received bytes wait in the port's receive queue."""
        count = ctypes.c_uint16(0)
        if self.port:
            self._check(lib.ZEBGetRXAvailableEx(self._device._ref(), self.port,
                                                ctypes.byref(count)), "ZEBGetRXAvailableEx")
        else:
            self._check(lib.ZEBGetRXAvailable(self._device._ref(), ctypes.byref(count)),
                        "ZEBGetRXAvailable")
        return count.value

    def tx_left(self) -> int:
        """How many bytes still wait to be sent from the port."""
        count = ctypes.c_uint16(0)
        if self.port:
            self._check(lib.ZEBGetTXLeftEx(self._device._ref(), self.port, ctypes.byref(count)),
                        "ZEBGetTXLeftEx")
        else:
            self._check(lib.ZEBGetTXLeft(self._device._ref(), ctypes.byref(count)),
                        "ZEBGetTXLeft")
        return count.value

    def read(self, max_bytes: int = 65535) -> bytes:
        """The bytes the port has received, at most `max_bytes`; b"" when none wait."""
        data = bytearray()
        while len(data) < max_bytes:
            waiting = self.available()
            if waiting == 0:
                break
            want = min(waiting, _READ_CHUNK, max_bytes - len(data))
            buf = (ctypes.c_uint8 * _READ_CHUNK)()
            count = ctypes.c_uint16(want)
            if self.port:
                self._check(lib.ZEBReadCommEx(self._device._ref(), self.port,
                                              ctypes.byref(count), buf), "ZEBReadCommEx")
            else:
                self._check(lib.ZEBReadComm(self._device._ref(), ctypes.byref(count), buf),
                            "ZEBReadComm")
            if count.value == 0:
                break
            data += bytes(buf[: min(count.value, want)])
        return bytes(data)

    def flush_rx(self) -> None:
        """Drops what the port's receive queue holds."""
        if self.port:
            self._check(lib.ZEBFlushRXQueueEx(self._device._ref(), self.port),
                        "ZEBFlushRXQueueEx")
        else:
            self._check(lib.ZEBFlushRXQueue(self._device._ref()), "ZEBFlushRXQueue")

    def flush_tx(self) -> None:
        """Drops what a numbered port's transmit queue still holds (the module's default port
        has no such request)."""
        if not self.port:
            raise ValueError("only a numbered port's transmit queue can be flushed")
        self._check(lib.ZEBFlushTXQueueEx(self._device._ref(), self.port), "ZEBFlushTXQueueEx")

    def read_setup(self) -> SerialSetup:
        """The port's line settings."""
        record = R.SerialSetup()
        if self.port:
            self._check(lib.ZEBReadSerialPortSetupEx(self._device._ref(), self.port,
                                                     ctypes.byref(record)),
                        "ZEBReadSerialPortSetupEx")
        else:
            self._check(lib.ZEBReadSerialPortSetup(self._device._ref(), ctypes.byref(record)),
                        "ZEBReadSerialPortSetup")
        return SerialSetup.from_bytes(bytes(record.Data))

    def write_setup(self, setup: SerialSetup, wait: bool = True) -> None:
        """Sets the port's line up; with `wait`, returns once the module has done so (when the
        bytes still queued have left)."""
        record = R.SerialSetup.from_buffer_copy(setup.to_bytes())
        if self.port:
            self._check(lib.ZEBSetupSerialPortEx(self._device._ref(), self.port,
                                                 ctypes.byref(record), int(wait)),
                        "ZEBSetupSerialPortEx")
        else:
            self._check(lib.ZEBSetupSerialPort(self._device._ref(), ctypes.byref(record),
                                               int(wait)), "ZEBSetupSerialPort")

    def exchange(self, data: bytes) -> bytes:
        """Writes bytes out of the module's default port and returns the answer that comes
        back, in one request (ZEBAccessComm)."""
        if self.port:
            raise ValueError("the write-and-answer exchange is on the module's default port")
        limit = _ACCESS_LIMIT - self._device._record.DataOffset
        if len(data) > limit:
            raise ValueError(f"one exchange sends at most {limit} bytes")
        buf = (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(bytes(data) or b"\0")
        answer = (ctypes.c_uint8 * _ACCESS_ANSWER)()
        count = ctypes.c_uint16(_ACCESS_ANSWER)
        self._check(lib.ZEBAccessComm(self._device._ref(), len(data), buf, ctypes.byref(count),
                                      answer), "ZEBAccessComm")
        return bytes(answer[: min(count.value, _ACCESS_ANSWER)])
