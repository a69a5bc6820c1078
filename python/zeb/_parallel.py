"""The I/O of many modules at once (ZEBReadIOEx, ZEBWriteIOEx): every request is sent before
any reply is awaited, so a scan of many modules takes about one round trip."""
import ctypes
from typing import Callable, List, NamedTuple, Optional, Sequence

from . import _records as R
from ._constants import _EXTENDED_FORMAT
from ._device import Device
from ._errors import IO, ZebError, check, error_for, succeeded
from ._library import lib
from ._points import INPUTS, Image

_CAPACITY = 1400


class IOResult(NamedTuple):
    """One device's outcome of a parallel exchange."""

    device: Device
    """The device."""
    stream: bytes
    """The input stream it delivered (also with a module's refusal); b"" when none came."""
    error: Optional[ZebError]
    """None on success; else the failure, of its kind (ZebTimeout, ModuleRefused, ...)."""
    resends: int
    """How many times its request was sent again."""
    inputs: Optional[Image]
    """The inputs as points, from read_inputs_many() and write_outputs_many(); else None."""

    @property
    def ok(self) -> bool:
        """Whether the exchange succeeded."""
        return self.error is None

    def raise_error(self) -> "IOResult":
        """Raises the failure, if any; returns the result otherwise."""
        if self.error is not None:
            raise self.error
        return self


def _exchange(devices: Sequence[Device], streams: Optional[Sequence[bytes]], extended: bool,
              points: bool) -> List[IOResult]:
    n = len(devices)
    if n == 0:
        return []
    records = (ctypes.POINTER(R.Device) * n)(
        *[ctypes.pointer(d._record) for d in devices])
    for d in devices:
        d._ref()  # a closed device fails here, before anything is sent
    head = [_EXTENDED_FORMAT, 0] if extended else []
    buffers = [(ctypes.c_uint8 * _CAPACITY)(*head) for _ in range(n)]
    pointers = (ctypes.POINTER(ctypes.c_uint8) * n)(
        *[ctypes.cast(b, ctypes.POINTER(ctypes.c_uint8)) for b in buffers])
    sizes = (ctypes.c_uint16 * n)(*([_CAPACITY] * n))
    results = (ctypes.c_uint32 * n)()
    if streams is None:
        check(lib.ZEBReadIOEx(records, pointers, sizes, results, n), "ZEBReadIOEx", None)
        operation = "ZEBReadIOEx"
    else:
        if len(streams) != n:
            raise ValueError(f"{len(streams)} output streams for {n} devices")
        sources = [(ctypes.c_uint8 * max(len(s), 1)).from_buffer_copy(bytes(s) or b"\0")
                   for s in streams]
        source_pointers = (ctypes.POINTER(ctypes.c_uint8) * n)(
            *[ctypes.cast(s, ctypes.POINTER(ctypes.c_uint8)) for s in sources])
        lengths = (ctypes.c_uint16 * n)(*[len(s) for s in streams])
        check(lib.ZEBWriteIOEx(records, source_pointers, lengths, pointers, sizes, results, n),
              "ZEBWriteIOEx", None)
        operation = "ZEBWriteIOEx"
    out = []
    for i, d in enumerate(devices):
        result = results[i]
        stream = bytes(buffers[i][: min(sizes[i], _CAPACITY)])
        error = None if succeeded(result) else error_for(result, f"{operation} {d.address}", IO,
                                                         d._record)
        inputs = None
        if points and stream:
            inputs = Image(R.Image.from_buffer_copy(d._image_layout()), INPUTS)
            inputs.decode(stream)
        out.append(IOResult(d, stream, error, int(d._record.FromAddressSize), inputs))
    return out


def read_io_many(devices: Sequence[Device], extended: bool = False) -> List[IOResult]:
    """Reads the input streams of many devices at once; one IOResult per device, in order.
    Each device's failure is in its result; nothing is raised for it."""
    return _exchange(devices, None, extended, points=False)


def write_io_many(devices: Sequence[Device], streams: Sequence[bytes],
                  extended: bool = False) -> List[IOResult]:
    """Writes an output stream to each device at once, reading their inputs back."""
    return _exchange(devices, streams, extended, points=False)


def _with_layouts(devices: Sequence[Device],
                  run: Callable[[List[Device]], List[IOResult]]) -> List[IOResult]:
    """Runs the exchange for the devices whose image is laid out; a device whose base
    definition cannot be read has that failure as its result."""
    failed = {}
    for i, d in enumerate(devices):
        try:
            d._image_layout()
        except ZebError as e:
            failed[i] = IOResult(d, b"", e, 0, None)
    ready = [d for i, d in enumerate(devices) if i not in failed]
    done = iter(run(ready))
    return [failed[i] if i in failed else next(done) for i in range(len(devices))]


def read_inputs_many(devices: Sequence[Device]) -> List[IOResult]:
    """Reads the inputs of many devices at once, as points (IOResult.inputs)."""
    return _with_layouts(devices, lambda ready: _exchange(ready, None, True, points=True))


def write_outputs_many(devices: Sequence[Device]) -> List[IOResult]:
    """Writes each device's output image (Device.outputs) at once, and reads their inputs
    back as points."""
    return _with_layouts(devices, lambda ready: _exchange(
        ready, [d.outputs.encode() for d in ready], True, points=True))
