"""I/O as points: inputs by slot and kind, the output image of a device, writes that change
only what is named, and the I/O of many modules at once.

press-line's slot 1 bit inputs are wired to its slot 3 bit outputs, and slot 5's 32-bit
inputs to its 32-bit outputs; the packer's slot 0 inputs to its outputs. Slot 4 word input 0
counts the reads.
"""
import pytest

import zeb


@pytest.fixture
def press(transport):
    with transport.open("127.0.0.2") as dev:
        yield dev


def test_inputs_by_slot_and_kind_as_the_rack_describes_them(press):
    inputs = press.read_inputs()
    assert list(inputs) == [0, 1, 3, 4, 5, 6]
    assert inputs.direction == zeb.INPUTS
    assert inputs[0].bits[:9] == [1, 0, 1, 1, 0, 0, 0, 0, 1]
    assert len(inputs[0].bits) == 16 and len(inputs[3].bits) == 0
    assert inputs[4].words[1:] == [1200, 2400, 3600]
    assert inputs[6].words == [77] and inputs[6].kind == 7
    assert (inputs[0].kind, inputs[0].ident) == (1, 35)
    counted = inputs[4].words[0]
    assert press.read_inputs()[4].words[0] == counted + 1  # a snapshot per read
    assert inputs[4].words[0] == counted
    # The raw stream stays available, and says the same through the library's decoder.
    image = zeb.Image.from_base_definition(press.base_definition(extended=True))
    image.decode(press.read_io(extended=True))
    assert image[4].words[1:] == [1200, 2400, 3600] and image[0].bits == inputs[0].bits


def test_writing_one_point_keeps_the_others(press):
    outputs = press.outputs
    assert outputs is press.outputs and outputs.direction == zeb.OUTPUTS
    assert outputs[3].bits == [0] * 8  # nothing written yet by this device
    outputs[3].bits[0] = 1
    assert press.write_outputs()[1].bits == [1, 0, 0, 0, 0, 0, 0, 0]
    outputs[3].bits[6] = True
    back = press.write_outputs()
    assert back[1].bits == [1, 0, 0, 0, 0, 0, 1, 0]  # bit 0 stays on
    assert press.read_inputs()[1].bits == back[1].bits
    assert outputs[3].bits == [1, 0, 0, 0, 0, 0, 1, 0]  # the image is what this host wrote
    outputs[3].bits[0:2] = [0, 1]
    press.write_outputs()
    assert press.read_inputs()[1].bits[:2] == [0, 1]


@pytest.mark.parametrize("address, slot, kind, value, unsigned", [
    ("127.0.0.2", 5, "dwords", -2, 0xFFFFFFFE),
    ("127.0.0.2", 5, "dwords", 0x80000000, 0x80000000),
    ("127.0.0.3", 0, "words", -300, 65236),
    ("127.0.0.3", 0, "words", 0xFFFF, 0xFFFF),
])
def test_words_and_dwords_read_unsigned_or_signed(transport, address, slot, kind, value,
                                                  unsigned):
    with transport.open(address) as dev:
        getattr(dev.outputs[slot], kind)[-1] = value
        back = getattr(dev.write_outputs()[slot], kind)
    width = 16 if kind == "words" else 32
    signed = unsigned - (1 << width) if unsigned >> (width - 1) else unsigned
    assert (back[-1], back.signed[-1], back.signed[:][-1]) == (unsigned, signed, signed)
    assert back[0] == 0


@pytest.mark.parametrize("slot, kind, index, value, error", [
    (3, "bits", 0, 2, ValueError),
    (3, "bits", 8, 1, IndexError),
    (3, "bits", -9, 1, IndexError),
    (4, "words", 0, 0x10000, ValueError),
    (4, "words", 0, -0x8001, ValueError),
    (5, "dwords", 0, 1 << 32, ValueError),
    (5, "dwords", 0, -(1 << 31) - 1, ValueError),
    (5, "dwords", 0, 1.5, TypeError),
    (5, "dwords", slice(0, 2), [1], ValueError),
    (5, "dwords", slice(0, 2), [1, 1 << 32], ValueError),
    (2, "bits", 0, 1, KeyError),  # no such slot
])
def test_a_value_that_does_not_fit_changes_nothing(press, slot, kind, index, value, error):
    before = press.outputs.to_dict()
    with pytest.raises(error):
        getattr(press.outputs[slot], kind)[index] = value
    assert press.outputs.to_dict() == before


def test_inputs_cannot_be_set(press):
    with pytest.raises(TypeError):
        press.read_inputs()[0].bits[0] = 1


def test_each_device_object_keeps_its_own_output_image(transport):
    with transport.open("127.0.0.2") as first, transport.open("127.0.0.2") as second:
        first.outputs[4].words[0] = 7
        assert second.outputs[4].words[0] == 0
        assert first.outputs.copy()[4].words[0] == 7


def test_many_modules_at_once(transport):
    devices = [transport.open(a) for a in ("127.0.0.2", "127.0.0.3")]
    devices.append(transport.open("127.0.0.9", timeout_ms=50, retries=1))
    try:
        devices[1].outputs[0].bits[7] = 1
        written = zeb.write_outputs_many(devices[:2])
        assert [r.ok for r in written] == [True, True]
        assert written[1].inputs[0].bits[7] == 1
        read = zeb.read_inputs_many(devices)
        assert [r.ok for r in read] == [True, True, False]
        assert isinstance(read[2].error, zeb.ZebTimeout) and read[2].inputs is None
        with pytest.raises(zeb.ZebTimeout):
            read[2].raise_error()
        assert read[0].inputs[4].words[1] == 1200 and read[1].inputs[0].bits[7] == 1
        raw = zeb.read_io_many(devices[:2], extended=True)
        assert [r.stream[:2] for r in raw] == [b"\xb1\x00"] * 2 and raw[0].inputs is None
        streams = [devices[0].outputs.encode(), devices[1].outputs.encode()]
        assert all(r.ok for r in zeb.write_io_many(devices[:2], streams))
    finally:
        for d in devices:
            d.close()
