"""The UDP/IP transport, discovery, and finding a module by address, number, name or hardware
address as zeb does."""
import ctypes
import ipaddress
import os
import re
import struct
from typing import Any, Dict, List, NamedTuple, Optional, Tuple, Union

from . import _records as R
from ._constants import (_NAME_QUERY_SIZE, _PROTOCOL_IP, _QUERY_BY_NAME, _QUERY_BY_NUMBER,
                         _WINSOCK, _BUFFER_TOO_SMALL, API_VERSION, MODULE_PORT)
from ._device import Device, kind_name
from ._errors import ModuleAmbiguous, ModuleNotFound, check
from ._library import lib

_FIRST_CAPACITY = 64
_MAX_NAME = _NAME_QUERY_SIZE - 1  # the name query ends with a zero byte
_HW = re.compile(r"^[0-9A-Fa-f]{2}([:-])[0-9A-Fa-f]{2}(\1[0-9A-Fa-f]{2}){4}$|^[0-9A-Fa-f]{12}$")
_IPV4 = re.compile(r"^\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}$")


def _socket_address(ip: str, port: int) -> bytes:
    """The library's IPv4 socket address: family 2, port and address in network order."""
    packed = ipaddress.IPv4Address(ip).packed
    return struct.pack("<H", 2) + struct.pack(">H", port) + packed + bytes(8)


def _hw_text(raw: bytes) -> str:
    return ":".join(f"{b:02x}" for b in raw)


class Reference(NamedTuple):
    """A module named as zeb names it: by "address", "number", "name" or "hardware" (the
    hardware address as lower-case "02:52:53:00:00:01")."""

    by: str
    value: Union[str, int]

    @classmethod
    def parse(cls, text: str) -> "Reference":
        """Reads an IPv4 address, "#N" (decimal or 0x hex), a hardware address (six hex pairs
        with ':' or '-' between them, or none), or else a name of at most 255 bytes.
        Raises ValueError for an empty text, a bad number or an overlong name."""
        if not text:
            raise ValueError("an empty module reference")
        if _IPV4.match(text) and all(int(p) <= 255 for p in text.split(".")):
            return cls("address", text)
        if text.startswith("#"):
            digits = text[1:]
            try:
                if not re.match(r"^(0[xX][0-9A-Fa-f]+|[0-9]+)$", digits):
                    raise ValueError
                number = int(digits, 0) if digits[:2].lower() == "0x" else int(digits, 10)
            except ValueError:
                raise ValueError(f"'{text}': no number after '#'") from None
            if number > 0xFFFFFFFF:
                raise ValueError(f"'{text}': a module number has 32 bits")
            return cls("number", number)
        if _HW.match(text):
            digits = re.sub(r"[:-]", "", text)
            return cls("hardware", _hw_text(bytes.fromhex(digits)))
        if len(text.encode("utf-8")) > _MAX_NAME:
            raise ValueError(f"a module name has at most {_MAX_NAME} bytes")
        return cls("name", text)

    def __str__(self) -> str:
        return f"#{self.value}" if self.by == "number" else str(self.value)


class Module:
    """A module that answered discovery, with its name, number and kind as zeb shows them.

    Attributes:
        address: its IPv4 address, a dotted quad.
        port: its UDP port.
        hardware_address: its hardware address, "02:52:53:00:00:01".
        broadcast_only: whether it takes requests by broadcast only.
        name: its name (setup record 0x16), or None when not read or not given.
        number: its number (setup record 0x20), or None.
        kind: byte 2 of its device definition (0 a Qx-RIO module, 6 a networked node), or
            None.
    """

    def __init__(self, record: bytes, address: Optional[str] = None, name: Optional[str] = None,
                 number: Optional[int] = None, kind: Optional[int] = None) -> None:
        self._record = bytes(record)
        device = R.Device.from_buffer_copy(self._record)
        raw = bytes(device.Address)
        self.address = address or str(ipaddress.IPv4Address(raw[4:8]))
        self.port = int(struct.unpack(">H", raw[2:4])[0])
        self.hardware_address = _hw_text(bytes(device.NodeAddress))
        self.broadcast_only = bool(raw[19])
        self.name = name
        self.number = number
        self.kind = kind

    @property
    def kind_name(self) -> Optional[str]:
        """The kind as zeb names it: "Qx-RIO", "node" or "kind N"; None when unknown."""
        return kind_name(self.kind)

    def to_dict(self) -> Dict[str, Any]:
        """The fields as `zeb discover --json` gives them."""
        return {"address": self.address, "hardware_address": self.hardware_address,
                "kind": self.kind, "kind_name": self.kind_name, "name": self.name,
                "number": self.number, "broadcast_only": self.broadcast_only}

    def __repr__(self) -> str:
        facts = "".join(f", {k}={v!r}" for k, v in (("name", self.name),
                                                     ("number", self.number),
                                                     ("kind", self.kind_name)) if v is not None)
        return f"Module({self.address}, {self.hardware_address}{facts})"


