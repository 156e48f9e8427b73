import ctypes
import os
import re
import time

import pytest

import kpdev
from kpdev.sim import VirtualReader

HEADER = os.path.join(os.path.dirname(__file__), "..", "..", "..", "include", "kp_dev.h")
PORT = 9


def _room(size):
    return ctypes.create_string_buffer(size)


@pytest.fixture
def sim():
    with VirtualReader(family="t1", port=PORT) as reader:
        yield reader


def test_every_export_of_the_header_is_declared():
    if not os.path.exists(HEADER):
        pytest.skip("no source tree")
    with open(HEADER, encoding="utf-8") as header:
        names = set(re.findall(r"KP_STDCALL\s+(\w+)\s*\(", header.read()))
    assert len(names) == 102
    assert names == set(kpdev.SIGNATURES)
    library = kpdev._native.library()
    for name, letters in kpdev.SIGNATURES.items():
        assert len(getattr(library, name).argtypes) == len(letters)


def test_library_version():
    assert kpdev.library_version() == "2.0.0.2"


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda r: r.apdu("00A4040000"), TypeError),  # text where bytes belong
        (lambda r: r.apdu(b"\x00\xa4"), ValueError),  # shorter than a header
        (lambda r: r.sle4442_read(0, -1), ValueError),
        (lambda r: r.sle4442_read(250, 7), ValueError),  # past the 256-byte memory
        (lambda r: r.authenticate(1, b"\xff" * 5), ValueError),
        (lambda r: r.write_block(1, 0, b"\x00" * 15), ValueError),
        (lambda r: r.read_block(16, 0), ValueError),
        (lambda r: r.power_on(seat="0"), TypeError),
        (lambda r: kpdev.call("KP_DEV_GetDllVersion", ctypes.create_string_buffer(32)), ValueError),
        (lambda r: kpdev.call("KP_DEV_GetDllVersion", b"x" * 64), TypeError),  # immutable output
        (lambda r: kpdev.call("KP_DEV_SLE4442_ReadDataForUser", r.handle, 0, 0, -1, _room(64)), ValueError),
        (lambda r: kpdev.call("KP_DEV_SLE4442_ReadDataForUser", r.handle, 0, 0, 8, _room(16)), ValueError),
        (lambda r: kpdev.call("KP_DEV_IC_SendApdu", r.handle, 0, 0, b"00B0000004", 10, _room(2079)), ValueError),
        (lambda r: kpdev.call("KP_DEV_IC_WriteStoreData", r.handle, 0, 0, b"ABC"), ValueError),  # odd hex
        (lambda r: kpdev.call("KP_DEV_IC_WriteStoreData", r.handle, 0, 0, b"ab12"), ValueError),  # lower case
    ],
)
def test_bad_arguments_never_reach_the_reader(sim, call, error):
    with kpdev.Reader(PORT) as reader:
        sim.clear()
        with pytest.raises(error):
            call(reader)
        assert sim.traffic().host_to_device == b""


def test_contact_card_bytes_in_and_out(sim):
    sim.insert(0, "cpu", "atr=3B021122", "apdu=00B2010C00:6F0A9000")
    with kpdev.Reader(PORT) as reader:
        assert reader.power_on() == bytes.fromhex("3B021122")
        assert reader.apdu(bytes.fromhex("00b2010c00")) == bytes.fromhex("6F0A9000")
        sim.clear()
        reader.power_off()
        # Power off: command 0x3223 with the seat byte, checksum 32^23^00.
        assert sim.traffic().host_to_device == bytes.fromhex("0230303033333232333030313103")


def test_failures_raise_with_code_and_text(sim):
    with kpdev.Reader(PORT) as reader:
        with pytest.raises(kpdev.KpDevError) as caught:
            reader.power_on(seat=0)  # empty seat: status 1001
    assert caught.value.code == -305
    assert caught.value.function == "KP_DEV_IC_PowerOn"
    assert caught.value.text == kpdev.result_text(-305) != kpdev.result_text(-306)


def test_sector_card_session(sim):
    sim.insert(255, "sector", "keya=A0A1A2A3A4A5")
    with kpdev.Reader(PORT) as reader:
        card_type, uid, _ = reader.activate_store_card()
        assert uid == bytes.fromhex("5A3C9E12")
        with pytest.raises(kpdev.KpDevError) as caught:
            reader.authenticate(1, b"\xff" * 6)
        assert caught.value.code == -312
        reader.activate_store_card()
        reader.authenticate(1, bytes.fromhex("A0A1A2A3A4A5"))
        data = bytes(range(0xF0, 0x100))
        reader.write_block(1, 2, data)
        assert reader.read_block(1, 2) == data
        reader.write_value(1, 1, 10.25)
        reader.increase(1, 1, 1.5)
        assert reader.read_value(1, 1) == 11.75


def test_swipe_on_the_magnetic_head(sim):
    with kpdev.Reader(PORT, device_type=2) as reader:
        reader.arm_magnetic()
        assert reader.read_tracks() is None
        sim.swipe("-", "6222=2912")
        # The library only polls: the answer is awaited here.
        deadline = time.monotonic() + 5
        while (tracks := reader.read_tracks()) is None and time.monotonic() < deadline:
            time.sleep(0.01)
        assert tracks == ("", "6222=2912")


def test_virtual_reader_maps_and_restores_the_port():
    variable = "KPDEV_COM%d" % PORT
    os.environ.pop(variable, None)
    with VirtualReader(family="t61", port=PORT) as sim:
        assert os.environ[variable] == sim.port_path
        with kpdev.Reader(PORT, device_type=61, baud=115200) as reader:
            assert reader.module() == 61
    assert variable not in os.environ


def header_switch(function):
    with open(HEADER, encoding="utf-8") as header:
        text = header.read()
    body = text[text.index("static inline const char* %s(int code)" % function) :]
    body = body[: body.index("\n}\n")]
    return {int(code): value for code, value in re.findall(r'case (-?\d+):\s*return "([^"]*)";', body)}


def test_result_names_and_texts_are_those_of_the_header():
    if not os.path.exists(HEADER):
        pytest.skip("no source tree")
    assert kpdev.results.NAMES == header_switch("kp_dev_result_name")
    assert kpdev.results.TEXTS == header_switch("kp_dev_result_text")
    # Every code of the device-status range has a text of its own.
    texts = [kpdev.result_text(code) for code in range(-328, -304)]
    assert len(set(texts)) == len(texts)
    assert kpdev.results.KP_DEV_ERR_WRONG_KEY == -312
