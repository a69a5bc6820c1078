"""A module's I/O as points by slot, kind and index, over the library's ZEBImage.

Every value is read and written through the library (ZEBGetPoint, ZEBGetPointSigned,
ZEBSetPoint, ZEBDecodeStream, ZEBEncodeOutputs); this module only gives them Python's shapes.
"""
import ctypes
from typing import Any, Dict, Iterator, List, Mapping, Optional, Sequence, Union, overload

from . import _records as R
from ._constants import BIT_IN, BIT_OUT, DWORD_IN, DWORD_OUT, WORD_IN, WORD_OUT
from ._errors import check
from ._library import lib

INPUTS, OUTPUTS = "inputs", "outputs"

# The kinds an image shows by direction, and where each kind's count is in ZEBSlotPoints.
_KINDS = {INPUTS: (BIT_IN, WORD_IN, DWORD_IN), OUTPUTS: (BIT_OUT, WORD_OUT, DWORD_OUT)}
_COUNT_AT = {BIT_IN: 0, BIT_OUT: 1, WORD_IN: 2, WORD_OUT: 3, DWORD_IN: 4, DWORD_OUT: 5}
# What a point of each width takes: (lowest, highest); a negative value is stored as its
# two's complement.
_RANGES = {1: (0, 1), 16: (-0x8000, 0xFFFF), 32: (-0x80000000, 0xFFFFFFFF)}
_WIDTHS = {BIT_IN: 1, BIT_OUT: 1, WORD_IN: 16, WORD_OUT: 16, DWORD_IN: 32, DWORD_OUT: 32}
_STREAM_ROOM = 1200  # the most one I/O exchange carries


class Points(Sequence[int]):
    """The points of one kind in one slot: `bits`, `words` or `dwords`.

    A sequence of ints indexed from 0 (slices and negative indices too). Words and 32-bit
    values read unsigned; `.signed` reads them as two's complement. Points of the output image
    can be set (`dev.outputs[3].bits[6] = 1`, `dev.outputs[4].words[0:2] = [1, -2]`); a
    negative word or 32-bit value is stored as its two's complement.
    """

    def __init__(self, image: "Image", slot: int, kind: int, signed: bool = False) -> None:
        self._image = image
        self._slot = slot
        self.kind = kind
        """The point kind (BIT_IN, WORD_OUT, ...)."""
        self.width = _WIDTHS[kind]
        """Bits per value: 1, 16 or 32."""
        self._signed = signed

    @property
    def signed(self) -> "Points":
        """The same points, read as signed values."""
        return Points(self._image, self._slot, self.kind, signed=True)

    def __len__(self) -> int:
        return int(self._image._slot_record(self._slot).Count[_COUNT_AT[self.kind]])

    def _get(self, index: int) -> int:
        record = ctypes.byref(self._image._record)
        if self._signed:
            signed = ctypes.c_int32()
            r = lib.ZEBGetPointSigned(record, self._slot, self.kind, index, ctypes.byref(signed))
            value = signed.value
        else:
            unsigned = ctypes.c_uint32()
            r = lib.ZEBGetPoint(record, self._slot, self.kind, index, ctypes.byref(unsigned))
            value = unsigned.value
        check(r, "ZEBGetPoint", None)
        return value

    def _set(self, index: int, value: int) -> None:
        self._check_value(value)
        stored = int(value) & ((1 << self.width) - 1)
        check(lib.ZEBSetPoint(ctypes.byref(self._image._record), self._slot, self.kind, index,
                              stored), "ZEBSetPoint", None)

    def _index(self, index: int) -> int:
        n = len(self)
        if not -n <= index < n:
            raise IndexError(f"slot {self._slot} has {n} such points; no point {index}")
        return index % n

    @overload
    def __getitem__(self, index: int) -> int: ...

    @overload
    def __getitem__(self, index: slice) -> List[int]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[int, List[int]]:
        if isinstance(index, slice):
            return [self._get(i) for i in range(*index.indices(len(self)))]
        return self._get(self._index(index))

    def __setitem__(self, index: Union[int, slice], value: Any) -> None:
        if not self._image.writable:
            raise TypeError("inputs are read from the module and cannot be set")
        if isinstance(index, slice):
            where = range(*index.indices(len(self)))
            values = list(value)
            if len(values) != len(where):
                raise ValueError(f"{len(values)} values for {len(where)} points")
            for v in values:  # checked whole before anything changes
                self._check_value(v)
            for i, v in zip(where, values):
                self._set(i, v)
            return
        self._set(self._index(index), value)

    def _check_value(self, value: int) -> None:
        if not isinstance(value, int):
            raise TypeError(f"a point's value is an int, not {type(value).__name__}")
        low, high = _RANGES[self.width]
        if not low <= value <= high:
            raise ValueError(f"{value} does not fit a {self.width}-bit point ({low} to {high})")

    def __iter__(self) -> Iterator[int]:
        for i in range(len(self)):
            yield self._get(i)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, (Points, list, tuple)):
            return list(self) == list(other)
        return NotImplemented

    def __repr__(self) -> str:
        return repr(list(self))


