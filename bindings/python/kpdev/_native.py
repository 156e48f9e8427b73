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

# One letter per argument: i int, I unsigned int, f float, s const char*,
# b char* (output), p int*, F float*, B char** (output pointer).
SIGNATURES = {
    "KP_DEV_GetDllVersion": "b",
    "KP_DEV_OpenDevice": "isp",
    "KP_DEV_CloseDevice": "i",
    "KP_DEV_SetDeviceModule": "ii",
    "KP_DEV_IC_SoftReset": "ii",
    "KP_DEV_IC_GetStatus": "iip",
    "KP_DEV_IC_PowerOn": "iipb",
    "KP_DEV_IC_PowerOff": "ii",
    "KP_DEV_IC_ConnectlessActive": "ippbpb",
    "KP_DEV_IC_ConnectlessHalt": "i",
    "KP_DEV_IC_SendApdu": "iiisib",
    "KP_DEV_IC_SetCardType": "iii",
    "KP_DEV_IC_GetCardType": "iip",
    "KP_DEV_IC_InitializeKey": "iis",
    "KP_DEV_IC_VerifyPwd": "iis",
    "KP_DEV_IC_ReadStoreData": "iiiib",
    "KP_DEV_IC_WriteStoreData": "iiis",
    "KP_DEV_IC_ConnectlessActiveStoreCard": "ippbpb",
    "KP_DEV_IC_ConnectlessCertifySector": "iiis",
    "KP_DEV_IC_ConnectlessReadBlock": "iiipb",
    "KP_DEV_IC_ConnectlessWriteBlock": "iiis",
    "KP_DEV_IC_ConnectlessReadValueBlock": "iiiF",
    "KP_DEV_IC_ConnectlessWriteValueBlock": "iiif",
    "KP_DEV_IC_ConnectlessIncrease": "iiif",
    "KP_DEV_IC_ConnectlessDecrease": "iiif",
    "KP_DEV_IC_ConnectlessWriteKey": "iiis",
    "KP_DEV_Magnetic_Reset": "i",
    "KP_DEV_Magnetic_Accept": "i",
    "KP_DEV_Magnetic_CancelAccept": "i",
    "KP_DEV_Magnetic_ReadTrack": "ibb",
    "KP_DEV_Magnetic_WaitForWriteTrack": "iss",
    "KP_DEV_Magnetic_ConfirmWriteTrack": "i",
    "KP_DEV_Magnetic_CancelWriteTrack": "i",
    "KP_AscToBcd": "sb",
    "KP_BcdToAsc": "sb",
    "KP_DEV_CheckIsOpen": "ip",
    "KP_DEV_ReadFinanceICTrack2": "iiib",
    "KP_DEV_ReadAll": "iiIiiiisiiipb",
    "KP_DEV_CancelReadAll": "",
    "KP_DEV_ReadICCardInfo": "iiibbb",
    "KP_DEV_GetICTraceInfo": "iiisssb",
    "KP_DEV_IC_Voice": "ii",
    "KP_DEV_IC_SendApdu_A": "iiisib",
    "KP_DEV_ReadICCardGPOData": "iiibi",
    "ICCardFindSubStr": "ssb",
    "KP_DEV_AutoOpenDevice": "pppi",
    "KP_DEV_IC_SetBaudRate": "iii",
    "KP_DEV_ReadAll_A": "iiIiiiisiiipb",
    "KP_DEV_IC_VerifyPwdEXAT102": "iiis",
    "KP_DEV_IC_VerifyPwdEXAT1604": "iiis",
    "KP_DEV_IC_VerifyPwdEXAT1608": "iiis",
    "KP_DEV_IC_ReadStoreDataEXAT1608": "iiiiib",
    "KP_DEV_IC_WriteStoreDataEXAT1608": "iiiis",
    "KP_DEV_SLE4428_VerifyPwd": "iis",
    "KP_DEV_SLE4428_ModifyPwd": "iis",
    "KP_DEV_SLE4428_ReadERROR": "iip",
    "KP_DEV_SLE4428_ReadData": "iiiiibb",
    "KP_DEV_SLE4428_WriteData": "iiiis",
    "KP_DEV_SLE4442_VerifyPwd": "iis",
    "KP_DEV_SLE4442_ModifyPwd": "iis",
    "KP_DEV_SLE4442_ReadERROR": "iip",
    "KP_DEV_SLE4442_ReadDataForUser": "iiiib",
    "KP_DEV_SLE4442_WriteDataForUser": "iiis",
    "KP_DEV_SLE4442_ReadDataForProtection": "iiiib",
    "KP_DEV_SLE4442_WriteDataForProtection": "iiis",
    "KP_DEV_AT24CXX_ReadData": "iiiib",
    "KP_DEV_AT24CXX_WriteData": "iiis",
    "KP_DEV_GetDeviceVersion": "ib",
    "KP_DEV_AT88SC102_Fuse": "ii",
    "KP_DEV_AT88SC102_VerifyPwd": "iiis",
    "KP_DEV_AT88SC102_ModifyPwd": "iiis",
    "KP_DEV_AT88SC102_ReadERROR": "iiip",
    "KP_DEV_AT88SC102_ReadData": "iiiib",
    "KP_DEV_AT88SC102_WriteData": "iiis",
    "KP_DEV_AT88SC1604_Fuse": "ii",
    "KP_DEV_AT88SC1604_VerifyPwd": "iiis",
    "KP_DEV_AT88SC1604_ModifyPwd": "iiis",
    "KP_DEV_AT88SC1604_ReadERROR": "iiip",
    "KP_DEV_AT88SC1604_ReadData": "iiiib",
    "KP_DEV_AT88SC1604_WriteData": "iiis",
    "KP_DEV_AT88SC1608_Fuse": "ii",
    "KP_DEV_AT88SC1608_VerifyPwd": "iiiis",
    "KP_DEV_AT88SC1608_ModifyPwd": "iiiis",
    "KP_DEV_AT88SC1608_ReadERROR": "iiiip",
    "KP_DEV_AT88SC1608_ReadData": "iiiiib",
    "KP_DEV_AT88SC1608_WriteData": "iiiis",
    "KP_DEV_AT45DB041_ReadData": "iiiiib",
    "KP_DEV_AT45DB041_WriteData": "iiiis",
    "KP_DEV_ID_FindID": "i",
    "KP_DEV_ID_GetData": "iib",
    "KP_DEV_ID_Read": "iiB",
    "KP_DEV_SetBaudRate": "ii",
    "KP_DEV_SLE4428_ReadPwd": "iib",
    "KP_DEV_SLE4442_ReadPwd": "iib",
    "KP_DEV_AT88SC102_ReadPwd": "iiib",
    "KP_DEV_AT88SC1604_ReadPwd": "iiib",
    "KP_DEV_AT88SC1608_ReadPwd": "iiiib",
    "KP_DEV_AT88SC1608_InitAuthenticationCard": "iis",
    "KP_DEV_AT88SC1608_AuthenticationCard": "iis",
    "KP_DEV_AT88SC1608_ReadFuse": "iip",
    "KP_DEV_AT88SC102_ClearData": "iiii",
    "KP_DEV_AT88SC102_CWriteData": "iiis",
}

