"""The Python binding against RackSim's sample rack over loopback (conftest.py): discovery,
the raw I/O streams, setup records, memory, failures, and a controller module's files.
"""
import os

import pytest

import zeb


def test_discovery_lists_the_rack_sorted_by_address(transport):
    found = transport.discover(timeout_ms=300)
    addresses = [m.address for m in found]
    assert addresses[:3] == ["127.0.0.2", "127.0.0.3", "127.0.0.4"]
    assert all(len(m.hardware_address) == 17 for m in found)
    by_number = transport.discover(number=2, timeout_ms=300)
    assert [m.address for m in by_number] == ["127.0.0.3"]
    by_name = transport.discover(name="press-line", timeout_ms=300)
    assert [m.address for m in by_name] == ["127.0.0.2"]
    assert transport.discover(number=42, timeout_ms=200) == []


def test_outputs_written_come_back_on_the_wired_inputs(transport):
    module = transport.discover(number=1, timeout_ms=300)[0]
    with transport.open(module) as dev:
        assert dev.device_definition()[2] == 0  # a Qx-RIO
        # Compact stream: slot 3, one byte of bit outputs, then the end mark.
        dev.write_io(bytes([0x03, 0x41, 0x5A, 0xFF]))
        inputs = dev.read_io()
        assert inputs[-1] == 0xFF
        assert bytes([0x01, 0x31, 0x5A]) in inputs
        assert dev.counters == {"resends": 0, "crc_errors": 0, "late_replies": 0}


def test_setup_records_and_memory(transport):
    with transport.open("127.0.0.3") as dev:
        assert 0x30 in dev.setup_types()
        assert dev.read_setup(0x30) == b"line A"
        dev.write_setup(0x45, b"\x01\x02\x03")
        assert dev.read_setup(0x45) == b"\x01\x02\x03"
        dev.delete_setup(0x45)
        assert 0x45 not in dev.setup_types()
        dev.write_memory(1, 16, b"python")
        assert dev.read_memory(1, 16, 6) == b"python"


def test_failures_raise_with_the_code_and_its_text(transport):
    with transport.open("127.0.0.9", timeout_ms=50, retries=0) as dev:
        with pytest.raises(zeb.ZebError) as caught:
            dev.read_io()
    assert caught.value.code == 0x8006
    assert "TIMEOUT" in str(caught.value)
    with transport.open("127.0.0.3") as dev:
        with pytest.raises(zeb.ZebError) as caught:
            dev.write_memory(1, 16, bytes(513))
    assert caught.value.code != 0
    closed = transport.open("127.0.0.2")
    closed.close()
    with pytest.raises(zeb.ZebError):
        closed.read_io()


def test_files_of_a_controller_module(transport, racksim):
    data = bytes(range(256)) * 20  # several chunks
    with transport.open("127.0.0.3") as dev:
        files = dev.files
        files.mkdir("py")
        files.write("py\\blob.bin", data)
        assert files.read("py\\blob.bin") == data
        with open(os.path.join(racksim, "py", "blob.bin"), "rb") as f:
            assert f.read() == data
        assert [(e.name, e.size) for e in files.list("py\\*")] == [("blob.bin", len(data))]
        with pytest.raises(zeb.ZebError):
            files.read("py\\missing.bin")
        with pytest.raises(zeb.ZebError):
            files.write("..\\..\\escape.bin", b"x")
        files.delete("py\\blob.bin")
        files.rmdir("py")
        assert files.list("*") == []
