// Written by scripts/export_table.py --write from src/api/exports.tsv and include/kp_dev.h;
// the ExportTable test fails when this file differs. Do not edit.
namespace Kpdev
{
    /// <summary>The library's result codes with the names and English texts of
    /// kp_dev.h (kp_dev_result_name, kp_dev_result_text).</summary>
    public static class Results
    {
        public const int KP_DEV_OK = 0;
        public const int KP_DEV_ERR_OPEN = -1;
        public const int KP_DEV_ERR_WAIT = -2;
        public const int KP_DEV_ERR_WRITE = -3;
        public const int KP_DEV_ERR_READ = -4;
        public const int KP_DEV_ERR_PARAM = -5;
        public const int KP_DEV_ERR_ID_TIME_LIMIT = -6;
        public const int KP_DEV_ERR_FRAME = -8;
        public const int KP_DEV_ERR_STATUS = -9;
        public const int KP_DEV_ERR_NOT_OPEN = -10;
        public const int KP_DEV_ERR_NOT_SUPPORTED = -20;
        public const int KP_DEV_ERR_INTERNAL = -99;
        public const int KP_DEV_NOTHING_YET = -101;
        public const int KP_DEV_ERR_MAG_READ = -102;
        public const int KP_DEV_ERR_MAG_WRITE = -103;
        public const int KP_DEV_ERR_MODULE_REFUSED1 = -301;
        public const int KP_DEV_ERR_MODULE_REFUSED2 = -302;
        public const int KP_DEV_ERR_ROOM = -304;
        public const int KP_DEV_ERR_NO_CARD = -305;
        public const int KP_DEV_ERR_CARD_NOT_ACTIVE = -306;
        public const int KP_DEV_ERR_CARD_MUTE = -307;
        public const int KP_DEV_ERR_UNKNOWN_COMMAND = -308;
        public const int KP_DEV_ERR_WRONG_TECHNOLOGY = -309;
        public const int KP_DEV_ERR_BAD_DATA = -310;
        public const int KP_DEV_ERR_CARD_HALTED = -311;
        public const int KP_DEV_ERR_WRONG_KEY = -312;
        public const int KP_DEV_ERR_LOCKED = -313;
        public const int KP_DEV_ERR_CARD_CHANGED = -314;
        public const int KP_DEV_ERR_NOT_AUTHENTICATED = -316;
        public const int KP_DEV_ERR_BAD_CHECKSUM = -317;
        public const int KP_DEV_ERR_BAD_FRAME = -318;
        public const int KP_DEV_ERR_OUT_OF_RANGE = -319;
        public const int KP_DEV_ERR_WRONG_CARD = -320;
        public const int KP_DEV_ERR_VALUE_BLOCK = -321;
        public const int KP_DEV_ERR_PROTECTED = -324;
        public const int KP_DEV_ERR_NO_CARD_TYPE = -326;
        public const int KP_DEV_ERR_AUTH_FAILED = -328;
        public const int KP_DEV_CARD_STATUS = 200;
        public const int KP_DEV_CAPACITY_EXCEEDED = 201;