class Transport:
    """The UDP/IP transport, bound to `local` (an IPv4 address) when given, else to the
    address in the ZEB_LOCAL environment variable when set, else to any. Discovery broadcasts
    leave through the bound address: bind to 127.0.0.1 to find the modules of a RackSim on
    loopback."""

    def __init__(self, local: Optional[str] = None) -> None:
        if local is None:
            local = os.environ.get("ZEB_LOCAL") or None
        check(lib.ZEBOpen(API_VERSION), "ZEBOpen", None)
        self._record = R.Transport()
        self._record.Kind = _WINSOCK
        self._record.Protocol = _PROTOCOL_IP
        self._source: Any = None
        self.local = local
        """The local address the transport is bound to, or None."""
        if local is not None:
            self._source = ctypes.create_string_buffer(_socket_address(local, 0), 16)
        check(lib.ZEBOpenTransport(ctypes.byref(self._record), API_VERSION, self._source),
              "ZEBOpenTransport", None)
        self._open = True

    def close(self) -> None:
        """Closes the transport. Close the devices opened on it first."""
        if self._open:
            lib.ZEBCloseTransport(ctypes.byref(self._record))
            self._open = False

    def __enter__(self) -> "Transport":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _query(self, query: Optional[Tuple[int, bytes]], capacity: int) -> Tuple[int, Any, int]:
        records = (R.Device * capacity)()
        count = ctypes.c_uint16(capacity)
        if query is None:
            r = lib.ZEBQueryDevices(ctypes.byref(self._record), records, ctypes.byref(count),
                                    API_VERSION)
        else:
            kind, data = query
            r = lib.ZEBQueryDeviceData(ctypes.byref(self._record), records, ctypes.byref(count),
                                       API_VERSION, kind, data, len(data))
        return r, records, count.value

    def discover(self, number: Optional[int] = None, name: Optional[str] = None,
                 item: Optional[Tuple[int, bytes]] = None, timeout_ms: Optional[int] = None,
                 identify: bool = True) -> List[Module]:
        """Every module that answers the broadcast query, once each, in address order.

        Only the module with a number, or a name, or holding a setup record `item` (its type
        and bytes) answers when one is given. `timeout_ms` replaces the listening time (600 ms
        by default) for this call. With `identify`, each module is asked its name, number
        and kind, as `zeb discover` shows them (a module that does not tell keeps None).
        """
        query = None
        if number is not None:
            query = (_QUERY_BY_NUMBER, struct.pack("<I", number))
        elif name is not None:
            encoded = name.encode("utf-8")[:_MAX_NAME]
            query = (_QUERY_BY_NAME, encoded.ljust(_NAME_QUERY_SIZE, b"\0"))
        elif item is not None:
            query = (item[0], bytes(item[1]))
        previous = lib.ZEBSetQueryTimeout(timeout_ms) if timeout_ms is not None else None
        try:
            r, records, count = self._query(query, _FIRST_CAPACITY)
            if r == _BUFFER_TOO_SMALL:
                # The count says how many answered: ask again with room for them all.
                r, records, count = self._query(query, max(count, _FIRST_CAPACITY))
            if r != _BUFFER_TOO_SMALL:
                check(r, "discovery", None)
        finally:
            if previous is not None:
                lib.ZEBSetQueryTimeout(previous)
        found: List[Module] = []
        for i in range(min(count, len(records))):
            module = Module(bytes(records[i]))
            # A module that answered twice is listed once.
            if not any(m.address == module.address and
                       m.hardware_address == module.hardware_address for m in found):
                found.append(module)
        found.sort(key=lambda m: ipaddress.IPv4Address(m.address))
        if identify:
            found = [self._identified(m) for m in found]
        return found

    def _identified(self, module: Module) -> Module:
        try:
            with self.open(module) as dev:
                facts = dev.identify()
        except Exception:  # noqa: BLE001 - a module that does not answer keeps its row
            return module
        module.name, module.number, module.kind = facts.name, facts.number, facts.kind
        return module

    def find(self, reference: str, timeout_ms: Optional[int] = None) -> Module:
        """The one module that `reference` names, as zeb reads it: an IPv4 address, "#N",
        a hardware address, or a name (see Reference.parse). An address is taken as it is,
        without asking the network; the others are looked up by discovery.

        Raises ModuleNotFound when no module answers, ModuleAmbiguous when several do.
        """
        ref = Reference.parse(reference)
        if ref.by == "address":
            record = R.Device()
            raw = _socket_address(str(ref.value), MODULE_PORT)
            ctypes.memmove(record.Address, raw, len(raw))
            return Module(bytes(record))
        if ref.by == "number":
            found = self.discover(number=int(ref.value), timeout_ms=timeout_ms, identify=False)
        elif ref.by == "name":
            found = self.discover(name=str(ref.value), timeout_ms=timeout_ms, identify=False)
        else:
            found = [m for m in self.discover(timeout_ms=timeout_ms, identify=False)
                     if m.hardware_address == ref.value]
        if not found:
            raise ModuleNotFound(str(ref))
        if len(found) > 1:
            raise ModuleAmbiguous(str(ref), [m.address for m in found])
        return found[0]

    def open(self, module: Union[Module, str], timeout_ms: int = 200, retries: int = 2,
             port: Optional[int] = None, query_ms: Optional[int] = None) -> Device:
        """Opens a device on a Module, or on a module named as find() reads it ("127.0.0.3",
        "#2", "packer", "02:52:53:00:00:02"), looking it up for `query_ms` (default: the
        query time-out). The device waits `timeout_ms` for each reply and sends a request at
        most `retries` times again. A module that takes broadcasts only is opened for
        broadcast. `port` replaces the module's UDP port."""
        if not isinstance(module, Module):
            module = self.find(str(module), query_ms)
        record = R.Device.from_buffer_copy(module._record)
        if port is not None:
            raw = _socket_address(module.address, port)
            ctypes.memmove(record.Address, raw, len(raw))
        check(lib.ZEBOpenDevice(ctypes.byref(self._record), ctypes.byref(record), API_VERSION,
                                timeout_ms, retries, 1 if module.broadcast_only else 0),
              "ZEBOpenDevice", None, record)
        return Device(record, self, module.address)
