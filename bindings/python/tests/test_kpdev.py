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
        # Room for 64 bytes of answer to reset promised, one byte given.
        (lambda r: kpdev.call("KP_DEV_IC_PowerOn", r.handle, 0, ctypes.byref(ctypes.c_int(64)), _room(1)), ValueError),
        (lambda r: kpdev.call("KP_DEV_ID_Read", r.handle, 0, (ctypes.c_char_p * 1)()), ValueError),  # nine fields
        (lambda r: kpdev.call("KP_DEV_ID_Read", r.handle, 0, [_room(261)] * 8 + [_room(260)]), ValueError),
        (lambda r: kpdev.call("KP_DEV_IC_GetStatus", r.handle, 0, None), TypeError),  # NULL
        (lambda r: kpdev.call("KP_DEV_IC_SoftReset", r.handle, 2**31), ValueError),  # wider than 32 bits
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


# ---- Every export, its arguments made from the export table's kinds.
CLOSED = 23  # a handle that no test opens
SAMPLE = {"int": 4, "uint": 1000, "float": 1.5, "text": b"ABC", "hex": b"00A4"}


def _appends(export, output):
    return (output, "length") in export.rooms[output].names()


def _arguments(export, short=None):
    """Arguments for a call of export: handle CLOSED, every output exactly
    its room (short: that output one byte less).  An output the call appends
    to starts as an empty text; every other one is all 'Z', so that any byte
    written shows."""
    args = []
    for kind, name in export.arguments:
        if name == "handle":
            args.append(CLOSED)
        elif kind in SAMPLE:
            args.append(SAMPLE[kind])
        elif kind == "int*":
            args.append(ctypes.byref(ctypes.c_int(4)))
        elif kind == "float*":
            args.append(ctypes.byref(ctypes.c_float(2.5)))
        else:
            args.append(None)  # outputs: once every input is known
    values = {name: value for (kind, name), value in zip(export.arguments, args) if kind in SAMPLE}

    def resolve(name, how):
        if how == "value":
            return values[name]
        if how == "pointee":
            return 4
        return len(values[name]) if name in values else 0  # an output: the empty text it starts as

    for position, (kind, name) in enumerate(export.arguments):
        if kind in ("out", "out[9]"):
            room = export.rooms[name].evaluate(resolve) - (name == short)
            fill = b"\0" * room if _appends(export, name) else b"Z" * room
            buffers = [ctypes.create_string_buffer(fill, room) for _ in range(9 if kind == "out[9]" else 1)]
            args[position] = buffers if kind == "out[9]" else buffers[0]
    return args


def _raw(value):
    if isinstance(value, list):
        return [b.raw for b in value]
    if isinstance(value, ctypes.Array):
        return value.raw
    if type(value).__name__ == "CArgObject":
        return value._obj.value
    return value


HANDLED = [e for e in kpdev._native.EXPORTS.values() if e.closed is not None]


@pytest.mark.parametrize("export", HANDLED, ids=lambda e: e.name)
def test_a_closed_handle_gives_the_headers_result_and_writes_nothing(export):
    args = _arguments(export)
    before = [_raw(a) for a in args]
    try:
        result = kpdev.call(export.name, *args)
    except kpdev.KpDevError as failure:
        result = failure.code
    assert result == export.closed
    after = [_raw(a) for a in args]
    if export.name == "KP_DEV_ReadFinanceICTrack2":  # its first four bytes are set to zero
        position = [n for _, n in export.arguments].index("track2")
        before[position] = b"\0" * 4 + before[position][4:]
    if export.name == "KP_DEV_IC_SendApdu_A":  # the response is emptied
        position = [n for _, n in export.arguments].index("response")
        before[position] = b"\0" + before[position][1:]
    assert after == before


ROOMS = [(e, output) for e in kpdev._native.EXPORTS.values() for output in e.rooms if e.rooms[output].text != "0"]


@pytest.mark.parametrize("export, output", ROOMS, ids=lambda v: v if isinstance(v, str) else v.name)
def test_an_output_one_byte_short_is_refused_before_the_call(export, output):
    with pytest.raises(ValueError, match=output):
        kpdev.call(export.name, *_arguments(export, short=output))


def _int(value):
    return ctypes.byref(ctypes.c_int(value))


# Rooms written out from kp_dev.h, independent of the table's expressions:
# (function, arguments with OUT for the output checked, its room in bytes).
OUT = object()
ROOM_CASES = [
    ("KP_DEV_GetDllVersion", [OUT], 33),
    ("KP_DEV_IC_PowerOn", [CLOSED, 0, _int(4), OUT], 128),  # a replayed answer to reset needs 128
    ("KP_DEV_IC_PowerOn", [CLOSED, 0, _int(70), OUT], 141),
    ("KP_DEV_IC_ConnectlessActive", [CLOSED, _int(0), _int(10), OUT, _int(0), _room(1)], 21),
    ("KP_DEV_IC_ConnectlessReadBlock", [CLOSED, 1, 0, _int(32), OUT], 33),
    ("KP_DEV_IC_ConnectlessActiveStoreCard", [CLOSED, _int(0), _int(1), OUT, _int(0), _room(0)], 9),
    ("KP_DEV_SLE4442_ReadDataForUser", [CLOSED, 0, 0, 8, OUT], 17),
    ("KP_DEV_SLE4428_ReadData", [CLOSED, 0, 1, 0, 1, _room(3), OUT], 4),  # one flag up to "255"
    ("KP_DEV_SLE4428_ReadData", [CLOSED, 0, 1, 0, 5, _room(11), OUT], 8),
    ("KP_BcdToAsc", [b"ABCDEF", OUT], 3),
    ("KP_AscToBcd", [b"ABC", OUT], 7),
    ("ICCardFindSubStr", [b"5A0212349000", b"5A", OUT], 13),
    ("KP_DEV_ReadICCardGPOData", [CLOSED, 0, 0, OUT, 100], 101),
    ("KP_DEV_ID_GetData", [CLOSED, 1, OUT], 261),
    ("KP_DEV_IC_SendApdu", [CLOSED, 0, 0, b"00A4", 4, OUT], 2080),
]


@pytest.mark.parametrize("name, args, room", ROOM_CASES, ids=[c[0] for c in ROOM_CASES])
def test_each_output_needs_the_room_the_header_gives(name, args, room):
    at = args.index(OUT)
    enough = list(args)
    enough[at] = _room(room)
    kpdev._check_arguments(name, enough)
    short = list(args)
    short[at] = _room(room - 1)
    with pytest.raises(ValueError):
        kpdev._check_arguments(name, short)


def test_a_memory_read_appends_so_the_text_already_there_counts():
    held = ctypes.create_string_buffer(b"AB", 19)  # "AB", then 8 bytes as 16 characters and the NUL
    kpdev._check_arguments("KP_DEV_SLE4442_ReadDataForUser", [CLOSED, 0, 0, 8, held])
    with pytest.raises(ValueError):
        kpdev._check_arguments("KP_DEV_SLE4442_ReadDataForUser", [CLOSED, 0, 0, 8, ctypes.create_string_buffer(b"ABC", 19)])