        /// <summary>The name of a result code ("KP_DEV_ERR_PARAM"), or null.</summary>
        public static string Name(int code)
        {
            switch (code)
            {
                case 0: return "KP_DEV_OK";
                case -1: return "KP_DEV_ERR_OPEN";
                case -2: return "KP_DEV_ERR_WAIT";
                case -3: return "KP_DEV_ERR_WRITE";
                case -4: return "KP_DEV_ERR_READ";
                case -5: return "KP_DEV_ERR_PARAM";
                case -6: return "KP_DEV_ERR_ID_TIME_LIMIT";
                case -8: return "KP_DEV_ERR_FRAME";
                case -9: return "KP_DEV_ERR_STATUS";
                case -10: return "KP_DEV_ERR_NOT_OPEN";
                case -20: return "KP_DEV_ERR_NOT_SUPPORTED";
                case -99: return "KP_DEV_ERR_INTERNAL";
                case -101: return "KP_DEV_NOTHING_YET";
                case -102: return "KP_DEV_ERR_MAG_READ";
                case -103: return "KP_DEV_ERR_MAG_WRITE";
                case -301: return "KP_DEV_ERR_MODULE_REFUSED1";
                case -302: return "KP_DEV_ERR_MODULE_REFUSED2";
                case -304: return "KP_DEV_ERR_ROOM";
                case -305: return "KP_DEV_ERR_NO_CARD";
                case -306: return "KP_DEV_ERR_CARD_NOT_ACTIVE";
                case -307: return "KP_DEV_ERR_CARD_MUTE";
                case -308: return "KP_DEV_ERR_UNKNOWN_COMMAND";
                case -309: return "KP_DEV_ERR_WRONG_TECHNOLOGY";
                case -310: return "KP_DEV_ERR_BAD_DATA";
                case -311: return "KP_DEV_ERR_CARD_HALTED";
                case -312: return "KP_DEV_ERR_WRONG_KEY";
                case -313: return "KP_DEV_ERR_LOCKED";
                case -314: return "KP_DEV_ERR_CARD_CHANGED";
                case -316: return "KP_DEV_ERR_NOT_AUTHENTICATED";
                case -317: return "KP_DEV_ERR_BAD_CHECKSUM";
                case -318: return "KP_DEV_ERR_BAD_FRAME";
                case -319: return "KP_DEV_ERR_OUT_OF_RANGE";
                case -320: return "KP_DEV_ERR_WRONG_CARD";
                case -321: return "KP_DEV_ERR_VALUE_BLOCK";
                case -324: return "KP_DEV_ERR_PROTECTED";
                case -326: return "KP_DEV_ERR_NO_CARD_TYPE";
                case -328: return "KP_DEV_ERR_AUTH_FAILED";
                case 200: return "KP_DEV_CARD_STATUS";
                case 201: return "KP_DEV_CAPACITY_EXCEEDED";
                default: return null;
            }
        }

        /// <summary>An English description of a result code; never null.</summary>
        public static string Text(int code)
        {
            switch (code)
            {
                case 0: return "success";
                case -1: return "open failure or refused parameter";
                case -2: return "a serial wait ran out, or the magnetic head was armed more than 29 s ago";
                case -3: return "serial write failure, or an unexpected identity-module answer";
                case -4: return "serial read failure or timeout";
                case -5: return "parameter out of range, or text that is not upper-case hexadecimal";
                case -6: return "the identity read's time limit passed";
                case -8: return "response frame not ended by ETX";
                case -9: return "unknown device status, unexpected reply byte, or tag not found";
                case -10: return "handle not open";
                case -20: return "operation not valid for this reader type or module";
                case -99: return "internal failure inside the library (e.g. out of memory)";
                case -101: return "nothing presented yet";
                case -102: return "magnetic read failure";
                case -103: return "magnetic write failure";
                case -301: return "module escape sequence refused (reply 1)";
                case -302: return "module escape sequence refused (reply 2)";
                case -304: return "the caller's buffer is smaller than the data";
                case -305: return "no card present (device status 1001)";
                case -306: return "card not powered or not activated (device status 1002)";
                case -307: return "card does not answer (device status 1004)";
                case -308: return "command unknown to the reader (device status 1005)";
                case -309: return "card of a technology these commands do not serve (device status 2001)";
                case -310: return "wrong data size or refused value (device status 2005)";
                case -311: return "contactless card halted (device status 3001)";
                case -312: return "wrong key or password (device status 3005)";
                case -313: return "locked: error counter exhausted (device status 3006)";
                case -314: return "card changed: the UID differs between activations (device status 3009)";
                case -316: return "authentication or password needed first (device status 3008)";
                case -317: return "checksum does not match (device status 1006)";
                case -318: return "malformed frame (device status 1007)";
                case -319: return "address, block or value out of range (device status 2004)";
                case -320: return "wrong kind of card for this operation (device status 2006)";
                case -321: return "value block check failed (device status 2007)";
                case -324: return "protected or read-only (device status 3007)";
                case -326: return "the device reported no card type";
                case -328: return "authentication failed or not done (device status 6003)";
                case 200: return "card status word other than 9000";
                case 201: return "the caller's capacity exceeded";
                case -315: return "device status result -315 (no status word maps to it)";
                case -322: return "device status result -322 (no status word maps to it)";
                case -323: return "device status result -323 (no status word maps to it)";
                case -325: return "device status result -325 (no status word maps to it)";
                case -327: return "device status result -327 (no status word maps to it)";
                default: return "unknown result code";
            }
        }
    }
}
