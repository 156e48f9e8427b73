// Written by scripts/export_table.py --write from src/api/exports.tsv and include/kp_dev.h;
// the ExportTable test fails when this file differs. Do not edit.
package kpdev;

import com.sun.jna.Library;
import com.sun.jna.Pointer;
import com.sun.jna.ptr.FloatByReference;
import com.sun.jna.ptr.IntByReference;

/**
 * The library's 102 functions as it exports them, unchecked: an output smaller than
 * its room is overrun, as in C. {@link Exports} checks the arguments first. An
 * {@code unsigned int} of C is an {@code int} here, carrying the same 32 bits. Get
 * the loaded library from {@link KpDev#library()}, which picks the __stdcall
 * convention on 32-bit Windows.
 */
public interface KpDevLibrary extends Library {
    int KP_DEV_GetDllVersion(byte[] text);

    int KP_DEV_OpenDevice(int deviceType, byte[] portSpec, IntByReference handle);

    int KP_DEV_CloseDevice(int handle);

    int KP_DEV_SetDeviceModule(int handle, int module);

    int KP_DEV_IC_SoftReset(int handle, int mode);

    int KP_DEV_IC_GetStatus(int handle, int seat, IntByReference state);

    int KP_DEV_IC_PowerOn(int handle, int seat, IntByReference atrLen, byte[] atr);

    int KP_DEV_IC_PowerOff(int handle, int seat);

    int KP_DEV_IC_ConnectlessActive(int handle, IntByReference cardType, IntByReference uidLen, byte[] uid, IntByReference atsLen, byte[] ats);

    int KP_DEV_IC_ConnectlessHalt(int handle);

    int KP_DEV_IC_SendApdu(int handle, int seat, int reserved, String apdu, int apduLen, byte[] response);

    int KP_DEV_IC_SetCardType(int handle, int seat, int cardType);

    int KP_DEV_IC_GetCardType(int handle, int seat, IntByReference cardType);

    int KP_DEV_IC_InitializeKey(int handle, int seat, String keyHex);

    int KP_DEV_IC_VerifyPwd(int handle, int seat, String pwdHex);

    int KP_DEV_IC_ReadStoreData(int handle, int seat, int address, int length, byte[] dataOut);

    int KP_DEV_IC_WriteStoreData(int handle, int seat, int address, String dataHex);

    int KP_DEV_IC_ConnectlessActiveStoreCard(int handle, IntByReference cardType, IntByReference uidLen, byte[] uid, IntByReference atsLen, byte[] ats);

    int KP_DEV_IC_ConnectlessCertifySector(int handle, int sector, int keyType, String keyHex);

    int KP_DEV_IC_ConnectlessReadBlock(int handle, int sector, int block, IntByReference dataLen, byte[] dataOut);

    int KP_DEV_IC_ConnectlessWriteBlock(int handle, int sector, int block, String dataHex);

    int KP_DEV_IC_ConnectlessReadValueBlock(int handle, int sector, int block, FloatByReference value);

    int KP_DEV_IC_ConnectlessWriteValueBlock(int handle, int sector, int block, float value);

    int KP_DEV_IC_ConnectlessIncrease(int handle, int sector, int block, float amount);

    int KP_DEV_IC_ConnectlessDecrease(int handle, int sector, int block, float amount);

    int KP_DEV_IC_ConnectlessWriteKey(int handle, int sector, int keyType, String keyHex);

    int KP_DEV_Magnetic_Reset(int handle);

    int KP_DEV_Magnetic_Accept(int handle);

    int KP_DEV_Magnetic_CancelAccept(int handle);

    int KP_DEV_Magnetic_ReadTrack(int handle, byte[] track1, byte[] track2);

    int KP_DEV_Magnetic_WaitForWriteTrack(int handle, byte[] track1, byte[] track2);

    int KP_DEV_Magnetic_ConfirmWriteTrack(int handle);

    int KP_DEV_Magnetic_CancelWriteTrack(int handle);

    int KP_AscToBcd(byte[] text, byte[] hexOut);

    int KP_BcdToAsc(String hexText, byte[] bytesOut);

    int KP_DEV_CheckIsOpen(int handle, IntByReference module);

    int KP_DEV_ReadFinanceICTrack2(int handle, int seat, int reserved, byte[] track2);

    int KP_DEV_ReadAll(int port, int unused1, int timeoutMs, int tryStoreCard, int sector, int block, int keyType, String keyHex, int tryContactBank, int tryContactlessBank, int unused2, IntByReference cardKind, byte[] result);

    int KP_DEV_CancelReadAll();

    int KP_DEV_ReadICCardInfo(int handle, int seat, int reserved, byte[] track2, byte[] panSeq, byte[] aid);

    int KP_DEV_GetICTraceInfo(int handle, int seat, int reserved, String aid, String transType, String amount, byte[] chipData);

    int KP_DEV_IC_Voice(int handle, int on);

    int KP_DEV_IC_SendApdu_A(int handle, int seat, int reserved, String apdu, int apduLen, byte[] response);

    int KP_DEV_ReadICCardGPOData(int handle, int seat, int reserved, byte[] records, int capacity);

    int ICCardFindSubStr(String response, String tag, byte[] valueOut);

    int KP_DEV_AutoOpenDevice(IntByReference port, IntByReference baud, IntByReference handle, int deviceType);

    int KP_DEV_IC_SetBaudRate(int handle, int seat, int baud);

    int KP_DEV_ReadAll_A(int port, int unused1, int timeoutMs, int tryStoreCard, int sector, int block, int keyType, String keyHex, int tryContactBank, int tryContactlessBank, int unused2, IntByReference cardKind, byte[] result);

