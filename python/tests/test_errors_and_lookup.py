"""Failures raised by kind under ZebError; modules found by address, number, name or hardware
address as zeb finds them, with their name, number and kind."""
import pytest

import zeb

PACKER_HW = "02:52:53:00:00:02"
UNUSED_PORT = 0x7071  # nothing listens there: the socket reports the refusal
REFUSED = (10054, 10061)  # WSAECONNRESET, WSAECONNREFUSED
HAS_TRANSPORT_ERROR = zeb._lib.optional("ZEBGetTransportError") is not None


def _missing_file(dev):
    return dev.files.read("no-such-file.bin")


def _closed(dev):
    dev.close()
    return dev.read_io()


# What is done, on which module and port, and what must be raised: its class, its code, and
# its fields.
FAILURES = [
    ("127.0.0.9", None, lambda d: d.read_io(), zeb.ZebTimeout, 0x8006, {}),
    ("127.0.0.3", None, lambda d: d.read_setup(0x99), zeb.ModuleRefused, 0xFFFF8101,
     {"status": 0x8101}),
    # A malformed output stream: the I/O rule turns status 2 into 0x8002.
    ("127.0.0.2", None, lambda d: d.write_io(b"\x03\x4f"), zeb.ModuleRefused, 0x8002,
     {"status": 2}),
    ("127.0.0.2", UNUSED_PORT, lambda d: d.pet(), zeb.TransportError, None,
     {"error_number": REFUSED}),
    pytest.param("127.0.0.2", UNUSED_PORT, lambda d: d.read_io(), zeb.TransportError, 0x8005,
                 {"error_number": REFUSED},
                 marks=pytest.mark.skipif(not HAS_TRANSPORT_ERROR,
                                          reason="the library does not tell a device's "
                                                 "transport error (ZEBGetTransportError)")),
    ("127.0.0.3", None, _missing_file, zeb.RemoteFailure, 2, {"last_error": 2}),
    ("127.0.0.3", None, _closed, zeb.ZebError, 0x8003, {}),
]


@pytest.mark.parametrize("address, port, call, kind, code, fields", FAILURES)
def test_failures_are_raised_by_kind(transport, address, port, call, kind, code, fields):
    with transport.open(address, timeout_ms=50, retries=0, port=port) as dev:
        with pytest.raises(kind) as caught:
            call(dev)
    e = caught.value
    assert isinstance(e, zeb.ZebError) and type(e).__name__ == kind.__name__
    if code is not None:
        assert e.code == code
    for name, want in fields.items():
        got = getattr(e, name)
        assert got in want if isinstance(want, tuple) else got == want
    assert e.text and e.text in str(e)


# A result, the operation's status rule, the transport error the library tells for the device,
# and what is raised: its class and its status or error number.
RESULTS = [
    (0x8006, zeb._errors.IO, 0, zeb.ZebTimeout, None),
    (10061, None, 0, zeb.TransportError, 10061),
    (0x8005, zeb._errors.IO, 10061, zeb.TransportError, 10061),
    (0x8005, zeb._errors.SIGNED, 10051, zeb.TransportError, 10051),
    (109, zeb._errors.SIGNED, 109, zeb.TransportError, 109),  # a serial reply cut short
    (0x8005, zeb._errors.IO, 0, zeb.ZebError, None),
    (0x8004, zeb._errors.IO, 0, zeb.ZebError, None),
    (0x8002, zeb._errors.IO, 0, zeb.ModuleRefused, 0x0002),  # status 2 by the I/O rule
    (0xFFFF8012, zeb._errors.IO, 0, zeb.ModuleRefused, 0x8012),
    (0x0086, zeb._errors.SIGNED, 0, zeb.ModuleRefused, 0x0086),
    (0xFFFF8101, zeb._errors.SIGNED, 0, zeb.ModuleRefused, 0x8101),
    (0x8010, zeb._errors.SIGNED, 0, zeb.ZebError, None),  # no status word reads so
    (0x0086, None, 0, zeb.ZebError, None),  # a call whose reply has no status word
]


@pytest.mark.parametrize("result, rule, behind, kind, number", RESULTS)
def test_results_by_kind(monkeypatch, result, rule, behind, kind, number):
    monkeypatch.setattr(zeb._errors, "transport_error_of", lambda device: behind)
    e = zeb._errors.error_for(result, "call", rule, device=object())
    assert type(e) is kind and e.code == result
    if kind is zeb.ModuleRefused:
        assert e.status == number
    if kind is zeb.TransportError:
        assert e.error_number == number and e.text.startswith(zeb.result_text(number))


@pytest.mark.parametrize("reference", [
    "127.0.0.3", "#2", "#0x2", "packer", PACKER_HW, PACKER_HW.replace(":", "-").upper(),
    PACKER_HW.replace(":", ""),
])
def test_a_module_is_opened_by_address_number_name_or_hardware_address(transport, reference):
    with transport.open(reference, query_ms=200) as dev:
        assert dev.address == "127.0.0.3"
        assert dev.identify().name == "packer"


@pytest.mark.parametrize("reference", ["#42", "no-such-module", "02:52:53:00:00:99"])
def test_a_reference_nothing_answers_to(transport, reference):
    with pytest.raises(zeb.ModuleNotFound) as caught:
        transport.open(reference, query_ms=100)
    assert isinstance(caught.value, LookupError) and isinstance(caught.value, zeb.ZebTimeout)
    assert reference in str(caught.value)


@pytest.mark.parametrize("reference", ["", "#", "#x", "#-1", "#4294967296", "n" * 256])
def test_a_malformed_reference(transport, reference):
    with pytest.raises(ValueError):
        transport.find(reference)


def test_a_name_two_modules_answer_to(transport, monkeypatch):
    twins = [transport.find(ip) for ip in ("127.0.0.5", "127.0.0.6")]  # no lookup for these
    monkeypatch.setattr(transport, "discover", lambda **kw: twins)
    with pytest.raises(zeb.ModuleAmbiguous) as caught:
        transport.find("twin")
    assert caught.value.addresses == ["127.0.0.5", "127.0.0.6"]
    assert "127.0.0.5, 127.0.0.6" in str(caught.value)


def test_discovery_shows_name_number_and_kind_as_zeb_does(racksim, monkeypatch):
    monkeypatch.setenv("ZEB_LOCAL", "127.0.0.1")
    with zeb.Transport() as t:
        assert t.local == "127.0.0.1"
        found = t.discover(timeout_ms=300)
        bare = t.discover(timeout_ms=300, identify=False)
    assert [(m.address, m.name, m.number, m.kind_name) for m in found] == [
        ("127.0.0.2", "press-line", 1, "Qx-RIO"),
        ("127.0.0.3", "packer", 2, "Qx-RIO"),
        ("127.0.0.4", "conveyor-node", 3, "node"),
    ]
    assert found[1].to_dict() == {"address": "127.0.0.3", "hardware_address": PACKER_HW,
                                  "kind": 0, "kind_name": "Qx-RIO", "name": "packer",
                                  "number": 2, "broadcast_only": False}
    assert [(m.name, m.number, m.kind) for m in bare] == [(None, None, None)] * 3
    assert [zeb.kind_name(k) for k in (0, 6, 9, None)] == ["Qx-RIO", "node", "kind 9", None]
