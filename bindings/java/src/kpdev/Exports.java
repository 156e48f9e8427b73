// Written by scripts/export_table.py --write from src/api/exports.tsv and include/kp_dev.h;
// the ExportTable test fails when this file differs. Do not edit.
package kpdev;

import com.sun.jna.ptr.FloatByReference;
import com.sun.jna.ptr.IntByReference;

/**
 * The library's 102 functions with their arguments checked before the call: no null,
 * every text input NUL-terminated, hex upper-case and of even length, and every
 * output at least the room that kp_dev.h gives it. A refused argument throws an
 * IllegalArgumentException (NullPointerException for a null) and nothing reaches the
 * library. Each returns the library's result unchanged.
 */
public final class Exports {
    private Exports() {}

    public static int KP_DEV_GetDllVersion(byte[] text) {
        Check.notNull("KP_DEV_GetDllVersion", "text", text);
        Check.room("KP_DEV_GetDllVersion", "text", text, 33L);
        return KpDev.library().KP_DEV_GetDllVersion(text);
    }

    public static int KP_DEV_OpenDevice(int deviceType, byte[] portSpec, IntByReference handle) {
        Check.text("KP_DEV_OpenDevice", "portSpec", portSpec);
        Check.notNull("KP_DEV_OpenDevice", "handle", handle);
        return KpDev.library().KP_DEV_OpenDevice(deviceType, portSpec, handle);
    }

    public static int KP_DEV_CloseDevice(int handle) {
        return KpDev.library().KP_DEV_CloseDevice(handle);
    }

    public static int KP_DEV_SetDeviceModule(int handle, int module) {
        return KpDev.library().KP_DEV_SetDeviceModule(handle, module);
    }

    public static int KP_DEV_IC_SoftReset(int handle, int mode) {
        return KpDev.library().KP_DEV_IC_SoftReset(handle, mode);
    }

    public static int KP_DEV_IC_GetStatus(int handle, int seat, IntByReference state) {
        Check.notNull("KP_DEV_IC_GetStatus", "state", state);
        return KpDev.library().KP_DEV_IC_GetStatus(handle, seat, state);
    }

    public static int KP_DEV_IC_PowerOn(int handle, int seat, IntByReference atrLen, byte[] atr) {
        Check.notNull("KP_DEV_IC_PowerOn", "atrLen", atrLen);
        Check.notNegative("KP_DEV_IC_PowerOn", "atrLen", atrLen.getValue());
        Check.notNull("KP_DEV_IC_PowerOn", "atr", atr);
        Check.room("KP_DEV_IC_PowerOn", "atr", atr, Math.max(((2L * (long) atrLen.getValue()) + 1L), 128L));
        return KpDev.library().KP_DEV_IC_PowerOn(handle, seat, atrLen, atr);
    }

    public static int KP_DEV_IC_PowerOff(int handle, int seat) {
        return KpDev.library().KP_DEV_IC_PowerOff(handle, seat);
    }

    public static int KP_DEV_IC_ConnectlessActive(int handle, IntByReference cardType, IntByReference uidLen, byte[] uid, IntByReference atsLen, byte[] ats) {
        Check.notNull("KP_DEV_IC_ConnectlessActive", "cardType", cardType);
        Check.notNull("KP_DEV_IC_ConnectlessActive", "uidLen", uidLen);
        Check.notNegative("KP_DEV_IC_ConnectlessActive", "uidLen", uidLen.getValue());
        Check.notNull("KP_DEV_IC_ConnectlessActive", "uid", uid);
        Check.notNull("KP_DEV_IC_ConnectlessActive", "atsLen", atsLen);
        Check.notNegative("KP_DEV_IC_ConnectlessActive", "atsLen", atsLen.getValue());
        Check.notNull("KP_DEV_IC_ConnectlessActive", "ats", ats);
        Check.room("KP_DEV_IC_ConnectlessActive", "uid", uid, ((2L * (long) uidLen.getValue()) + 1L));
        Check.room("KP_DEV_IC_ConnectlessActive", "ats", ats, ((2L * (long) atsLen.getValue()) + 1L));
        return KpDev.library().KP_DEV_IC_ConnectlessActive(handle, cardType, uidLen, uid, atsLen, ats);
    }

    public static int KP_DEV_IC_ConnectlessHalt(int handle) {
        return KpDev.library().KP_DEV_IC_ConnectlessHalt(handle);
    }

    public static int KP_DEV_IC_SendApdu(int handle, int seat, int reserved, String apdu, int apduLen, byte[] response) {
        Check.hex("KP_DEV_IC_SendApdu", "apdu", apdu);
        Check.notNull("KP_DEV_IC_SendApdu", "response", response);
        Check.room("KP_DEV_IC_SendApdu", "response", response, 2080L);
        return KpDev.library().KP_DEV_IC_SendApdu(handle, seat, reserved, apdu, apduLen, response);
    }