    int KP_DEV_IC_VerifyPwdEXAT102(int handle, int seat, int zone, String pwdHex);

    int KP_DEV_IC_VerifyPwdEXAT1604(int handle, int seat, int pwdSelector, String pwdHex);

    int KP_DEV_IC_VerifyPwdEXAT1608(int handle, int seat, int zone, String pwdHex);

    int KP_DEV_IC_ReadStoreDataEXAT1608(int handle, int seat, int zone, int address, int length, byte[] dataOut);

    int KP_DEV_IC_WriteStoreDataEXAT1608(int handle, int seat, int zone, int address, String dataHex);

    int KP_DEV_SLE4428_VerifyPwd(int handle, int seat, String pwdHex);

    int KP_DEV_SLE4428_ModifyPwd(int handle, int seat, String pwdHex);

    int KP_DEV_SLE4428_ReadERROR(int handle, int seat, IntByReference count);

    int KP_DEV_SLE4428_ReadData(int handle, int seat, int mode, int address, int length, byte[] dataOut, byte[] protectOut);

    int KP_DEV_SLE4428_WriteData(int handle, int seat, int mode, int address, String dataHex);

    int KP_DEV_SLE4442_VerifyPwd(int handle, int seat, String pwdHex);

    int KP_DEV_SLE4442_ModifyPwd(int handle, int seat, String pwdHex);

    int KP_DEV_SLE4442_ReadERROR(int handle, int seat, IntByReference count);

    int KP_DEV_SLE4442_ReadDataForUser(int handle, int seat, int address, int length, byte[] dataOut);

    int KP_DEV_SLE4442_WriteDataForUser(int handle, int seat, int address, String dataHex);

    int KP_DEV_SLE4442_ReadDataForProtection(int handle, int seat, int address, int length, byte[] dataOut);

    int KP_DEV_SLE4442_WriteDataForProtection(int handle, int seat, int address, String dataHex);

    int KP_DEV_AT24CXX_ReadData(int handle, int seat, int address, int length, byte[] dataOut);

    int KP_DEV_AT24CXX_WriteData(int handle, int seat, int address, String dataHex);

    int KP_DEV_GetDeviceVersion(int handle, byte[] version);

    int KP_DEV_AT88SC102_Fuse(int handle, int seat);

    int KP_DEV_AT88SC102_VerifyPwd(int handle, int seat, int zone, String pwdHex);

    int KP_DEV_AT88SC102_ModifyPwd(int handle, int seat, int zone, String pwdHex);

    int KP_DEV_AT88SC102_ReadERROR(int handle, int seat, int zone, IntByReference count);

    int KP_DEV_AT88SC102_ReadData(int handle, int seat, int address, int length, byte[] dataOut);

    int KP_DEV_AT88SC102_WriteData(int handle, int seat, int address, String dataHex);

    int KP_DEV_AT88SC1604_Fuse(int handle, int seat);

    int KP_DEV_AT88SC1604_VerifyPwd(int handle, int seat, int zone, String pwdHex);

    int KP_DEV_AT88SC1604_ModifyPwd(int handle, int seat, int zone, String pwdHex);

    int KP_DEV_AT88SC1604_ReadERROR(int handle, int seat, int zone, IntByReference count);

    int KP_DEV_AT88SC1604_ReadData(int handle, int seat, int address, int length, byte[] dataOut);

    int KP_DEV_AT88SC1604_WriteData(int handle, int seat, int address, String dataHex);

    int KP_DEV_AT88SC1608_Fuse(int handle, int seat);

    int KP_DEV_AT88SC1608_VerifyPwd(int handle, int seat, int pwdSelect, int pwdSet, String pwdHex);

    int KP_DEV_AT88SC1608_ModifyPwd(int handle, int seat, int pwdSelect, int pwdSet, String pwdHex);

    int KP_DEV_AT88SC1608_ReadERROR(int handle, int seat, int pwdSelect, int pwdSet, IntByReference count);

    int KP_DEV_AT88SC1608_ReadData(int handle, int seat, int zone, int address, int length, byte[] dataOut);

    int KP_DEV_AT88SC1608_WriteData(int handle, int seat, int zone, int address, String dataHex);

    int KP_DEV_AT45DB041_ReadData(int handle, int seat, int page, int offset, int length, byte[] dataOut);

    int KP_DEV_AT45DB041_WriteData(int handle, int seat, int page, int offset, String dataHex);

    int KP_DEV_ID_FindID(int handle);

    int KP_DEV_ID_GetData(int handle, int field, byte[] out);

    int KP_DEV_ID_Read(int handle, int timeLimitMs, Pointer[] fields);

    int KP_DEV_SetBaudRate(int handle, int baud);

    int KP_DEV_SLE4428_ReadPwd(int handle, int seat, byte[] pwdOut);

    int KP_DEV_SLE4442_ReadPwd(int handle, int seat, byte[] pwdOut);

    int KP_DEV_AT88SC102_ReadPwd(int handle, int seat, int zone, byte[] pwdOut);

    int KP_DEV_AT88SC1604_ReadPwd(int handle, int seat, int zone, byte[] pwdOut);

    int KP_DEV_AT88SC1608_ReadPwd(int handle, int seat, int pwdSelect, int pwdSet, byte[] pwdOut);

    int KP_DEV_AT88SC1608_InitAuthenticationCard(int handle, int seat, String authHex);

    int KP_DEV_AT88SC1608_AuthenticationCard(int handle, int seat, String authHex);

    int KP_DEV_AT88SC1608_ReadFuse(int handle, int seat, IntByReference fuse);

    int KP_DEV_AT88SC102_ClearData(int handle, int seat, int address, int length);

    int KP_DEV_AT88SC102_CWriteData(int handle, int seat, int address, String dataHex);
}
