"""The shared library, loaded on first use, with every export declared.

The library is looked up in this order: the file named by $KPDEV_LIBRARY;
beside an installed package (the install step records where the library
went); under the prefix recorded when pip built the package, and the
virtual environment's prefix (_locate.py); the system's normal search for
the library's versioned name.
"""

import ctypes
import os
import struct
import sys

from . import _exports, _table

# Every export of the library, from its export table: name, ordinal,
# argument kinds and the room of each output.
EXPORTS = {export.name: export for export in _table.parse(_exports.TABLE)}

# One letter per argument: i int, I unsigned int, f float, s const char*,
# b char* (output), p int*, F float*, B char** (output pointer).
_LETTERS = {"int": "i", "uint": "I", "float": "f", "text": "s", "hex": "s", "out": "b", "int*": "p",
            "float*": "F", "out[9]": "B"}
SIGNATURES = {name: "".join(_LETTERS[a.kind] for a in export.arguments) for name, export in EXPORTS.items()}

_TYPES = {
    "i": ctypes.c_int,
    "I": ctypes.c_uint,
    "f": ctypes.c_float,
    "s": ctypes.c_char_p,
    "b": ctypes.c_char_p,
    "p": ctypes.POINTER(ctypes.c_int),
    "F": ctypes.POINTER(ctypes.c_float),
    "B": ctypes.POINTER(ctypes.c_char_p),
}

_library = None


def _candidates():
    own = os.environ.get("KPDEV_LIBRARY")
    if own:
        yield own
        return
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        from . import _installed
    except ImportError:
        _installed = None
    if sys.platform == "win32":
        if _installed is not None:
            yield os.path.join(here, _installed.PROGRAM_DIR, "KP_DEV.dll")
        yield "KP_DEV.dll"
        return
    if _installed is not None:
        yield os.path.normpath(os.path.join(here, _installed.LIBRARY_DIR, "libKP_DEV.so.2"))
    from . import _locate

    yield from _locate.library_paths("libKP_DEV.so.2")
    yield "libKP_DEV.so.2"
    yield "libKP_DEV.so"


def library():
    """The loaded library; OSError when it cannot be found."""
    global _library
    if _library is not None:
        return _library
    # 32-bit Windows exports are __stdcall; everywhere else there is one
    # calling convention.
    loader = ctypes.WinDLL if sys.platform == "win32" and struct.calcsize("P") == 4 else ctypes.CDLL
    errors = []
    for path in _candidates():
        if os.path.isabs(path) and not os.path.exists(path):
            errors.append("%s: no such file" % path)
            continue
        try:
            lib = loader(path)
            break
        except OSError as error:
            errors.append(str(error))
    else:
        raise OSError("the KP_DEV library was not found (set KPDEV_LIBRARY): " + "; ".join(errors))
    for name, letters in SIGNATURES.items():
        function = getattr(lib, name)
        function.argtypes = [_TYPES[letter] for letter in letters]
        function.restype = ctypes.c_int
    _library = lib
    return lib
