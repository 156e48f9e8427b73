"""Result codes of the KP_DEV functions: the names and English texts of
kp_dev.h (kp_dev_result_name, kp_dev_result_text), as a Python table."""

OK = 0

NAMES = {
    0: "KP_DEV_OK",
    -1: "KP_DEV_ERR_OPEN",
    -2: "KP_DEV_ERR_WAIT",
    -3: "KP_DEV_ERR_WRITE",
    -4: "KP_DEV_ERR_READ",
    -5: "KP_DEV_ERR_PARAM",
    -6: "KP_DEV_ERR_ID_TIME_LIMIT",
    -8: "KP_DEV_ERR_FRAME",
    -9: "KP_DEV_ERR_STATUS",
    -10: "KP_DEV_ERR_NOT_OPEN",
    -20: "KP_DEV_ERR_NOT_SUPPORTED",
    -99: "KP_DEV_ERR_INTERNAL",
    -101: "KP_DEV_NOTHING_YET",
    -102: "KP_DEV_ERR_MAG_READ",
    -103: "KP_DEV_ERR_MAG_WRITE",
    -301: "KP_DEV_ERR_MODULE_REFUSED1",
    -302: "KP_DEV_ERR_MODULE_REFUSED2",
    -304: "KP_DEV_ERR_ROOM",
    -305: "KP_DEV_ERR_NO_CARD",
    -306: "KP_DEV_ERR_CARD_NOT_ACTIVE",
    -307: "KP_DEV_ERR_CARD_MUTE",
    -308: "KP_DEV_ERR_UNKNOWN_COMMAND",
    -309: "KP_DEV_ERR_WRONG_TECHNOLOGY",
    -310: "KP_DEV_ERR_BAD_DATA",
    -311: "KP_DEV_ERR_CARD_HALTED",
    -312: "KP_DEV_ERR_WRONG_KEY",
    -313: "KP_DEV_ERR_LOCKED",
    -314: "KP_DEV_ERR_CARD_CHANGED",
    -316: "KP_DEV_ERR_NOT_AUTHENTICATED",
    -317: "KP_DEV_ERR_BAD_CHECKSUM",
    -318: "KP_DEV_ERR_BAD_FRAME",
    -319: "KP_DEV_ERR_OUT_OF_RANGE",
    -320: "KP_DEV_ERR_WRONG_CARD",
    -321: "KP_DEV_ERR_VALUE_BLOCK",
    -324: "KP_DEV_ERR_PROTECTED",
    -326: "KP_DEV_ERR_NO_CARD_TYPE",
    -328: "KP_DEV_ERR_AUTH_FAILED",
    200: "KP_DEV_CARD_STATUS",
    201: "KP_DEV_CAPACITY_EXCEEDED",
}

TEXTS = {
    0: "success",
    -1: "open failure or refused parameter",
    -2: "a serial wait ran out, or the magnetic head was armed more than 29 s ago",
    -3: "serial write failure, or an unexpected identity-module answer",
    -4: "serial read failure or timeout",
    -5: "parameter out of range, or text that is not upper-case hexadecimal",
    -6: "the identity read's time limit passed",
    -8: "response frame not ended by ETX",
    -9: "unknown device status, unexpected reply byte, or tag not found",
    -10: "handle not open",
    -20: "operation not valid for this reader type or module",
    -99: "internal failure inside the library (e.g. out of memory)",
    -101: "nothing presented yet",
    -102: "magnetic read failure",
    -103: "magnetic write failure",
    -301: "module escape sequence refused (reply 1)",
    -302: "module escape sequence refused (reply 2)",
    -304: "the caller's buffer is smaller than the data",
    -305: "no card present (device status 1001)",
    -306: "card not powered or not activated (device status 1002)",
    -307: "card does not answer (device status 1004)",
    -308: "command unknown to the reader (device status 1005)",
    -309: "card of a technology these commands do not serve (device status 2001)",
    -310: "wrong data size or refused value (device status 2005)",
    -311: "contactless card halted (device status 3001)",
    -312: "wrong key or password (device status 3005)",
    -313: "locked: error counter exhausted (device status 3006)",
    -314: "card changed: the UID differs between activations (device status 3009)",
    -316: "authentication or password needed first (device status 3008)",
    -317: "checksum does not match (device status 1006)",
    -318: "malformed frame (device status 1007)",
    -319: "address, block or value out of range (device status 2004)",
    -320: "wrong kind of card for this operation (device status 2006)",
    -321: "value block check failed (device status 2007)",
    -324: "protected or read-only (device status 3007)",
    -326: "the device reported no card type",
    -328: "authentication failed or not done (device status 6003)",
    200: "card status word other than 9000",
    201: "the caller's capacity exceeded",
    -315: "device status result -315 (no status word maps to it)",
    -322: "device status result -322 (no status word maps to it)",
    -323: "device status result -323 (no status word maps to it)",
    -325: "device status result -325 (no status word maps to it)",
    -327: "device status result -327 (no status word maps to it)",
}

# KP_DEV_OK, KP_DEV_ERR_PARAM, ... as module constants.
globals().update({name: code for code, name in NAMES.items()})


def result_name(code):
    """The name of a result code, or None."""
    return NAMES.get(code)


def result_text(code):
    """An English text for a result code."""
    return TEXTS.get(code, "unknown result code")


class KpDevError(Exception):
    """A library function returned a failure: .code, .text and .function."""

    def __init__(self, function, code):
        self.function = function
        self.code = code
        self.text = result_text(code)
        super().__init__("%s: %d (%s)" % (function, code, self.text))