# Arguments (by position) that must be upper-case hexadecimal text.
HEX_ARGUMENTS = {
    "KP_DEV_IC_SendApdu": (3,),
    "KP_DEV_IC_InitializeKey": (2,),
    "KP_DEV_IC_VerifyPwd": (2,),
    "KP_DEV_IC_WriteStoreData": (3,),
    "KP_DEV_IC_ConnectlessCertifySector": (3,),
    "KP_DEV_IC_ConnectlessWriteBlock": (3,),
    "KP_DEV_IC_ConnectlessWriteKey": (3,),
    "KP_BcdToAsc": (0,),
    "KP_DEV_ReadAll": (7,),
    "KP_DEV_IC_SendApdu_A": (3,),
    "KP_DEV_ReadAll_A": (7,),
    "KP_DEV_IC_VerifyPwdEXAT102": (3,),
    "KP_DEV_IC_VerifyPwdEXAT1604": (3,),
    "KP_DEV_IC_VerifyPwdEXAT1608": (3,),
    "KP_DEV_IC_WriteStoreDataEXAT1608": (4,),
    "KP_DEV_SLE4428_VerifyPwd": (2,),
    "KP_DEV_SLE4428_ModifyPwd": (2,),
    "KP_DEV_SLE4428_WriteData": (4,),
    "KP_DEV_SLE4442_VerifyPwd": (2,),
    "KP_DEV_SLE4442_ModifyPwd": (2,),
    "KP_DEV_SLE4442_WriteDataForUser": (3,),
    "KP_DEV_SLE4442_WriteDataForProtection": (3,),
    "KP_DEV_AT24CXX_WriteData": (3,),
    "KP_DEV_AT88SC102_VerifyPwd": (3,),
    "KP_DEV_AT88SC102_ModifyPwd": (3,),
    "KP_DEV_AT88SC102_WriteData": (3,),
    "KP_DEV_AT88SC1604_VerifyPwd": (3,),
    "KP_DEV_AT88SC1604_ModifyPwd": (3,),
    "KP_DEV_AT88SC1604_WriteData": (3,),
    "KP_DEV_AT88SC1608_VerifyPwd": (4,),
    "KP_DEV_AT88SC1608_ModifyPwd": (4,),
    "KP_DEV_AT88SC1608_WriteData": (4,),
    "KP_DEV_AT45DB041_WriteData": (4,),
    "KP_DEV_AT88SC1608_InitAuthenticationCard": (2,),
    "KP_DEV_AT88SC1608_AuthenticationCard": (2,),
    "KP_DEV_AT88SC102_CWriteData": (3,),
}

