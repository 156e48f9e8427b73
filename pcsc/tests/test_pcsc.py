"""The driver under a real pcscd, driven through pyscard.

Started by scripts/ci-pcsc.sh, which exports KPDEV_PCSC_CONTROL (the virtual
reader's control port) and KPDEV_PCSC_READER (the reader's friendly name).
Expected bytes come from ISO 7816-4 and the PC/SC storage-card commands; the
cards' contents are set by the tests through the control interface.
"""
import os
import sys
import time

import pytest
from smartcard import scard
from smartcard.System import readers

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "sim", "python"))
import kpdev_sim  # noqa: E402

NAME = os.environ.get("KPDEV_PCSC_READER", "KPDEV virtual reader")
CONTACT, FIELD = NAME + " 00 00", NAME + " 00 01"
CPU_ATR = "3B6800008031C0FE4B504331"
UID = "A1B2C3D4"
KEY = "FFFFFFFFFFFF"


def h(text):
    return [int(text[i:i + 2], 16) for i in range(0, len(text), 2)]


def hexs(data):
    return "".join("%02X" % b for b in data)


@pytest.fixture(scope="module")
def sim():
    with kpdev_sim.Control(int(os.environ["KPDEV_PCSC_CONTROL"])) as control:
        yield control


def wait_state(name, want_present, timeout=3.0):
    """Seconds until pcscd reports the slot's card present (or gone)."""
    rv, ctx = scard.SCardEstablishContext(scard.SCARD_SCOPE_USER)
    assert rv == 0
    try:
        start = time.monotonic()
        states = [(name, scard.SCARD_STATE_UNAWARE)]
        while time.monotonic() - start < timeout:
            rv, states = scard.SCardGetStatusChange(ctx, 250, states)
            if rv == 0 and bool(states[0][1] & scard.SCARD_STATE_PRESENT) == want_present:
                return time.monotonic() - start
            states = [(s[0], s[1] & ~scard.SCARD_STATE_CHANGED) for s in states]
        raise AssertionError("%s: card %s not seen" % (name, "insert" if want_present else "removal"))
    finally:
        scard.SCardReleaseContext(ctx)


def put(sim, seat, card):
    """Puts a card in a seat and waits until pcscd has seen it."""
    name = CONTACT if seat == 0 else FIELD
    if seat in (int(w.split("=")[0]) for w in sim.ok("cards").split()):
        sim.ok("remove %d" % seat)
        wait_state(name, False)
    sim.ok("insert %d %s" % (seat, card))
    wait_state(name, True)


def commands_sent(sim):
    """Command codes of the frames the host sent since the last clear, less
    the seat-status polls that pcscd's presence checks cause meanwhile."""
    words = sim.ok("traffic").split()
    codes = []
    for tag, run in zip(words[::2], words[1::2]):
        data = bytes.fromhex(run)
        i = 0
        while tag == "H>D" and i + 9 <= len(data):
            if data[i] != 0x02:
                i += 1
                continue
            codes.append("".join("%X" % (b - 0x30) for b in data[i + 5:i + 9]))
            i = data.find(b"\x03", i) + 1 or len(data)
    return [c for c in codes if c != "3221"]


def connect(name):
    reader = next(r for r in readers() if str(r) == name)
    conn = reader.createConnection()
    conn.connect()
    return conn


def tx(conn, apdu):
    data, sw1, sw2 = conn.transmit(h(apdu))
    return hexs(data), "%02X%02X" % (sw1, sw2)


def test_reader_lists_its_slots():
    names = [str(r) for r in readers()]
    assert CONTACT in names and FIELD in names and NAME + " 00 02" in names
    assert not [n for n in names if n.startswith("KPDEV broken")]  # the refused entries


def test_contact_card_atr_select_and_raw_get_response(sim):
    put(sim, 0, "cpu atr=%s getresponse" % CPU_ATR)
    conn = connect(CONTACT)
    assert hexs(conn.getATR()) == CPU_ATR
    # SELECT MF by identifier, no answer data asked (P2 0C).
    assert tx(conn, "00A4000C023F00") == ("", "9000")
    # A T=0 card holds back the FCI; the driver returns 61xx as the card sent it.
    data, sw = tx(conn, "00A40000023F00")
    assert data == "" and sw[:2] == "61"
    data, sw = tx(conn, "00C00000" + sw[2:])
    assert sw == "9000" and data.startswith("6F") and len(data) == 2 * int(data[2:4], 16) + 4
    conn.disconnect()


def test_contact_bad_apdus_never_reach_the_reader(sim):
    put(sim, 0, "cpu atr=%s" % CPU_ATR)
    conn = connect(CONTACT)
    sim.ok("clear")
    too_long = "00D60000000409" + "00" * 1033  # extended case 3, more than a frame carries
    for apdu in ("00A4", "00A40000023F", "00A40000023F000000", too_long):
        assert tx(conn, apdu) == ("", "6700"), apdu[:16]
    assert commands_sent(sim) == []
    conn.disconnect()


def test_late_apdu_answer_is_no_removal(sim):
    """An APDU answered 2 s late, after the reader's 800 ms: the exchange
    fails, and pcscd's presence polls meanwhile (every 400 ms) get their own
    answers, so the card is neither reported removed nor reset and the
    connection goes on."""
    put(sim, 0, "cpu atr=%s" % CPU_ATR)
    conn = connect(CONTACT)
    sim.ok("pacing on")
    sim.ok("device-time 3226 2000")
    try:
        with pytest.raises(Exception):
            conn.transmit(h("00A4000C023F00"))
        time.sleep(2.5)  # the late answer arrives; pcscd polls on
    finally:
        sim.ok("device-time 3226 5")
        sim.ok("pacing off")
    assert tx(conn, "00A4000C023F00") == ("", "9000")
    conn.disconnect()