    public static int KP_DEV_IC_SetCardType(int handle, int seat, int cardType) {
        return KpDev.library().KP_DEV_IC_SetCardType(handle, seat, cardType);
    }

    public static int KP_DEV_IC_GetCardType(int handle, int seat, IntByReference cardType) {
        Check.notNull("KP_DEV_IC_GetCardType", "cardType", cardType);
        return KpDev.library().KP_DEV_IC_GetCardType(handle, seat, cardType);
    }

    public static int KP_DEV_IC_InitializeKey(int handle, int seat, String keyHex) {
        Check.hex("KP_DEV_IC_InitializeKey", "keyHex", keyHex);
        return KpDev.library().KP_DEV_IC_InitializeKey(handle, seat, keyHex);
    }

    public static int KP_DEV_IC_VerifyPwd(int handle, int seat, String pwdHex) {
        Check.hex("KP_DEV_IC_VerifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_IC_VerifyPwd(handle, seat, pwdHex);
    }

    public static int KP_DEV_IC_ReadStoreData(int handle, int seat, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_IC_ReadStoreData", "length", length);
        Check.terminated("KP_DEV_IC_ReadStoreData", "dataOut", dataOut);
        Check.room("KP_DEV_IC_ReadStoreData", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_IC_ReadStoreData(handle, seat, address, length, dataOut);
    }

    public static int KP_DEV_IC_WriteStoreData(int handle, int seat, int address, String dataHex) {
        Check.hex("KP_DEV_IC_WriteStoreData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_IC_WriteStoreData(handle, seat, address, dataHex);
    }

    public static int KP_DEV_IC_ConnectlessActiveStoreCard(int handle, IntByReference cardType, IntByReference uidLen, byte[] uid, IntByReference atsLen, byte[] ats) {
        Check.notNull("KP_DEV_IC_ConnectlessActiveStoreCard", "cardType", cardType);
        Check.notNull("KP_DEV_IC_ConnectlessActiveStoreCard", "uidLen", uidLen);
        Check.notNull("KP_DEV_IC_ConnectlessActiveStoreCard", "uid", uid);
        Check.notNull("KP_DEV_IC_ConnectlessActiveStoreCard", "atsLen", atsLen);
        Check.notNull("KP_DEV_IC_ConnectlessActiveStoreCard", "ats", ats);
        Check.room("KP_DEV_IC_ConnectlessActiveStoreCard", "uid", uid, 9L);
        Check.room("KP_DEV_IC_ConnectlessActiveStoreCard", "ats", ats, 0L);
        return KpDev.library().KP_DEV_IC_ConnectlessActiveStoreCard(handle, cardType, uidLen, uid, atsLen, ats);
    }

    public static int KP_DEV_IC_ConnectlessCertifySector(int handle, int sector, int keyType, String keyHex) {
        Check.hex("KP_DEV_IC_ConnectlessCertifySector", "keyHex", keyHex);
        return KpDev.library().KP_DEV_IC_ConnectlessCertifySector(handle, sector, keyType, keyHex);
    }

    public static int KP_DEV_IC_ConnectlessReadBlock(int handle, int sector, int block, IntByReference dataLen, byte[] dataOut) {
        Check.notNull("KP_DEV_IC_ConnectlessReadBlock", "dataLen", dataLen);
        Check.notNegative("KP_DEV_IC_ConnectlessReadBlock", "dataLen", dataLen.getValue());
        Check.notNull("KP_DEV_IC_ConnectlessReadBlock", "dataOut", dataOut);
        Check.room("KP_DEV_IC_ConnectlessReadBlock", "dataOut", dataOut, ((long) dataLen.getValue() + 1L));
        return KpDev.library().KP_DEV_IC_ConnectlessReadBlock(handle, sector, block, dataLen, dataOut);
    }

    public static int KP_DEV_IC_ConnectlessWriteBlock(int handle, int sector, int block, String dataHex) {
        Check.hex("KP_DEV_IC_ConnectlessWriteBlock", "dataHex", dataHex);
        return KpDev.library().KP_DEV_IC_ConnectlessWriteBlock(handle, sector, block, dataHex);
    }

    public static int KP_DEV_IC_ConnectlessReadValueBlock(int handle, int sector, int block, FloatByReference value) {
        Check.notNull("KP_DEV_IC_ConnectlessReadValueBlock", "value", value);
        return KpDev.library().KP_DEV_IC_ConnectlessReadValueBlock(handle, sector, block, value);
    }

    public static int KP_DEV_IC_ConnectlessWriteValueBlock(int handle, int sector, int block, float value) {
        return KpDev.library().KP_DEV_IC_ConnectlessWriteValueBlock(handle, sector, block, value);
    }

    public static int KP_DEV_IC_ConnectlessIncrease(int handle, int sector, int block, float amount) {
        return KpDev.library().KP_DEV_IC_ConnectlessIncrease(handle, sector, block, amount);
    }

    public static int KP_DEV_IC_ConnectlessDecrease(int handle, int sector, int block, float amount) {
        return KpDev.library().KP_DEV_IC_ConnectlessDecrease(handle, sector, block, amount);
    }

    public static int KP_DEV_IC_ConnectlessWriteKey(int handle, int sector, int keyType, String keyHex) {
        Check.hex("KP_DEV_IC_ConnectlessWriteKey", "keyHex", keyHex);
        return KpDev.library().KP_DEV_IC_ConnectlessWriteKey(handle, sector, keyType, keyHex);
    }

    public static int KP_DEV_Magnetic_Reset(int handle) {
        return KpDev.library().KP_DEV_Magnetic_Reset(handle);
    }

    public static int KP_DEV_Magnetic_Accept(int handle) {
        return KpDev.library().KP_DEV_Magnetic_Accept(handle);
    }

    public static int KP_DEV_Magnetic_CancelAccept(int handle) {
        return KpDev.library().KP_DEV_Magnetic_CancelAccept(handle);
    }

    public static int KP_DEV_Magnetic_ReadTrack(int handle, byte[] track1, byte[] track2) {
        Check.notNull("KP_DEV_Magnetic_ReadTrack", "track1", track1);
        Check.notNull("KP_DEV_Magnetic_ReadTrack", "track2", track2);
        Check.room("KP_DEV_Magnetic_ReadTrack", "track1", track1, 2080L);
        Check.room("KP_DEV_Magnetic_ReadTrack", "track2", track2, 2080L);
        return KpDev.library().KP_DEV_Magnetic_ReadTrack(handle, track1, track2);
    }

    public static int KP_DEV_Magnetic_WaitForWriteTrack(int handle, byte[] track1, byte[] track2) {
        Check.text("KP_DEV_Magnetic_WaitForWriteTrack", "track1", track1);
        Check.text("KP_DEV_Magnetic_WaitForWriteTrack", "track2", track2);
        return KpDev.library().KP_DEV_Magnetic_WaitForWriteTrack(handle, track1, track2);
    }

    public static int KP_DEV_Magnetic_ConfirmWriteTrack(int handle) {
        return KpDev.library().KP_DEV_Magnetic_ConfirmWriteTrack(handle);
    }

    public static int KP_DEV_Magnetic_CancelWriteTrack(int handle) {
        return KpDev.library().KP_DEV_Magnetic_CancelWriteTrack(handle);
    }

    public static int KP_AscToBcd(byte[] text, byte[] hexOut) {
        Check.text("KP_AscToBcd", "text", text);
        Check.notNull("KP_AscToBcd", "hexOut", hexOut);
        Check.room("KP_AscToBcd", "hexOut", hexOut, ((2L * Check.length(text)) + 1L));
        return KpDev.library().KP_AscToBcd(text, hexOut);
    }

    public static int KP_BcdToAsc(String hexText, byte[] bytesOut) {
        Check.hex("KP_BcdToAsc", "hexText", hexText);
        Check.notNull("KP_BcdToAsc", "bytesOut", bytesOut);
        Check.room("KP_BcdToAsc", "bytesOut", bytesOut, (Check.length(hexText) / 2L));
        return KpDev.library().KP_BcdToAsc(hexText, bytesOut);
    }

    public static int KP_DEV_CheckIsOpen(int handle, IntByReference module) {
        Check.notNull("KP_DEV_CheckIsOpen", "module", module);
        return KpDev.library().KP_DEV_CheckIsOpen(handle, module);
    }

    public static int KP_DEV_ReadFinanceICTrack2(int handle, int seat, int reserved, byte[] track2) {
        Check.notNull("KP_DEV_ReadFinanceICTrack2", "track2", track2);
        Check.room("KP_DEV_ReadFinanceICTrack2", "track2", track2, 2080L);
        return KpDev.library().KP_DEV_ReadFinanceICTrack2(handle, seat, reserved, track2);
    }

    public static int KP_DEV_ReadAll(int port, int unused1, int timeoutMs, int tryStoreCard, int sector, int block, int keyType, String keyHex, int tryContactBank, int tryContactlessBank, int unused2, IntByReference cardKind, byte[] result) {
        Check.hex("KP_DEV_ReadAll", "keyHex", keyHex);
        Check.notNull("KP_DEV_ReadAll", "cardKind", cardKind);
        Check.notNull("KP_DEV_ReadAll", "result", result);
        Check.room("KP_DEV_ReadAll", "result", result, 2080L);
        return KpDev.library().KP_DEV_ReadAll(port, unused1, timeoutMs, tryStoreCard, sector, block, keyType, keyHex, tryContactBank, tryContactlessBank, unused2, cardKind, result);
    }

    public static int KP_DEV_CancelReadAll() {
        return KpDev.library().KP_DEV_CancelReadAll();
    }

    public static int KP_DEV_ReadICCardInfo(int handle, int seat, int reserved, byte[] track2, byte[] panSeq, byte[] aid) {
        Check.notNull("KP_DEV_ReadICCardInfo", "track2", track2);
        Check.notNull("KP_DEV_ReadICCardInfo", "panSeq", panSeq);
        Check.notNull("KP_DEV_ReadICCardInfo", "aid", aid);
        Check.room("KP_DEV_ReadICCardInfo", "track2", track2, 2080L);
        Check.room("KP_DEV_ReadICCardInfo", "panSeq", panSeq, 2080L);
        Check.room("KP_DEV_ReadICCardInfo", "aid", aid, 2080L);
        return KpDev.library().KP_DEV_ReadICCardInfo(handle, seat, reserved, track2, panSeq, aid);
    }

    public static int KP_DEV_GetICTraceInfo(int handle, int seat, int reserved, String aid, String transType, String amount, byte[] chipData) {
        Check.hex("KP_DEV_GetICTraceInfo", "aid", aid);
        Check.hex("KP_DEV_GetICTraceInfo", "transType", transType);
        Check.hex("KP_DEV_GetICTraceInfo", "amount", amount);
        Check.notNull("KP_DEV_GetICTraceInfo", "chipData", chipData);
        Check.room("KP_DEV_GetICTraceInfo", "chipData", chipData, 2080L);
        return KpDev.library().KP_DEV_GetICTraceInfo(handle, seat, reserved, aid, transType, amount, chipData);
    }

    public static int KP_DEV_IC_Voice(int handle, int on) {
        return KpDev.library().KP_DEV_IC_Voice(handle, on);
    }

    public static int KP_DEV_IC_SendApdu_A(int handle, int seat, int reserved, String apdu, int apduLen, byte[] response) {
        Check.hex("KP_DEV_IC_SendApdu_A", "apdu", apdu);
        Check.notNull("KP_DEV_IC_SendApdu_A", "response", response);
        Check.room("KP_DEV_IC_SendApdu_A", "response", response, 2080L);
        return KpDev.library().KP_DEV_IC_SendApdu_A(handle, seat, reserved, apdu, apduLen, response);
    }

    public static int KP_DEV_ReadICCardGPOData(int handle, int seat, int reserved, byte[] records, int capacity) {
        Check.notNull("KP_DEV_ReadICCardGPOData", "records", records);
        Check.notNegative("KP_DEV_ReadICCardGPOData", "capacity", capacity);
        Check.room("KP_DEV_ReadICCardGPOData", "records", records, ((long) capacity + 1L));
        return KpDev.library().KP_DEV_ReadICCardGPOData(handle, seat, reserved, records, capacity);
    }

    public static int ICCardFindSubStr(String response, String tag, byte[] valueOut) {
        Check.hex("ICCardFindSubStr", "response", response);
        Check.hex("ICCardFindSubStr", "tag", tag);
        Check.notNull("ICCardFindSubStr", "valueOut", valueOut);
        Check.room("ICCardFindSubStr", "valueOut", valueOut, (Check.length(response) + 1L));
        return KpDev.library().ICCardFindSubStr(response, tag, valueOut);
    }

    public static int KP_DEV_AutoOpenDevice(IntByReference port, IntByReference baud, IntByReference handle, int deviceType) {
        Check.notNull("KP_DEV_AutoOpenDevice", "port", port);
        Check.notNull("KP_DEV_AutoOpenDevice", "baud", baud);
        Check.notNull("KP_DEV_AutoOpenDevice", "handle", handle);
        return KpDev.library().KP_DEV_AutoOpenDevice(port, baud, handle, deviceType);
    }

    public static int KP_DEV_IC_SetBaudRate(int handle, int seat, int baud) {
        return KpDev.library().KP_DEV_IC_SetBaudRate(handle, seat, baud);
    }

    public static int KP_DEV_ReadAll_A(int port, int unused1, int timeoutMs, int tryStoreCard, int sector, int block, int keyType, String keyHex, int tryContactBank, int tryContactlessBank, int unused2, IntByReference cardKind, byte[] result) {
        Check.hex("KP_DEV_ReadAll_A", "keyHex", keyHex);
        Check.notNull("KP_DEV_ReadAll_A", "cardKind", cardKind);
        Check.notNull("KP_DEV_ReadAll_A", "result", result);
        Check.room("KP_DEV_ReadAll_A", "result", result, 2080L);
        return KpDev.library().KP_DEV_ReadAll_A(port, unused1, timeoutMs, tryStoreCard, sector, block, keyType, keyHex, tryContactBank, tryContactlessBank, unused2, cardKind, result);
    }

    public static int KP_DEV_IC_VerifyPwdEXAT102(int handle, int seat, int zone, String pwdHex) {
        Check.hex("KP_DEV_IC_VerifyPwdEXAT102", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_IC_VerifyPwdEXAT102(handle, seat, zone, pwdHex);
    }

    public static int KP_DEV_IC_VerifyPwdEXAT1604(int handle, int seat, int pwdSelector, String pwdHex) {
        Check.hex("KP_DEV_IC_VerifyPwdEXAT1604", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_IC_VerifyPwdEXAT1604(handle, seat, pwdSelector, pwdHex);
    }

    public static int KP_DEV_IC_VerifyPwdEXAT1608(int handle, int seat, int zone, String pwdHex) {
        Check.hex("KP_DEV_IC_VerifyPwdEXAT1608", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_IC_VerifyPwdEXAT1608(handle, seat, zone, pwdHex);
    }

    public static int KP_DEV_IC_ReadStoreDataEXAT1608(int handle, int seat, int zone, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_IC_ReadStoreDataEXAT1608", "length", length);
        Check.terminated("KP_DEV_IC_ReadStoreDataEXAT1608", "dataOut", dataOut);
        Check.room("KP_DEV_IC_ReadStoreDataEXAT1608", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_IC_ReadStoreDataEXAT1608(handle, seat, zone, address, length, dataOut);
    }

    public static int KP_DEV_IC_WriteStoreDataEXAT1608(int handle, int seat, int zone, int address, String dataHex) {
        Check.hex("KP_DEV_IC_WriteStoreDataEXAT1608", "dataHex", dataHex);
        return KpDev.library().KP_DEV_IC_WriteStoreDataEXAT1608(handle, seat, zone, address, dataHex);
    }

    public static int KP_DEV_SLE4428_VerifyPwd(int handle, int seat, String pwdHex) {
        Check.hex("KP_DEV_SLE4428_VerifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_SLE4428_VerifyPwd(handle, seat, pwdHex);
    }

    public static int KP_DEV_SLE4428_ModifyPwd(int handle, int seat, String pwdHex) {
        Check.hex("KP_DEV_SLE4428_ModifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_SLE4428_ModifyPwd(handle, seat, pwdHex);
    }

    public static int KP_DEV_SLE4428_ReadERROR(int handle, int seat, IntByReference count) {
        Check.notNull("KP_DEV_SLE4428_ReadERROR", "count", count);
        return KpDev.library().KP_DEV_SLE4428_ReadERROR(handle, seat, count);
    }

    public static int KP_DEV_SLE4428_ReadData(int handle, int seat, int mode, int address, int length, byte[] dataOut, byte[] protectOut) {
        Check.notNegative("KP_DEV_SLE4428_ReadData", "length", length);
        Check.terminated("KP_DEV_SLE4428_ReadData", "dataOut", dataOut);
        Check.notNull("KP_DEV_SLE4428_ReadData", "protectOut", protectOut);
        Check.room("KP_DEV_SLE4428_ReadData", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        Check.room("KP_DEV_SLE4428_ReadData", "protectOut", protectOut, ((long) length + 3L));
        return KpDev.library().KP_DEV_SLE4428_ReadData(handle, seat, mode, address, length, dataOut, protectOut);
    }

    public static int KP_DEV_SLE4428_WriteData(int handle, int seat, int mode, int address, String dataHex) {
        Check.hex("KP_DEV_SLE4428_WriteData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_SLE4428_WriteData(handle, seat, mode, address, dataHex);
    }

    public static int KP_DEV_SLE4442_VerifyPwd(int handle, int seat, String pwdHex) {
        Check.hex("KP_DEV_SLE4442_VerifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_SLE4442_VerifyPwd(handle, seat, pwdHex);
    }

    public static int KP_DEV_SLE4442_ModifyPwd(int handle, int seat, String pwdHex) {
        Check.hex("KP_DEV_SLE4442_ModifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_SLE4442_ModifyPwd(handle, seat, pwdHex);
    }

    public static int KP_DEV_SLE4442_ReadERROR(int handle, int seat, IntByReference count) {
        Check.notNull("KP_DEV_SLE4442_ReadERROR", "count", count);
        return KpDev.library().KP_DEV_SLE4442_ReadERROR(handle, seat, count);
    }

    public static int KP_DEV_SLE4442_ReadDataForUser(int handle, int seat, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_SLE4442_ReadDataForUser", "length", length);
        Check.terminated("KP_DEV_SLE4442_ReadDataForUser", "dataOut", dataOut);
        Check.room("KP_DEV_SLE4442_ReadDataForUser", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_SLE4442_ReadDataForUser(handle, seat, address, length, dataOut);
    }

    public static int KP_DEV_SLE4442_WriteDataForUser(int handle, int seat, int address, String dataHex) {
        Check.hex("KP_DEV_SLE4442_WriteDataForUser", "dataHex", dataHex);
        return KpDev.library().KP_DEV_SLE4442_WriteDataForUser(handle, seat, address, dataHex);
    }

    public static int KP_DEV_SLE4442_ReadDataForProtection(int handle, int seat, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_SLE4442_ReadDataForProtection", "length", length);
        Check.terminated("KP_DEV_SLE4442_ReadDataForProtection", "dataOut", dataOut);
        Check.room("KP_DEV_SLE4442_ReadDataForProtection", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_SLE4442_ReadDataForProtection(handle, seat, address, length, dataOut);
    }

    public static int KP_DEV_SLE4442_WriteDataForProtection(int handle, int seat, int address, String dataHex) {
        Check.hex("KP_DEV_SLE4442_WriteDataForProtection", "dataHex", dataHex);
        return KpDev.library().KP_DEV_SLE4442_WriteDataForProtection(handle, seat, address, dataHex);
    }

    public static int KP_DEV_AT24CXX_ReadData(int handle, int seat, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_AT24CXX_ReadData", "length", length);
        Check.terminated("KP_DEV_AT24CXX_ReadData", "dataOut", dataOut);
        Check.room("KP_DEV_AT24CXX_ReadData", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_AT24CXX_ReadData(handle, seat, address, length, dataOut);
    }

    public static int KP_DEV_AT24CXX_WriteData(int handle, int seat, int address, String dataHex) {
        Check.hex("KP_DEV_AT24CXX_WriteData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_AT24CXX_WriteData(handle, seat, address, dataHex);
    }

    public static int KP_DEV_GetDeviceVersion(int handle, byte[] version) {
        Check.notNull("KP_DEV_GetDeviceVersion", "version", version);
        Check.room("KP_DEV_GetDeviceVersion", "version", version, 2080L);
        return KpDev.library().KP_DEV_GetDeviceVersion(handle, version);
    }

    public static int KP_DEV_AT88SC102_Fuse(int handle, int seat) {
        return KpDev.library().KP_DEV_AT88SC102_Fuse(handle, seat);
    }

    public static int KP_DEV_AT88SC102_VerifyPwd(int handle, int seat, int zone, String pwdHex) {
        Check.hex("KP_DEV_AT88SC102_VerifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_AT88SC102_VerifyPwd(handle, seat, zone, pwdHex);
    }

    public static int KP_DEV_AT88SC102_ModifyPwd(int handle, int seat, int zone, String pwdHex) {
        Check.hex("KP_DEV_AT88SC102_ModifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_AT88SC102_ModifyPwd(handle, seat, zone, pwdHex);
    }

    public static int KP_DEV_AT88SC102_ReadERROR(int handle, int seat, int zone, IntByReference count) {
        Check.notNull("KP_DEV_AT88SC102_ReadERROR", "count", count);
        return KpDev.library().KP_DEV_AT88SC102_ReadERROR(handle, seat, zone, count);
    }

    public static int KP_DEV_AT88SC102_ReadData(int handle, int seat, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_AT88SC102_ReadData", "length", length);
        Check.terminated("KP_DEV_AT88SC102_ReadData", "dataOut", dataOut);
        Check.room("KP_DEV_AT88SC102_ReadData", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_AT88SC102_ReadData(handle, seat, address, length, dataOut);
    }

    public static int KP_DEV_AT88SC102_WriteData(int handle, int seat, int address, String dataHex) {
        Check.hex("KP_DEV_AT88SC102_WriteData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_AT88SC102_WriteData(handle, seat, address, dataHex);
    }

    public static int KP_DEV_AT88SC1604_Fuse(int handle, int seat) {
        return KpDev.library().KP_DEV_AT88SC1604_Fuse(handle, seat);
    }

    public static int KP_DEV_AT88SC1604_VerifyPwd(int handle, int seat, int zone, String pwdHex) {
        Check.hex("KP_DEV_AT88SC1604_VerifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_AT88SC1604_VerifyPwd(handle, seat, zone, pwdHex);
    }

    public static int KP_DEV_AT88SC1604_ModifyPwd(int handle, int seat, int zone, String pwdHex) {
        Check.hex("KP_DEV_AT88SC1604_ModifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_AT88SC1604_ModifyPwd(handle, seat, zone, pwdHex);
    }

    public static int KP_DEV_AT88SC1604_ReadERROR(int handle, int seat, int zone, IntByReference count) {
        Check.notNull("KP_DEV_AT88SC1604_ReadERROR", "count", count);
        return KpDev.library().KP_DEV_AT88SC1604_ReadERROR(handle, seat, zone, count);
    }

    public static int KP_DEV_AT88SC1604_ReadData(int handle, int seat, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_AT88SC1604_ReadData", "length", length);
        Check.terminated("KP_DEV_AT88SC1604_ReadData", "dataOut", dataOut);
        Check.room("KP_DEV_AT88SC1604_ReadData", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_AT88SC1604_ReadData(handle, seat, address, length, dataOut);
    }

    public static int KP_DEV_AT88SC1604_WriteData(int handle, int seat, int address, String dataHex) {
        Check.hex("KP_DEV_AT88SC1604_WriteData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_AT88SC1604_WriteData(handle, seat, address, dataHex);
    }

    public static int KP_DEV_AT88SC1608_Fuse(int handle, int seat) {
        return KpDev.library().KP_DEV_AT88SC1608_Fuse(handle, seat);
    }

    public static int KP_DEV_AT88SC1608_VerifyPwd(int handle, int seat, int pwdSelect, int pwdSet, String pwdHex) {
        Check.hex("KP_DEV_AT88SC1608_VerifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_AT88SC1608_VerifyPwd(handle, seat, pwdSelect, pwdSet, pwdHex);
    }

    public static int KP_DEV_AT88SC1608_ModifyPwd(int handle, int seat, int pwdSelect, int pwdSet, String pwdHex) {
        Check.hex("KP_DEV_AT88SC1608_ModifyPwd", "pwdHex", pwdHex);
        return KpDev.library().KP_DEV_AT88SC1608_ModifyPwd(handle, seat, pwdSelect, pwdSet, pwdHex);
    }

    public static int KP_DEV_AT88SC1608_ReadERROR(int handle, int seat, int pwdSelect, int pwdSet, IntByReference count) {
        Check.notNull("KP_DEV_AT88SC1608_ReadERROR", "count", count);
        return KpDev.library().KP_DEV_AT88SC1608_ReadERROR(handle, seat, pwdSelect, pwdSet, count);
    }

    public static int KP_DEV_AT88SC1608_ReadData(int handle, int seat, int zone, int address, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_AT88SC1608_ReadData", "length", length);
        Check.terminated("KP_DEV_AT88SC1608_ReadData", "dataOut", dataOut);
        Check.room("KP_DEV_AT88SC1608_ReadData", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_AT88SC1608_ReadData(handle, seat, zone, address, length, dataOut);
    }

    public static int KP_DEV_AT88SC1608_WriteData(int handle, int seat, int zone, int address, String dataHex) {
        Check.hex("KP_DEV_AT88SC1608_WriteData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_AT88SC1608_WriteData(handle, seat, zone, address, dataHex);
    }

    public static int KP_DEV_AT45DB041_ReadData(int handle, int seat, int page, int offset, int length, byte[] dataOut) {
        Check.notNegative("KP_DEV_AT45DB041_ReadData", "length", length);
        Check.terminated("KP_DEV_AT45DB041_ReadData", "dataOut", dataOut);
        Check.room("KP_DEV_AT45DB041_ReadData", "dataOut", dataOut, ((Check.length(dataOut) + (2L * (long) length)) + 1L));
        return KpDev.library().KP_DEV_AT45DB041_ReadData(handle, seat, page, offset, length, dataOut);
    }

    public static int KP_DEV_AT45DB041_WriteData(int handle, int seat, int page, int offset, String dataHex) {
        Check.hex("KP_DEV_AT45DB041_WriteData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_AT45DB041_WriteData(handle, seat, page, offset, dataHex);
    }

    public static int KP_DEV_ID_FindID(int handle) {
        return KpDev.library().KP_DEV_ID_FindID(handle);
    }

    public static int KP_DEV_ID_GetData(int handle, int field, byte[] out) {
        Check.notNull("KP_DEV_ID_GetData", "out", out);
        Check.room("KP_DEV_ID_GetData", "out", out, 261L);
        return KpDev.library().KP_DEV_ID_GetData(handle, field, out);
    }

    public static int KP_DEV_ID_Read(int handle, int timeLimitMs, byte[][] fields) {
        Check.notNull("KP_DEV_ID_Read", "fields", fields);
        Check.fields("KP_DEV_ID_Read", "fields", fields, 261L);
        return Check.withFields(fields, pointers -> KpDev.library().KP_DEV_ID_Read(handle, timeLimitMs, pointers));
    }

    public static int KP_DEV_SetBaudRate(int handle, int baud) {
        return KpDev.library().KP_DEV_SetBaudRate(handle, baud);
    }

    public static int KP_DEV_SLE4428_ReadPwd(int handle, int seat, byte[] pwdOut) {
        Check.notNull("KP_DEV_SLE4428_ReadPwd", "pwdOut", pwdOut);
        Check.room("KP_DEV_SLE4428_ReadPwd", "pwdOut", pwdOut, 2080L);
        return KpDev.library().KP_DEV_SLE4428_ReadPwd(handle, seat, pwdOut);
    }

    public static int KP_DEV_SLE4442_ReadPwd(int handle, int seat, byte[] pwdOut) {
        Check.notNull("KP_DEV_SLE4442_ReadPwd", "pwdOut", pwdOut);
        Check.room("KP_DEV_SLE4442_ReadPwd", "pwdOut", pwdOut, 2080L);
        return KpDev.library().KP_DEV_SLE4442_ReadPwd(handle, seat, pwdOut);
    }

    public static int KP_DEV_AT88SC102_ReadPwd(int handle, int seat, int zone, byte[] pwdOut) {
        Check.notNull("KP_DEV_AT88SC102_ReadPwd", "pwdOut", pwdOut);
        Check.room("KP_DEV_AT88SC102_ReadPwd", "pwdOut", pwdOut, 2080L);
        return KpDev.library().KP_DEV_AT88SC102_ReadPwd(handle, seat, zone, pwdOut);
    }

    public static int KP_DEV_AT88SC1604_ReadPwd(int handle, int seat, int zone, byte[] pwdOut) {
        Check.notNull("KP_DEV_AT88SC1604_ReadPwd", "pwdOut", pwdOut);
        Check.room("KP_DEV_AT88SC1604_ReadPwd", "pwdOut", pwdOut, 2080L);
        return KpDev.library().KP_DEV_AT88SC1604_ReadPwd(handle, seat, zone, pwdOut);
    }

    public static int KP_DEV_AT88SC1608_ReadPwd(int handle, int seat, int pwdSelect, int pwdSet, byte[] pwdOut) {
        Check.notNull("KP_DEV_AT88SC1608_ReadPwd", "pwdOut", pwdOut);
        Check.room("KP_DEV_AT88SC1608_ReadPwd", "pwdOut", pwdOut, 2080L);
        return KpDev.library().KP_DEV_AT88SC1608_ReadPwd(handle, seat, pwdSelect, pwdSet, pwdOut);
    }

    public static int KP_DEV_AT88SC1608_InitAuthenticationCard(int handle, int seat, String authHex) {
        Check.hex("KP_DEV_AT88SC1608_InitAuthenticationCard", "authHex", authHex);
        return KpDev.library().KP_DEV_AT88SC1608_InitAuthenticationCard(handle, seat, authHex);
    }

    public static int KP_DEV_AT88SC1608_AuthenticationCard(int handle, int seat, String authHex) {
        Check.hex("KP_DEV_AT88SC1608_AuthenticationCard", "authHex", authHex);
        return KpDev.library().KP_DEV_AT88SC1608_AuthenticationCard(handle, seat, authHex);
    }

    public static int KP_DEV_AT88SC1608_ReadFuse(int handle, int seat, IntByReference fuse) {
        Check.notNull("KP_DEV_AT88SC1608_ReadFuse", "fuse", fuse);
        return KpDev.library().KP_DEV_AT88SC1608_ReadFuse(handle, seat, fuse);
    }

    public static int KP_DEV_AT88SC102_ClearData(int handle, int seat, int address, int length) {
        return KpDev.library().KP_DEV_AT88SC102_ClearData(handle, seat, address, length);
    }

    public static int KP_DEV_AT88SC102_CWriteData(int handle, int seat, int address, String dataHex) {
        Check.hex("KP_DEV_AT88SC102_CWriteData", "dataHex", dataHex);
        return KpDev.library().KP_DEV_AT88SC102_CWriteData(handle, seat, address, dataHex);
    }
}