class Slot:
    """One slot of an image: its module record's kind and identification, and its points by
    kind as `bits`, `words` and `dwords` (inputs or outputs, by the image)."""

    def __init__(self, image: "Image", slot: int) -> None:
        self._image = image
        self.slot = slot
        """The slot number."""
        record = image._slot_record(slot)
        self.kind = int(record.Kind)
        """The kind of the slot's module record (1, 3, 5, 7 or 255)."""
        self.ident = int(record.Ident)
        """The module identification byte of the record."""
        bits, words, dwords = _KINDS[image.direction]
        self.bits = Points(image, slot, bits)
        """The bit points: 0 or 1 each."""
        self.words = Points(image, slot, words)
        """The 16-bit points."""
        self.dwords = Points(image, slot, dwords)
        """The 32-bit points."""

    def to_dict(self) -> Dict[str, List[int]]:
        """The values by kind: {"bits": [...], "words": [...], "dwords": [...]}."""
        return {"bits": list(self.bits), "words": list(self.words), "dwords": list(self.dwords)}

    def __repr__(self) -> str:
        shown = ", ".join(f"{k}={v}" for k, v in self.to_dict().items() if v)
        return f"Slot({self.slot}, {shown})"


class Image(Mapping[int, "Slot"]):
    """A module's inputs or outputs by slot: `image[3].bits[0]`.

    A mapping from slot number to Slot, in ascending slot order, holding every slot of the
    module's base that has points (a slot without points of this direction is listed with
    empty ones). An image of inputs is a snapshot; the output image of a Device can be
    changed, and Device.write_outputs() writes it.
    """

    def __init__(self, record: R.Image, direction: str, writable: bool = False) -> None:
        self._record = record
        self.direction = direction
        """INPUTS or OUTPUTS: which points `bits`, `words` and `dwords` are."""
        self.writable = writable
        """Whether points can be set."""

    @classmethod
    def from_base_definition(cls, definition: bytes, direction: str = INPUTS,
                             writable: bool = False) -> "Image":
        """An image laid out from a base definition as Device.base_definition() gives it,
        every value 0 (ZEBImageFromBaseDef)."""
        record = R.Image()
        data = (ctypes.c_uint8 * max(len(definition), 1)).from_buffer_copy(
            bytes(definition) or b"\0")
        check(lib.ZEBImageFromBaseDef(ctypes.byref(record), data, len(definition)),
              "ZEBImageFromBaseDef", None)
        return cls(record, direction, writable)

    def _slot_record(self, slot: int) -> R.SlotPoints:
        for i in range(min(self._record.SlotCount, len(self._record.Slots))):
            if self._record.Slots[i].Slot == slot:
                found: R.SlotPoints = self._record.Slots[i]
                return found
        raise KeyError(slot)

    def __getitem__(self, slot: int) -> Slot:
        if not isinstance(slot, int):
            raise KeyError(slot)
        self._slot_record(slot)
        return Slot(self, slot)

    def __iter__(self) -> Iterator[int]:
        for i in range(min(self._record.SlotCount, len(self._record.Slots))):
            yield int(self._record.Slots[i].Slot)

    def __len__(self) -> int:
        return min(int(self._record.SlotCount), len(self._record.Slots))

    def copy(self, direction: Optional[str] = None, writable: Optional[bool] = None) -> "Image":
        """A copy of the image, with its own values."""
        record = R.Image.from_buffer_copy(self._record)
        return Image(record, direction or self.direction,
                     self.writable if writable is None else writable)

    def decode(self, stream: bytes) -> None:
        """Takes the values of an I/O stream (as Device.read_io() delivers it) into the image
        (ZEBDecodeStream): what the stream does not carry keeps its value."""
        data = (ctypes.c_uint8 * max(len(stream), 1)).from_buffer_copy(bytes(stream) or b"\0")
        check(lib.ZEBDecodeStream(ctypes.byref(self._record), data, len(stream)),
              "ZEBDecodeStream", None)

    def encode(self) -> bytes:
        """The output stream of every output the image holds (ZEBEncodeOutputs), for
        Device.write_io()."""
        buf = (ctypes.c_uint8 * _STREAM_ROOM)()
        size = ctypes.c_uint16(_STREAM_ROOM)
        check(lib.ZEBEncodeOutputs(ctypes.byref(self._record), buf, ctypes.byref(size)),
              "ZEBEncodeOutputs", None)
        return bytes(buf[: size.value])

    def to_dict(self) -> Dict[int, Dict[str, List[int]]]:
        """Every slot's values: {slot: {"bits": [...], "words": [...], "dwords": [...]}}."""
        return {slot: self[slot].to_dict() for slot in self}

    def __repr__(self) -> str:
        return f"Image({self.direction}, {self.to_dict()})"
