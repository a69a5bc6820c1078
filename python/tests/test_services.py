"""A controller module's file listings as decoded records, the module's serial ports and the
controller requests, against the packer of the sample rack."""
import datetime
import os
import time

import pytest

import zeb


@pytest.fixture
def packer(transport):
    with transport.open("127.0.0.3") as dev:
        yield dev


@pytest.fixture
def tree(packer, racksim):
    """The packer's files: d\\a.txt (5 bytes, read-only), d\\b.bin (2000 bytes), d\\sub."""
    files = packer.files
    files.mkdir("d")
    files.mkdir("d\\sub")
    files.write("d\\a.txt", b"hello")
    files.write("d\\b.bin", bytes(2000))
    files.set_attributes("d\\a.txt", zeb.ATTRIBUTE_READONLY)
    yield files
    files.set_attributes("d\\a.txt", zeb.ATTRIBUTE_NORMAL)
    for name in ("d\\a.txt", "d\\b.bin"):
        files.delete(name)
    files.rmdir("d\\sub")
    files.rmdir("d")


@pytest.mark.parametrize("path, names", [
    ("d", ["a.txt", "b.bin", "sub"]),
    ("d\\", ["a.txt", "b.bin", "sub"]),
    ("d/", ["a.txt", "b.bin", "sub"]),
    ("/d", ["a.txt", "b.bin", "sub"]),
    ("d\\*.txt", ["a.txt"]),
    ("d\\*.none", []),
    ("", ["d"]),
    ("/", ["d"]),
    ("\\", ["d"]),
])
def test_listings_by_directory_or_pattern(tree, path, names):
    assert sorted(e.name for e in tree.list(path)) == names


def test_listing_entries_are_decoded(tree, racksim):
    entries = {e.name: e for e in tree.list("d")}
    a, b, sub = entries["a.txt"], entries["b.bin"], entries["sub"]
    assert (a.size, a.is_read_only, a.is_directory) == (5, True, False)
    assert (b.size, b.is_read_only, b.is_directory) == (2000, False, False)
    assert sub.is_directory and not sub.is_read_only
    assert tree.attributes("d\\a.txt") & zeb.ATTRIBUTE_READONLY
    on_host = os.stat(os.path.join(racksim, "d", "b.bin")).st_mtime
    assert b.modified.tzinfo == datetime.timezone.utc
    assert abs(b.modified.timestamp() - on_host) < 1
    assert all(isinstance(t, datetime.datetime) for t in (b.created, b.accessed))
    with pytest.raises(zeb.RemoteFailure) as caught:
        tree.write("d\\a.txt", b"x")  # read-only
    assert caught.value.last_error == 5  # ERROR_ACCESS_DENIED
    with pytest.raises(zeb.RemoteFailure):
        tree.list("no-such-dir\\sub")


@pytest.mark.parametrize("value, expected", [
    (0, None),
    (116444736000000000, datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)),
    (116444736000000000 + 15, datetime.datetime(1970, 1, 1, 0, 0, 0, 1,
                                                tzinfo=datetime.timezone.utc)),
    (0xFFFFFFFFFFFFFFFF, None),  # past the year 9999
])
def test_file_times(value, expected):
    assert zeb._files.filetime(value) == expected


def test_serial_port_of_the_module(packer):
    port = packer.serial(1)
    assert port.read_setup() == zeb.SerialSetup(19200, 8, 0, 0, 0)
    assert port.read() == b"READY\r\n"  # what the rack file says the port received
    port.write(b"ping" * 60)  # more than one request carries; the port's plug loops it back
    got = b""
    deadline = time.monotonic() + 10
    while len(got) < 240 and time.monotonic() < deadline:
        got += port.read()
    assert got == b"ping" * 60
    assert port.tx_left() == 0 and port.available() == 0
    assert packer.serial().exchange(b"abc") == b"abc"  # written, and the answer taken
    port.write_setup(zeb.SerialSetup(9600, 7, 2, 2, 1))
    assert port.read_setup() == zeb.SerialSetup(9600, 7, 2, 2, 1)
    assert packer.serial().read_setup() == port.read_setup()  # the default port is port 1
    port.flush_rx()
    port.flush_tx()
    with pytest.raises(zeb.ModuleRefused) as caught:
        packer.serial(2).available()
    assert caught.value.status == 0x0090  # no such port
    with pytest.raises(ValueError):
        packer.serial(0)


def test_controller_requests(packer):
    assert packer.kseq(b"ST?") == b"RUN"
    assert packer.ccm_read(1, 0, 4) == bytes([0, 1, 2, 3])
    packer.ccm_write(1, 8, b"\x0a\x0b")
    assert packer.ccm_read(1, 8, 2) == b"\x0a\x0b"
    with pytest.raises(zeb.ModuleRefused):
        packer.ccm_write(2, 0, b"\x01")  # a read-only area
    with pytest.raises(ValueError):
        packer.ccm_read(1, 0, 257)
