"""Python interface to the KP_DEV card reader library.

    import kpdev

    with kpdev.Reader(3, device_type=1, baud=9600) as reader:   # COM3
        print(reader.device_version().decode("latin-1"))
        atr = reader.power_on(seat=0)
        answer = reader.apdu(bytes.fromhex("00A404000E315041592E5359532E4444463031"))

Card data is bytes in and out; the library's hexadecimal text is made and
read here.  A failure raises KpDevError with the result code and its text;
bad arguments raise TypeError or ValueError before the library is called.
`kpdev.sim` starts and drives the virtual reader.
"""

import ctypes
import re

from ._native import EXPORTS, SIGNATURES, library
from .results import OK, KpDevError, result_name, result_text

__all__ = ["Reader", "KpDevError", "result_name", "result_text", "library_version", "call", "SIGNATURES"]
__version__ = "2.0.0.2"

_HEX = re.compile(rb"[0-9A-F]*")

# Room for any hexadecimal answer: the device's answers are at most 1039
# bytes, 2078 characters and the terminator.
_TEXT_ROOM = 2080

# What a 32-bit argument of each kind can carry.
_INT_RANGES = {"int": (-(2**31), 2**31 - 1), "uint": (0, 2**32 - 1)}
_POINTEES = {"int*": ctypes.c_int, "float*": ctypes.c_float}
_ID_FIELDS = 9


def _pointee(value, ctype):
    """The value an int* or float* argument points to: ctypes.byref(x),
    ctypes.pointer(x) or an array of at least one element.  None otherwise."""
    if isinstance(value, ctypes.Array) and value._type_ is ctype and len(value) > 0:
        return value[0]
    if type(value).__name__ == "CArgObject" and isinstance(getattr(value, "_obj", None), ctype):
        return value._obj.value
    if isinstance(value, ctypes.POINTER(ctype)) and value:
        return value.contents.value
    return None


def _is_buffer(value):
    return isinstance(value, ctypes.Array) and value._type_ is ctypes.c_char


def _check_arguments(name, args):
    """The arguments as the library takes them, after every check that can
    be made here: types, 32-bit ranges, hexadecimal texts, no NULL, and the
    room of every output as the export table gives it.  TypeError or
    ValueError before anything reaches the library."""
    export = EXPORTS[name]
    if len(args) != len(export.arguments):
        raise TypeError("%s takes %d arguments" % (name, len(export.arguments)))
    values = {}
    texts = {}
    for position, ((kind, arg), value) in enumerate(zip(export.arguments, args)):
        where = "%s: argument %d (%s)" % (name, position, arg)
        if kind in _INT_RANGES:
            if isinstance(value, bool) or not isinstance(value, int):
                raise TypeError("%s must be an int" % where)
            low, high = _INT_RANGES[kind]
            if not low <= value <= high:
                raise ValueError("%s must be from %d to %d" % (where, low, high))
            values[arg] = value
        elif kind == "float":
            if isinstance(value, bool) or not isinstance(value, (int, float)):
                raise TypeError("%s must be a float" % where)
        elif kind in ("text", "hex"):
            if not isinstance(value, bytes):
                raise TypeError("%s must be bytes" % where)
            texts[arg] = len(value.split(b"\0", 1)[0])
            if kind == "hex" and (texts[arg] % 2 or not _HEX.fullmatch(value.split(b"\0", 1)[0])):
                raise ValueError("%s must be upper-case hexadecimal text of even length" % where)
        elif kind == "out":
            # The library writes here: only a mutable ctypes buffer will do.
            if not _is_buffer(value):
                raise TypeError("%s must be a buffer from ctypes.create_string_buffer" % where)
            texts[arg] = len(value.value)
        elif kind in _POINTEES:
            pointee = _pointee(value, _POINTEES[kind])
            if pointee is None:
                raise TypeError("%s must be ctypes.byref(ctypes.%s(...))" % (where, _POINTEES[kind].__name__))
            values[arg] = pointee
        elif kind == "out[9]":
            if isinstance(value, ctypes.Array) and value._type_ is ctypes.c_char_p:
                if len(value) < _ID_FIELDS:
                    raise ValueError("%s needs %d entries, not %d" % (where, _ID_FIELDS, len(value)))
                raise TypeError("%s: pass a list of %d ctypes.create_string_buffer buffers, so that their room "
                                "can be checked" % (where, _ID_FIELDS))
            if not isinstance(value, (list, tuple)) or not all(_is_buffer(b) for b in value):
                raise TypeError("%s must be a list of %d ctypes.create_string_buffer buffers" % (where, _ID_FIELDS))
            if len(value) != _ID_FIELDS:
                raise ValueError("%s needs %d buffers, not %d" % (where, _ID_FIELDS, len(value)))

    def resolve(arg, how):
        if how == "value":
            if values[arg] < 0:
                raise ValueError("%s: %s must not be negative" % (name, arg))
            return values[arg]
        return values[arg] if how == "pointee" else texts[arg]

    converted = list(args)
    for position, (kind, arg) in enumerate(export.arguments):
        if kind not in ("out", "out[9]"):
            continue
        room = export.rooms[arg].evaluate(resolve)
        buffers = [args[position]] if kind == "out" else args[position]
        for buffer in buffers:
            if len(buffer) < room:
                raise ValueError("%s: argument %d (%s) needs %d bytes of room, not %d"
                                 % (name, position, arg, room, len(buffer)))
        if kind == "out[9]":
            converted[position] = (ctypes.c_char_p * _ID_FIELDS)(*[ctypes.cast(b, ctypes.c_char_p) for b in buffers])
    return converted


