"""The protocol's and the library's numbers, as zeb.h and zeb_points.h declare them.

A test (tests/vocab) compares every number and name here with the library's own.
"""

API_VERSION = 3
MODULE_PORT = 0x7070
RETRIED = 0x2000
_WINSOCK, _PROTOCOL_IP, _PROTOCOL_IPX = 4, 3, 2
_QUERY_BY_NUMBER, _QUERY_BY_NAME = 0x20, 0x16  # the setup record types of number and name
_NAME_QUERY_SIZE = 256  # a name query carries the name zero-filled to this size
_EXTENDED_FORMAT = 0xB1  # an I/O buffer that begins with it asks for the extended item format

# Point kinds, numbered as the item types that carry them in the I/O stream.
BIT_IN, BIT_OUT, WORD_IN, WORD_OUT, DWORD_IN, DWORD_OUT = 3, 4, 5, 6, 8, 9
_IMAGE_SLOTS = 256
_IMAGE_VALUE_BYTES = 2400

# The library's texts, for a library too old to give them (ZEBResultText).
_NAMES = {
    0x2000: ("ZEBWARN_RETRIED", "success after re-sends"),
    0x8001: ("ZEBERR_BAD_VERSION", "the version argument is not 3"),
    0x8002: ("ZEBERR_BAD_TRANSPORT", "unknown transport kind"),
    0x8003: ("ZEBERR_BAD_DEVICE",
             "no device, a bad header size, or a serial device whose port is not open"),
    0x8004: ("ZEBERR_BUFFER_TOO_SMALL", "the data was cut to fit the caller's buffer"),
    0x8005: ("ZEBERR_NO_DATA", "the reply carried no data"),
    0x8006: ("ZEBERR_TIMEOUT", "no reply, after every re-send"),
    0x8007: ("ZEBERR_BAD_PROTOCOL", "the transport's protocol is neither IPX nor IP"),
    0x8008: ("ZEBERR_NEEDS_BROADCAST", "the module can be reached by broadcast only"),
    0x8009: ("ZEBERR_NULL_TRANSPORT", "no transport given"),
    0x800D: ("ZEBERR_BAD_CRC", "the reply's CRC is wrong"),
    0x8010: ("ZEBERR_BAD_PARAMETER",
             "an argument is out of range, or the reply does not fit the request"),
    0x8011: ("ZEBERR_NO_PACKET", "no reply is waiting yet"),
    0x8012: ("ZEBERR_MISMATCHED_REPLY", "the reply does not answer the request"),
    0x8013: ("ZEBERR_PACKET_TOO_LARGE", "the request is too large; nothing was sent"),
}

_BUFFER_TOO_SMALL, _NO_DATA, _TIMEOUT, _BAD_DEVICE, _BAD_PARAMETER = (
    0x8004, 0x8005, 0x8006, 0x8003, 0x8010)