def test_removal_and_insertion_seen_within_one_second(sim):
    put(sim, 0, "cpu atr=%s" % CPU_ATR)
    wait_state(CONTACT, True)
    sim.ok("remove 0")
    assert wait_state(CONTACT, False) < 1.0
    sim.ok("insert 0 cpu atr=%s" % CPU_ATR)
    assert wait_state(CONTACT, True) < 1.0


def fresh_sector(sim):
    put(sim, 255, "sector uid=%s" % UID)
    return connect(FIELD)


@pytest.fixture
def sector(sim):
    conn = fresh_sector(sim)
    yield conn
    conn.disconnect()


@pytest.fixture(scope="module")
def sector_once(sim):
    conn = fresh_sector(sim)
    yield conn
    conn.disconnect()


def test_sector_card_atr_uid_and_blocks(sim, sector):
    assert tx(sector, "FFCA000000") == (UID, "9000")
    assert tx(sector, "FFCA000004") == (UID, "9000")
    assert tx(sector, "FF820000 06" .replace(" ", "") + KEY) == ("", "9000")
    assert tx(sector, "FF860000050100046000") == ("", "9000")  # block 4, key A, slot 0
    sim.ok("clear")
    data, sw = tx(sector, "FFB0000410")
    assert sw == "9000" and data == sim.ok("rf-block 4")
    assert commands_sent(sim) == ["3243"]  # one block read
    block6 = sim.ok("rf-block 6")
    new = "00112233445566778899AABBCCDDEEFF"
    assert tx(sector, "FFD6000510" + new) == ("", "9000")
    assert tx(sector, "FFB0000500") == (new, "9000")
    assert sim.ok("rf-block 5") == new
    assert sim.ok("rf-block 6") == block6


def test_wrong_key_fails_and_right_key_still_works(sim, sector):
    assert tx(sector, "FF82000006" + KEY) == ("", "9000")
    assert tx(sector, "FF82000106A0A1A2A3A4A5") == ("", "9000")
    assert tx(sector, "FF860000050100086001") == ("", "6300")
    assert tx(sector, "FF860000050100086000") == ("", "9000")
    assert tx(sector, "FFB0000810")[1] == "9000"


@pytest.mark.parametrize("apdu,sw", [
    ("FFB00004", "6700"),                      # READ BINARY without Le
    ("FFB0000408", "6C10"),                    # a block is 16 bytes
    ("FFD60004 0F".replace(" ", "") + "00" * 15, "6700"),
    ("FF8200000501020304 05".replace(" ", ""), "6700"),
    ("FF82200006" + KEY, "6987"),              # non-volatile key memory
    ("FF82001006" + KEY, "6988"),              # key number beyond the slots
    ("FF860000050100046200", "6986"),          # unknown key type
    ("FF860000050100046020", "6988"),
    ("FF860000050100046005", "6984"),          # nothing loaded in slot 5
    ("FF8600000401000460", "6700"),
    ("FFCA050000", "6A81"),
    ("FFCA000002", "6C04"),
    ("FF99000000", "6D00"),
    ("00A4000C023F00", "6E00"),                # a sector card takes no APDUs
])
def test_sector_card_refusals_answered_by_the_driver(sim, sector_once, apdu, sw):
    sim.ok("clear")
    assert tx(sector_once, apdu) == ("", sw)
    assert commands_sent(sim) == []


def test_sector_card_refusals_from_the_card(sim, sector):
    assert tx(sector, "FF82000006" + KEY) == ("", "9000")
    assert tx(sector, "FF860000050100006000") == ("", "9000")      # sector 0
    assert tx(sector, "FFD6000010" + "00" * 16) == ("", "6986")     # block 0 is read-only
    assert tx(sector, "FFB0000810") == ("", "6982")                # sector 2 not authenticated


def test_contactless_cpu_card(sim):
    # ATS: TL 08, T0 75 (TA TB TC), then historical bytes 80 4B 50 44.
    put(sim, 255, "rf-cpu uid=04112233445566 ats=08758077024B5044")
    conn = connect(FIELD)
    assert hexs(conn.getATR()) == "3B8380014B5044" + "%02X" % (0x83 ^ 0x80 ^ 0x01 ^ 0x4B ^ 0x50 ^ 0x44)
    assert tx(conn, "FFCA000000") == ("04112233445566", "9000")
    assert tx(conn, "FFCA010000") == ("4B5044", "9000")
    assert tx(conn, "00A4000C023F00") == ("", "9000")
    assert tx(conn, "FFB0000410") == ("", "6981")
    conn.disconnect()


def test_field_removal_seen_and_card_pulled_during_use(sim):
    put(sim, 255, "rf-cpu uid=04112233445566 ats=0578807002")
    conn = connect(FIELD)
    sim.ok("remove 255")
    with pytest.raises(Exception):
        conn.transmit(h("00A4000C023F00"))
    conn.disconnect()
    assert wait_state(FIELD, False) < 1.0
    sim.ok("insert 255 sector uid=%s" % UID)
    assert wait_state(FIELD, True) < 1.0
    conn = connect(FIELD)
    assert tx(conn, "FFCA000000") == (UID, "9000")
    conn.disconnect()


def test_sam_seat_is_slot_two(sim):
    sim.ok("insert 1 cpu atr=3B6500008031C0FE4B")
    sam = NAME + " 00 02"
    wait_state(sam, True)
    conn = connect(sam)
    assert hexs(conn.getATR()) == "3B6500008031C0FE4B"
    assert tx(conn, "00A4000C023F00") == ("", "9000")
    conn.disconnect()
    sim.ok("remove 1")