def call(name, *args):
    """Calls an export by name; raises KpDevError unless it returns 0.
    Text arguments are bytes, outputs ctypes.create_string_buffer buffers
    (for KP_DEV_ID_Read a list of nine), int and float outputs
    ctypes.byref(...).  Every output must have the room that kp_dev.h
    gives it."""
    converted = _check_arguments(name, args)
    result = getattr(library(), name)(*converted)
    if result != OK:
        raise KpDevError(name, result)
    return result


def _bytes(value, what):
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise TypeError("%s must be bytes, not %s" % (what, type(value).__name__))
    return bytes(value)


def _hex_in(value, what):
    """bytes -> the upper-case hexadecimal text the library takes."""
    return _bytes(value, what).hex().upper().encode("ascii")


def _hex_out(buffer, what):
    text = buffer.value.decode("ascii")
    if len(text) % 2:
        raise ValueError("%s: odd-length hexadecimal text from the library" % what)
    return bytes.fromhex(text)


def _count(value, what, low=0, high=None):
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int" % what)
    if value < low or (high is not None and value > high):
        raise ValueError("%s must be from %d to %s" % (what, low, "any" if high is None else high))
    return value


def _text(value, what):
    if isinstance(value, str):
        return value.encode("ascii")
    return _bytes(value, what)


def library_version():
    """The library's version number, e.g. '2.0.0.2'."""
    text = ctypes.create_string_buffer(64)
    call("KP_DEV_GetDllVersion", text)
    return text.value.split(b" ", 1)[0].decode("ascii")


