"""Failures of the library's calls, as exceptions by kind, all under ZebError."""
import ctypes
from typing import List, Optional

from ._constants import _BAD_PARAMETER, _NAMES, _NO_DATA, _TIMEOUT, RETRIED
from ._library import lib

# Each operation turns a module's nonzero status word into its result by one of two rules.
SIGNED = "signed"  # sign-extended from 16 bits: 0x0002 gives 2, 0x8003 gives 0xFFFF8003
IO = "io"  # sign-extended with bit 15 set: 0x0005 gives 0x8005, 0x8012 gives 0xFFFF8012

_WINSOCK_FIRST, _WINSOCK_LAST = 10000, 11999
# The library's codes that an exchange on an opened device can end in. By the I/O rule a small
# status word reads like a library code: one of these is taken as the library's, any other
# (0x8002 for status 2, say) as the module's.
_EXCHANGE_CODES = frozenset({0x8003, 0x8004, 0x8005, 0x8006, 0x800D, 0x8010, 0x8011, 0x8012,
                             0x8013})


def result_text(code: int) -> str:
    """The library's text for a result code: its name and a short sentence."""
    code &= 0xFFFFFFFF
    f = getattr(lib.load(), "ZEBResultText", None)
    if f is not None:
        buf = ctypes.create_string_buffer(256)
        f(code, buf, len(buf))
        return buf.value.decode("latin-1")
    name, text = _NAMES.get(code, (f"0x{code:X}", "result"))
    return f"{name}: {text}"


class ZebError(Exception):
    """A call of the library failed.

    Attributes:
        code: the call's 32-bit result.
        operation: what was being done, as the message names it.
        text: the library's text for the code.
    """

    def __init__(self, code: int, operation: str = "", text: Optional[str] = None) -> None:
        self.code = code & 0xFFFFFFFF
        self.operation = operation
        self.text = text if text is not None else result_text(self.code)
        where = f"{operation}: " if operation else ""
        super().__init__(f"{where}{self.text} (0x{self.code:X})")


class ZebTimeout(ZebError):
    """No reply came, after every re-send (ZEBERR_TIMEOUT); or, from a lookup, no module
    answered within the query time (ModuleNotFound)."""


class ModuleRefused(ZebError):
    """The module answered with a nonzero status word.

    Attributes:
        status: the 16-bit status word as the module sent it. (The I/O exchange and the
            configuration data turn a status word into a result with bit 15 set, so there
            status words 3 to 6, 0xD and 0x10 to 0x13 read as the library's codes of a failed
            exchange, and are raised as those.)
    """

    def __init__(self, code: int, operation: str, status: int) -> None:
        self.status = status & 0xFFFF
        super().__init__(code, operation)


class TransportError(ZebError):
    """The socket or serial port failed: nothing listens at the address, the network is
    unreachable, and the like.

    Attributes:
        error_number: the Winsock number (10000 and up) or Windows system error number of the
            failure, on every platform. `code` is the call's result, which is that number or,
            for calls that read a reply, ZEBERR_NO_DATA.
    """

    def __init__(self, code: int, operation: str, error_number: int) -> None:
        self.error_number = error_number
        text = result_text(error_number)
        if code != error_number:
            text += f" (result {result_text(code).split(':')[0]})"
        super().__init__(code, operation, text)


class RemoteFailure(ZebError):
    """A controller module carried out a function, and the function failed; `code` and
    `last_error` are the module's last-error number (a Windows system error number)."""

    def __init__(self, last_error: int, operation: str) -> None:
        self.last_error = last_error
        super().__init__(last_error, operation)


class ModuleNotFound(ZebTimeout, LookupError):
    """No module answered to the name, number or hardware address within the query time."""

    def __init__(self, reference: str) -> None:
        self.reference = reference
        super().__init__(_TIMEOUT, "", f"no module answers to '{reference}'")


class ModuleAmbiguous(ZebError, LookupError):
    """Several modules answered to a name or number; `addresses` lists them."""

    def __init__(self, reference: str, addresses: List[str]) -> None:
        self.reference = reference
        self.addresses = addresses
        super().__init__(_BAD_PARAMETER, "",
                         f"{len(addresses)} modules answer to '{reference}' "
                         f"({', '.join(addresses)}); name one by its address")


def succeeded(result: int) -> bool:
    """Success proper: 0, or success after re-sends."""
    return result in (0, RETRIED)


def _status_of(result: int, rule: Optional[str]) -> Optional[int]:
    """The module's status word behind a result, by the operation's rule; None for a result
    that is no status word."""
    if rule is None:
        return None
    if result >= 0xFFFF8000:
        return result & 0xFFFF
    if rule == IO and 0x8000 < result <= 0xFFFF and result not in _EXCHANGE_CODES:
        return result & 0x7FFF
    if rule == SIGNED and 0 < result < 0x8000:
        return result
    return None


def transport_error_of(device: Optional[ctypes.Structure]) -> int:
    """The socket or port error behind the device's last failure, when the library tells it."""
    get = lib.optional("ZEBGetTransportError")
    if device is None or get is None:
        return 0
    return int(get(ctypes.byref(device)))


def error_for(result: int, operation: str, rule: Optional[str],
              device: Optional[ctypes.Structure] = None) -> ZebError:
    """The exception for a failed call's result.

    `rule` says how the operation converts a module's status word (SIGNED, IO, or None for
    an operation whose reply carries none); `device` is the record of the call, to learn the
    transport error behind the failure.
    """
    result &= 0xFFFFFFFF
    if result == _TIMEOUT:
        return ZebTimeout(result, operation)
    if _WINSOCK_FIRST <= result <= _WINSOCK_LAST:
        return TransportError(result, operation, result)
    behind = transport_error_of(device)
    if behind and result in (_NO_DATA, behind):
        return TransportError(result, operation, behind)
    status = _status_of(result, rule)
    if status is not None:
        return ModuleRefused(result, operation, status)
    return ZebError(result, operation)


def check(result: int, operation: str, rule: Optional[str],
          device: Optional[ctypes.Structure] = None) -> int:
    """Returns a successful result (0 or RETRIED); raises the exception for any other."""
    result &= 0xFFFFFFFF
    if succeeded(result):
        return result
    raise error_for(result, operation, rule, device)