# The room (bytes, terminator included) kp_dev.h gives each text output,
# by position: a number, or a function of the call's arguments.
TEXT_ROOM = 2080
DLL_VERSION_ROOM = 33
ID_FIELD_ROOM = 261


def _twice(position):
    return lambda args: 2 * args[position] + 1


def _text_length(position, factor, extra):
    return lambda args: factor * len(args[position]) + extra


CAPACITIES = {
    "KP_DEV_GetDllVersion": {0: DLL_VERSION_ROOM},
    "KP_DEV_GetDeviceVersion": {1: TEXT_ROOM},
    "KP_DEV_IC_SendApdu": {5: TEXT_ROOM},
    "KP_DEV_IC_SendApdu_A": {5: TEXT_ROOM},
    "KP_DEV_IC_ConnectlessActiveStoreCard": {3: 9},
    "KP_DEV_IC_ReadStoreData": {4: _twice(3)},
    "KP_DEV_IC_ReadStoreDataEXAT1608": {5: _twice(4)},
    "KP_DEV_SLE4428_ReadData": {5: _twice(4), 6: _twice(4)},
    "KP_DEV_SLE4442_ReadDataForUser": {4: _twice(3)},
    "KP_DEV_SLE4442_ReadDataForProtection": {4: _twice(3)},
    "KP_DEV_AT24CXX_ReadData": {4: _twice(3)},
    "KP_DEV_AT88SC102_ReadData": {4: _twice(3)},
    "KP_DEV_AT88SC1604_ReadData": {4: _twice(3)},
    "KP_DEV_AT88SC1608_ReadData": {5: _twice(4)},
    "KP_DEV_AT45DB041_ReadData": {5: _twice(4)},
    "KP_DEV_SLE4428_ReadPwd": {2: TEXT_ROOM},
    "KP_DEV_SLE4442_ReadPwd": {2: TEXT_ROOM},
    "KP_DEV_AT88SC102_ReadPwd": {3: TEXT_ROOM},
    "KP_DEV_AT88SC1604_ReadPwd": {3: TEXT_ROOM},
    "KP_DEV_AT88SC1608_ReadPwd": {4: TEXT_ROOM},
    "KP_DEV_Magnetic_ReadTrack": {1: TEXT_ROOM, 2: TEXT_ROOM},
    "KP_AscToBcd": {1: _text_length(0, 2, 1)},
    "KP_BcdToAsc": {1: _text_length(0, 1, 0)},  # hexText / 2 bytes; length / 2 rounded up is close enough
    "KP_DEV_ReadFinanceICTrack2": {3: TEXT_ROOM},
    "KP_DEV_ReadICCardInfo": {3: TEXT_ROOM, 4: TEXT_ROOM, 5: TEXT_ROOM},
    "KP_DEV_GetICTraceInfo": {6: TEXT_ROOM},
    "KP_DEV_ReadICCardGPOData": {3: lambda args: args[4] + 1},
    "ICCardFindSubStr": {2: _text_length(0, 1, 1)},
    "KP_DEV_ReadAll": {12: TEXT_ROOM},
    "KP_DEV_ReadAll_A": {12: TEXT_ROOM},
    "KP_DEV_ID_GetData": {2: ID_FIELD_ROOM},
}

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