class Reader:
    """An open reader: `Reader(port, device_type, baud)`; port is a COM number
    (1 to 32).  Use it in a with-statement, or call close()."""

    def __init__(self, port, device_type=1, baud=9600):
        _count(port, "port", 1, 32)
        _count(device_type, "device_type")
        _count(baud, "baud", 1)
        self.handle = None
        target = ("COM%d:%d:N:8:1" % (port, baud)).encode("ascii")
        handle = ctypes.c_int(0)
        call("KP_DEV_OpenDevice", device_type, target, ctypes.byref(handle))
        self.handle = handle.value

    def close(self):
        if self.handle is not None:
            handle, self.handle = self.handle, None
            call("KP_DEV_CloseDevice", handle)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _call(self, name, *args):
        if self.handle is None:
            raise ValueError("the reader is closed")
        return call(name, self.handle, *args)

    # Device
    def device_version(self):
        """The firmware's version bytes."""
        text = ctypes.create_string_buffer(_TEXT_ROOM)
        self._call("KP_DEV_GetDeviceVersion", text)
        return _hex_out(text, "version")

    def module(self):
        module = ctypes.c_int(0)
        self._call("KP_DEV_CheckIsOpen", ctypes.byref(module))
        return module.value

    def beep(self, on=True):
        self._call("KP_DEV_IC_Voice", 1 if on else 0)

    # Contact CPU cards
    def card_state(self, seat=0):
        state = ctypes.c_int(0)
        self._call("KP_DEV_IC_GetStatus", _count(seat, "seat", 0, 255), ctypes.byref(state))
        return state.value

    def power_on(self, seat=0):
        """Powers the card on; returns its answer to reset."""
        room = 64
        length = ctypes.c_int(room)
        atr = ctypes.create_string_buffer(2 * room + 1)
        self._call("KP_DEV_IC_PowerOn", _count(seat, "seat", 0, 255), ctypes.byref(length), atr)
        return _hex_out(atr, "answer to reset")

    def power_off(self, seat=0):
        self._call("KP_DEV_IC_PowerOff", _count(seat, "seat", 0, 255))

    def apdu(self, command, seat=0, chained=False):
        """Sends one APDU; returns the answer with its status word at the end.
        chained: answer 61xx/6Cxx by itself (GET RESPONSE, resend with Le)."""
        text = _hex_in(command, "command")
        if not 4 <= len(text) // 2 <= 1033:
            raise ValueError("an APDU has 4 to 1033 bytes")
        answer = ctypes.create_string_buffer(_TEXT_ROOM)
        name = "KP_DEV_IC_SendApdu_A" if chained else "KP_DEV_IC_SendApdu"
        self._call(name, _count(seat, "seat", 0, 255), 0, text, len(text), answer)
        return _hex_out(answer, "APDU answer")

    # Contactless cards
    def _activate(self, name):
        card_type = ctypes.c_int(0)
        uid_len = ctypes.c_int(63)
        ats_len = ctypes.c_int(512)
        uid = ctypes.create_string_buffer(2 * 63 + 1)
        ats = ctypes.create_string_buffer(2 * 512 + 1)
        self._call(name, ctypes.byref(card_type), ctypes.byref(uid_len), uid, ctypes.byref(ats_len), ats)
        return card_type.value, _hex_out(uid, "UID"), _hex_out(ats, "ATS")

    def activate(self):
        """A contactless processor card: (card type, UID, answer to select)."""
        return self._activate("KP_DEV_IC_ConnectlessActive")

    def activate_store_card(self):
        """A contactless sector card: (card type, UID, answer)."""
        return self._activate("KP_DEV_IC_ConnectlessActiveStoreCard")

    def halt(self):
        self._call("KP_DEV_IC_ConnectlessHalt")

    def authenticate(self, sector, key, key_type=0):
        key = _hex_in(key, "key")
        if len(key) != 12:
            raise ValueError("a sector key has 6 bytes")
        self._call("KP_DEV_IC_ConnectlessCertifySector", _count(sector, "sector", 0, 15), _count(key_type, "key_type", 0, 255), key)

    def read_block(self, sector, block):
        # The room is counted in characters: 16 bytes are 32.
        length = ctypes.c_int(32)
        data = ctypes.create_string_buffer(2 * 16 + 1)
        self._call("KP_DEV_IC_ConnectlessReadBlock", _count(sector, "sector", 0, 15), _count(block, "block", 0, 3),
                   ctypes.byref(length), data)
        return _hex_out(data, "block")

    def write_block(self, sector, block, data):
        data = _hex_in(data, "data")
        if len(data) != 32:
            raise ValueError("a block has 16 bytes")
        self._call("KP_DEV_IC_ConnectlessWriteBlock", _count(sector, "sector", 0, 15), _count(block, "block", 0, 3), data)

    def read_value(self, sector, block):
        value = ctypes.c_float(0)
        self._call("KP_DEV_IC_ConnectlessReadValueBlock", _count(sector, "sector", 0, 15), _count(block, "block", 0, 3),
                   ctypes.byref(value))
        return value.value

    def write_value(self, sector, block, value):
        self._call("KP_DEV_IC_ConnectlessWriteValueBlock", _count(sector, "sector", 0, 15), _count(block, "block", 0, 3),
                   float(value))

    def increase(self, sector, block, amount):
        self._call("KP_DEV_IC_ConnectlessIncrease", _count(sector, "sector", 0, 15), _count(block, "block", 0, 3), float(amount))

    def decrease(self, sector, block, amount):
        self._call("KP_DEV_IC_ConnectlessDecrease", _count(sector, "sector", 0, 15), _count(block, "block", 0, 3), float(amount))

    # Magnetic stripe
    def arm_magnetic(self):
        self._call("KP_DEV_Magnetic_Accept")

    def cancel_magnetic(self):
        self._call("KP_DEV_Magnetic_CancelAccept")

    def read_tracks(self):
        """The tracks of a swiped card as (track1, track2) texts, or None
        while nothing was swiped."""
        track1 = ctypes.create_string_buffer(_TEXT_ROOM)
        track2 = ctypes.create_string_buffer(_TEXT_ROOM)
        result = library().KP_DEV_Magnetic_ReadTrack(self.handle, track1, track2)
        if result == -101:
            return None
        if result != OK:
            raise KpDevError("KP_DEV_Magnetic_ReadTrack", result)
        return track1.value.decode("latin-1"), track2.value.decode("latin-1")

    # Memory cards (SLE4442 user memory)
    def sle4442_verify(self, psc, seat=0):
        psc = _hex_in(psc, "psc")
        if len(psc) != 6:
            raise ValueError("an SLE4442 PSC has 3 bytes")
        self._call("KP_DEV_SLE4442_VerifyPwd", _count(seat, "seat", 0, 255), psc)

    def sle4442_read(self, address, length, seat=0):
        _count(address, "address", 0, 255)
        _count(length, "length", 1, 256 - address)
        data = ctypes.create_string_buffer(2 * length + 1)
        self._call("KP_DEV_SLE4442_ReadDataForUser", _count(seat, "seat", 0, 255), address, length, data)
        return _hex_out(data, "data")

    def sle4442_write(self, address, data, seat=0):
        _count(address, "address", 0, 255)
        text = _hex_in(data, "data")
        if not text or len(text) // 2 > 256 - address:
            raise ValueError("data must have 1 to %d bytes" % (256 - address))
        self._call("KP_DEV_SLE4442_WriteDataForUser", _count(seat, "seat", 0, 255), address, text)

    # Bank cards
    def track2(self, seat=0):
        """Track 2 equivalent data of a bank card, as text (D separates)."""
        text = ctypes.create_string_buffer(_TEXT_ROOM)
        self._call("KP_DEV_ReadFinanceICTrack2", _count(seat, "seat", 0, 255), 0, text)
        return text.value.decode("ascii")

    def card_info(self, seat=0):
        """(track 2, PAN sequence number, AID) of a bank card, as texts."""
        track2 = ctypes.create_string_buffer(_TEXT_ROOM)
        panseq = ctypes.create_string_buffer(_TEXT_ROOM)
        aid = ctypes.create_string_buffer(_TEXT_ROOM)
        self._call("KP_DEV_ReadICCardInfo", _count(seat, "seat", 0, 255), 0, track2, panseq, aid)
        return track2.value.decode("ascii"), panseq.value.decode("ascii"), aid.value.decode("ascii")
