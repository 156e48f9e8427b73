// Written by scripts/export_table.py --write from src/api/exports.tsv and include/kp_dev.h;
// the ExportTable test fails when this file differs. Do not edit.
using System;
using System.Runtime.InteropServices;

namespace Kpdev
{
    /// <summary>The library's 102 functions as it exports them, unchecked: an output
    /// smaller than its room is overrun, as in C. <see cref="Exports"/> checks the
    /// arguments first.</summary>
    /// <remarks>CallingConvention.Winapi is the platform's own convention: __stdcall on
    /// 32-bit Windows, where the library's exports are __stdcall, and the C convention
    /// everywhere else (64-bit Windows and Linux have one convention), so one set of
    /// declarations serves every platform. "KP_DEV" is KP_DEV.dll on Windows; on Linux
    /// Kpdev.dll.config maps it to libKP_DEV.so.2 for Mono, and NativeLibrary's resolver
    /// does the same on .NET (see <see cref="KpDev"/>).</remarks>
    public static partial class Native
    {
        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_GetDllVersion(byte[] text);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_OpenDevice(int deviceType, byte[] portSpec, ref int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_CloseDevice(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SetDeviceModule(int handle, int module);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_SoftReset(int handle, int mode);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_GetStatus(int handle, int seat, ref int state);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_PowerOn(int handle, int seat, ref int atrLen, byte[] atr);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_PowerOff(int handle, int seat);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessActive(int handle, ref int cardType, ref int uidLen, byte[] uid, ref int atsLen, byte[] ats);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessHalt(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_SendApdu(int handle, int seat, int reserved, [MarshalAs(UnmanagedType.LPStr)] string apdu, int apduLen, byte[] response);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_SetCardType(int handle, int seat, int cardType);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_GetCardType(int handle, int seat, ref int cardType);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_InitializeKey(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string keyHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_VerifyPwd(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ReadStoreData(int handle, int seat, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_WriteStoreData(int handle, int seat, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessActiveStoreCard(int handle, ref int cardType, ref int uidLen, byte[] uid, ref int atsLen, byte[] ats);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessCertifySector(int handle, int sector, int keyType, [MarshalAs(UnmanagedType.LPStr)] string keyHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessReadBlock(int handle, int sector, int block, ref int dataLen, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessWriteBlock(int handle, int sector, int block, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessReadValueBlock(int handle, int sector, int block, ref float value);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessWriteValueBlock(int handle, int sector, int block, float value);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessIncrease(int handle, int sector, int block, float amount);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessDecrease(int handle, int sector, int block, float amount);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ConnectlessWriteKey(int handle, int sector, int keyType, [MarshalAs(UnmanagedType.LPStr)] string keyHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_Magnetic_Reset(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_Magnetic_Accept(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_Magnetic_CancelAccept(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_Magnetic_ReadTrack(int handle, byte[] track1, byte[] track2);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_Magnetic_WaitForWriteTrack(int handle, byte[] track1, byte[] track2);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_Magnetic_ConfirmWriteTrack(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_Magnetic_CancelWriteTrack(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_AscToBcd(byte[] text, byte[] hexOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_BcdToAsc([MarshalAs(UnmanagedType.LPStr)] string hexText, byte[] bytesOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_CheckIsOpen(int handle, ref int module);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ReadFinanceICTrack2(int handle, int seat, int reserved, byte[] track2);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ReadAll(int port, int unused1, uint timeoutMs, int tryStoreCard, int sector, int block, int keyType, [MarshalAs(UnmanagedType.LPStr)] string keyHex, int tryContactBank, int tryContactlessBank, int unused2, ref int cardKind, byte[] result);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_CancelReadAll();

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ReadICCardInfo(int handle, int seat, int reserved, byte[] track2, byte[] panSeq, byte[] aid);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_GetICTraceInfo(int handle, int seat, int reserved, [MarshalAs(UnmanagedType.LPStr)] string aid, [MarshalAs(UnmanagedType.LPStr)] string transType, [MarshalAs(UnmanagedType.LPStr)] string amount, byte[] chipData);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_Voice(int handle, int on);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_SendApdu_A(int handle, int seat, int reserved, [MarshalAs(UnmanagedType.LPStr)] string apdu, int apduLen, byte[] response);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ReadICCardGPOData(int handle, int seat, int reserved, byte[] records, int capacity);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int ICCardFindSubStr([MarshalAs(UnmanagedType.LPStr)] string response, [MarshalAs(UnmanagedType.LPStr)] string tag, byte[] valueOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AutoOpenDevice(ref int port, ref int baud, ref int handle, int deviceType);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_SetBaudRate(int handle, int seat, int baud);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ReadAll_A(int port, int unused1, uint timeoutMs, int tryStoreCard, int sector, int block, int keyType, [MarshalAs(UnmanagedType.LPStr)] string keyHex, int tryContactBank, int tryContactlessBank, int unused2, ref int cardKind, byte[] result);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_VerifyPwdEXAT102(int handle, int seat, int zone, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_VerifyPwdEXAT1604(int handle, int seat, int pwdSelector, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_VerifyPwdEXAT1608(int handle, int seat, int zone, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_ReadStoreDataEXAT1608(int handle, int seat, int zone, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_IC_WriteStoreDataEXAT1608(int handle, int seat, int zone, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4428_VerifyPwd(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4428_ModifyPwd(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4428_ReadERROR(int handle, int seat, ref int count);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4428_ReadData(int handle, int seat, int mode, int address, int length, byte[] dataOut, byte[] protectOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4428_WriteData(int handle, int seat, int mode, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_VerifyPwd(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_ModifyPwd(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_ReadERROR(int handle, int seat, ref int count);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_ReadDataForUser(int handle, int seat, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_WriteDataForUser(int handle, int seat, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_ReadDataForProtection(int handle, int seat, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_WriteDataForProtection(int handle, int seat, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT24CXX_ReadData(int handle, int seat, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT24CXX_WriteData(int handle, int seat, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_GetDeviceVersion(int handle, byte[] version);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_Fuse(int handle, int seat);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_VerifyPwd(int handle, int seat, int zone, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_ModifyPwd(int handle, int seat, int zone, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_ReadERROR(int handle, int seat, int zone, ref int count);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_ReadData(int handle, int seat, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_WriteData(int handle, int seat, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1604_Fuse(int handle, int seat);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1604_VerifyPwd(int handle, int seat, int zone, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1604_ModifyPwd(int handle, int seat, int zone, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1604_ReadERROR(int handle, int seat, int zone, ref int count);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1604_ReadData(int handle, int seat, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1604_WriteData(int handle, int seat, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_Fuse(int handle, int seat);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_VerifyPwd(int handle, int seat, int pwdSelect, int pwdSet, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_ModifyPwd(int handle, int seat, int pwdSelect, int pwdSet, [MarshalAs(UnmanagedType.LPStr)] string pwdHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_ReadERROR(int handle, int seat, int pwdSelect, int pwdSet, ref int count);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_ReadData(int handle, int seat, int zone, int address, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_WriteData(int handle, int seat, int zone, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT45DB041_ReadData(int handle, int seat, int page, int offset, int length, byte[] dataOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT45DB041_WriteData(int handle, int seat, int page, int offset, [MarshalAs(UnmanagedType.LPStr)] string dataHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ID_FindID(int handle);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ID_GetData(int handle, int field, byte[] @out);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_ID_Read(int handle, int timeLimitMs, IntPtr[] fields);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SetBaudRate(int handle, int baud);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4428_ReadPwd(int handle, int seat, byte[] pwdOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_SLE4442_ReadPwd(int handle, int seat, byte[] pwdOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_ReadPwd(int handle, int seat, int zone, byte[] pwdOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1604_ReadPwd(int handle, int seat, int zone, byte[] pwdOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_ReadPwd(int handle, int seat, int pwdSelect, int pwdSet, byte[] pwdOut);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_InitAuthenticationCard(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string authHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_AuthenticationCard(int handle, int seat, [MarshalAs(UnmanagedType.LPStr)] string authHex);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC1608_ReadFuse(int handle, int seat, ref int fuse);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_ClearData(int handle, int seat, int address, int length);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int KP_DEV_AT88SC102_CWriteData(int handle, int seat, int address, [MarshalAs(UnmanagedType.LPStr)] string dataHex);
    }

    /// <summary>The library's 102 functions with their arguments checked before the
    /// call: no null, every text input NUL-terminated, hex upper-case and of even
    /// length, and every output at least the room that kp_dev.h gives it. A refused
    /// argument throws an ArgumentException and nothing reaches the library. Each
    /// returns the library's result unchanged.</summary>
    public static partial class Exports
    {
        public static int KP_DEV_GetDllVersion(byte[] text)
        {
            Check.NotNull("KP_DEV_GetDllVersion", "text", text);
            Check.Room("KP_DEV_GetDllVersion", "text", text, 33L);
            return Native.KP_DEV_GetDllVersion(text);
        }

        public static int KP_DEV_OpenDevice(int deviceType, byte[] portSpec, ref int handle)
        {
            Check.Text("KP_DEV_OpenDevice", "portSpec", portSpec);
            return Native.KP_DEV_OpenDevice(deviceType, portSpec, ref handle);
        }

        public static int KP_DEV_CloseDevice(int handle)
        {
            return Native.KP_DEV_CloseDevice(handle);
        }

        public static int KP_DEV_SetDeviceModule(int handle, int module)
        {
            return Native.KP_DEV_SetDeviceModule(handle, module);
        }

        public static int KP_DEV_IC_SoftReset(int handle, int mode)
        {
            return Native.KP_DEV_IC_SoftReset(handle, mode);
        }

        public static int KP_DEV_IC_GetStatus(int handle, int seat, ref int state)
        {
            return Native.KP_DEV_IC_GetStatus(handle, seat, ref state);
        }

        public static int KP_DEV_IC_PowerOn(int handle, int seat, ref int atrLen, byte[] atr)
        {
            Check.NotNegative("KP_DEV_IC_PowerOn", "atrLen", atrLen);
            Check.NotNull("KP_DEV_IC_PowerOn", "atr", atr);
            Check.Room("KP_DEV_IC_PowerOn", "atr", atr, Math.Max(((2L * (long) atrLen) + 1L), 128L));
            return Native.KP_DEV_IC_PowerOn(handle, seat, ref atrLen, atr);
        }

        public static int KP_DEV_IC_PowerOff(int handle, int seat)
        {
            return Native.KP_DEV_IC_PowerOff(handle, seat);
        }

        public static int KP_DEV_IC_ConnectlessActive(int handle, ref int cardType, ref int uidLen, byte[] uid, ref int atsLen, byte[] ats)
        {
            Check.NotNegative("KP_DEV_IC_ConnectlessActive", "uidLen", uidLen);
            Check.NotNull("KP_DEV_IC_ConnectlessActive", "uid", uid);
            Check.NotNegative("KP_DEV_IC_ConnectlessActive", "atsLen", atsLen);
            Check.NotNull("KP_DEV_IC_ConnectlessActive", "ats", ats);
            Check.Room("KP_DEV_IC_ConnectlessActive", "uid", uid, ((2L * (long) uidLen) + 1L));
            Check.Room("KP_DEV_IC_ConnectlessActive", "ats", ats, ((2L * (long) atsLen) + 1L));
            return Native.KP_DEV_IC_ConnectlessActive(handle, ref cardType, ref uidLen, uid, ref atsLen, ats);
        }

        public static int KP_DEV_IC_ConnectlessHalt(int handle)
        {
            return Native.KP_DEV_IC_ConnectlessHalt(handle);
        }

        public static int KP_DEV_IC_SendApdu(int handle, int seat, int reserved, string apdu, int apduLen, byte[] response)
        {
            Check.Hex("KP_DEV_IC_SendApdu", "apdu", apdu);
            Check.NotNull("KP_DEV_IC_SendApdu", "response", response);
            Check.Room("KP_DEV_IC_SendApdu", "response", response, 2080L);
            return Native.KP_DEV_IC_SendApdu(handle, seat, reserved, apdu, apduLen, response);
        }

        public static int KP_DEV_IC_SetCardType(int handle, int seat, int cardType)
        {
            return Native.KP_DEV_IC_SetCardType(handle, seat, cardType);
        }

        public static int KP_DEV_IC_GetCardType(int handle, int seat, ref int cardType)
        {
            return Native.KP_DEV_IC_GetCardType(handle, seat, ref cardType);
        }

        public static int KP_DEV_IC_InitializeKey(int handle, int seat, string keyHex)
        {
            Check.Hex("KP_DEV_IC_InitializeKey", "keyHex", keyHex);
            return Native.KP_DEV_IC_InitializeKey(handle, seat, keyHex);
        }

        public static int KP_DEV_IC_VerifyPwd(int handle, int seat, string pwdHex)
        {
            Check.Hex("KP_DEV_IC_VerifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_IC_VerifyPwd(handle, seat, pwdHex);
        }

        public static int KP_DEV_IC_ReadStoreData(int handle, int seat, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_IC_ReadStoreData", "length", length);
            Check.Terminated("KP_DEV_IC_ReadStoreData", "dataOut", dataOut);
            Check.Room("KP_DEV_IC_ReadStoreData", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_IC_ReadStoreData(handle, seat, address, length, dataOut);
        }

        public static int KP_DEV_IC_WriteStoreData(int handle, int seat, int address, string dataHex)
        {
            Check.Hex("KP_DEV_IC_WriteStoreData", "dataHex", dataHex);
            return Native.KP_DEV_IC_WriteStoreData(handle, seat, address, dataHex);
        }

        public static int KP_DEV_IC_ConnectlessActiveStoreCard(int handle, ref int cardType, ref int uidLen, byte[] uid, ref int atsLen, byte[] ats)
        {
            Check.NotNull("KP_DEV_IC_ConnectlessActiveStoreCard", "uid", uid);
            Check.NotNull("KP_DEV_IC_ConnectlessActiveStoreCard", "ats", ats);
            Check.Room("KP_DEV_IC_ConnectlessActiveStoreCard", "uid", uid, 9L);
            Check.Room("KP_DEV_IC_ConnectlessActiveStoreCard", "ats", ats, 0L);
            return Native.KP_DEV_IC_ConnectlessActiveStoreCard(handle, ref cardType, ref uidLen, uid, ref atsLen, ats);
        }

        public static int KP_DEV_IC_ConnectlessCertifySector(int handle, int sector, int keyType, string keyHex)
        {
            Check.Hex("KP_DEV_IC_ConnectlessCertifySector", "keyHex", keyHex);
            return Native.KP_DEV_IC_ConnectlessCertifySector(handle, sector, keyType, keyHex);
        }

        public static int KP_DEV_IC_ConnectlessReadBlock(int handle, int sector, int block, ref int dataLen, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_IC_ConnectlessReadBlock", "dataLen", dataLen);
            Check.NotNull("KP_DEV_IC_ConnectlessReadBlock", "dataOut", dataOut);
            Check.Room("KP_DEV_IC_ConnectlessReadBlock", "dataOut", dataOut, ((long) dataLen + 1L));
            return Native.KP_DEV_IC_ConnectlessReadBlock(handle, sector, block, ref dataLen, dataOut);
        }

        public static int KP_DEV_IC_ConnectlessWriteBlock(int handle, int sector, int block, string dataHex)
        {
            Check.Hex("KP_DEV_IC_ConnectlessWriteBlock", "dataHex", dataHex);
            return Native.KP_DEV_IC_ConnectlessWriteBlock(handle, sector, block, dataHex);
        }

        public static int KP_DEV_IC_ConnectlessReadValueBlock(int handle, int sector, int block, ref float value)
        {
            return Native.KP_DEV_IC_ConnectlessReadValueBlock(handle, sector, block, ref value);
        }

        public static int KP_DEV_IC_ConnectlessWriteValueBlock(int handle, int sector, int block, float value)
        {
            return Native.KP_DEV_IC_ConnectlessWriteValueBlock(handle, sector, block, value);
        }

        public static int KP_DEV_IC_ConnectlessIncrease(int handle, int sector, int block, float amount)
        {
            return Native.KP_DEV_IC_ConnectlessIncrease(handle, sector, block, amount);
        }

        public static int KP_DEV_IC_ConnectlessDecrease(int handle, int sector, int block, float amount)
        {
            return Native.KP_DEV_IC_ConnectlessDecrease(handle, sector, block, amount);
        }

        public static int KP_DEV_IC_ConnectlessWriteKey(int handle, int sector, int keyType, string keyHex)
        {
            Check.Hex("KP_DEV_IC_ConnectlessWriteKey", "keyHex", keyHex);
            return Native.KP_DEV_IC_ConnectlessWriteKey(handle, sector, keyType, keyHex);
        }

        public static int KP_DEV_Magnetic_Reset(int handle)
        {
            return Native.KP_DEV_Magnetic_Reset(handle);
        }

        public static int KP_DEV_Magnetic_Accept(int handle)
        {
            return Native.KP_DEV_Magnetic_Accept(handle);
        }

        public static int KP_DEV_Magnetic_CancelAccept(int handle)
        {
            return Native.KP_DEV_Magnetic_CancelAccept(handle);
        }

        public static int KP_DEV_Magnetic_ReadTrack(int handle, byte[] track1, byte[] track2)
        {
            Check.NotNull("KP_DEV_Magnetic_ReadTrack", "track1", track1);
            Check.NotNull("KP_DEV_Magnetic_ReadTrack", "track2", track2);
            Check.Room("KP_DEV_Magnetic_ReadTrack", "track1", track1, 2080L);
            Check.Room("KP_DEV_Magnetic_ReadTrack", "track2", track2, 2080L);
            return Native.KP_DEV_Magnetic_ReadTrack(handle, track1, track2);
        }

        public static int KP_DEV_Magnetic_WaitForWriteTrack(int handle, byte[] track1, byte[] track2)
        {
            Check.Text("KP_DEV_Magnetic_WaitForWriteTrack", "track1", track1);
            Check.Text("KP_DEV_Magnetic_WaitForWriteTrack", "track2", track2);
            return Native.KP_DEV_Magnetic_WaitForWriteTrack(handle, track1, track2);
        }

        public static int KP_DEV_Magnetic_ConfirmWriteTrack(int handle)
        {
            return Native.KP_DEV_Magnetic_ConfirmWriteTrack(handle);
        }

        public static int KP_DEV_Magnetic_CancelWriteTrack(int handle)
        {
            return Native.KP_DEV_Magnetic_CancelWriteTrack(handle);
        }

        public static int KP_AscToBcd(byte[] text, byte[] hexOut)
        {
            Check.Text("KP_AscToBcd", "text", text);
            Check.NotNull("KP_AscToBcd", "hexOut", hexOut);
            Check.Room("KP_AscToBcd", "hexOut", hexOut, ((2L * Check.Length(text)) + 1L));
            return Native.KP_AscToBcd(text, hexOut);
        }

        public static int KP_BcdToAsc(string hexText, byte[] bytesOut)
        {
            Check.Hex("KP_BcdToAsc", "hexText", hexText);
            Check.NotNull("KP_BcdToAsc", "bytesOut", bytesOut);
            Check.Room("KP_BcdToAsc", "bytesOut", bytesOut, (Check.Length(hexText) / 2L));
            return Native.KP_BcdToAsc(hexText, bytesOut);
        }

        public static int KP_DEV_CheckIsOpen(int handle, ref int module)
        {
            return Native.KP_DEV_CheckIsOpen(handle, ref module);
        }

        public static int KP_DEV_ReadFinanceICTrack2(int handle, int seat, int reserved, byte[] track2)
        {
            Check.NotNull("KP_DEV_ReadFinanceICTrack2", "track2", track2);
            Check.Room("KP_DEV_ReadFinanceICTrack2", "track2", track2, 2080L);
            return Native.KP_DEV_ReadFinanceICTrack2(handle, seat, reserved, track2);
        }

        public static int KP_DEV_ReadAll(int port, int unused1, uint timeoutMs, int tryStoreCard, int sector, int block, int keyType, string keyHex, int tryContactBank, int tryContactlessBank, int unused2, ref int cardKind, byte[] result)
        {
            Check.Hex("KP_DEV_ReadAll", "keyHex", keyHex);
            Check.NotNull("KP_DEV_ReadAll", "result", result);
            Check.Room("KP_DEV_ReadAll", "result", result, 2080L);
            return Native.KP_DEV_ReadAll(port, unused1, timeoutMs, tryStoreCard, sector, block, keyType, keyHex, tryContactBank, tryContactlessBank, unused2, ref cardKind, result);
        }

        public static int KP_DEV_CancelReadAll()
        {
            return Native.KP_DEV_CancelReadAll();
        }

        public static int KP_DEV_ReadICCardInfo(int handle, int seat, int reserved, byte[] track2, byte[] panSeq, byte[] aid)
        {
            Check.NotNull("KP_DEV_ReadICCardInfo", "track2", track2);
            Check.NotNull("KP_DEV_ReadICCardInfo", "panSeq", panSeq);
            Check.NotNull("KP_DEV_ReadICCardInfo", "aid", aid);
            Check.Room("KP_DEV_ReadICCardInfo", "track2", track2, 2080L);
            Check.Room("KP_DEV_ReadICCardInfo", "panSeq", panSeq, 2080L);
            Check.Room("KP_DEV_ReadICCardInfo", "aid", aid, 2080L);
            return Native.KP_DEV_ReadICCardInfo(handle, seat, reserved, track2, panSeq, aid);
        }

        public static int KP_DEV_GetICTraceInfo(int handle, int seat, int reserved, string aid, string transType, string amount, byte[] chipData)
        {
            Check.Hex("KP_DEV_GetICTraceInfo", "aid", aid);
            Check.Hex("KP_DEV_GetICTraceInfo", "transType", transType);
            Check.Hex("KP_DEV_GetICTraceInfo", "amount", amount);
            Check.NotNull("KP_DEV_GetICTraceInfo", "chipData", chipData);
            Check.Room("KP_DEV_GetICTraceInfo", "chipData", chipData, 2080L);
            return Native.KP_DEV_GetICTraceInfo(handle, seat, reserved, aid, transType, amount, chipData);
        }

        public static int KP_DEV_IC_Voice(int handle, int on)
        {
            return Native.KP_DEV_IC_Voice(handle, on);
        }

        public static int KP_DEV_IC_SendApdu_A(int handle, int seat, int reserved, string apdu, int apduLen, byte[] response)
        {
            Check.Hex("KP_DEV_IC_SendApdu_A", "apdu", apdu);
            Check.NotNull("KP_DEV_IC_SendApdu_A", "response", response);
            Check.Room("KP_DEV_IC_SendApdu_A", "response", response, 2080L);
            return Native.KP_DEV_IC_SendApdu_A(handle, seat, reserved, apdu, apduLen, response);
        }

        public static int KP_DEV_ReadICCardGPOData(int handle, int seat, int reserved, byte[] records, int capacity)
        {
            Check.NotNull("KP_DEV_ReadICCardGPOData", "records", records);
            Check.NotNegative("KP_DEV_ReadICCardGPOData", "capacity", capacity);
            Check.Room("KP_DEV_ReadICCardGPOData", "records", records, ((long) capacity + 1L));
            return Native.KP_DEV_ReadICCardGPOData(handle, seat, reserved, records, capacity);
        }

        public static int ICCardFindSubStr(string response, string tag, byte[] valueOut)
        {
            Check.Hex("ICCardFindSubStr", "response", response);
            Check.Hex("ICCardFindSubStr", "tag", tag);
            Check.NotNull("ICCardFindSubStr", "valueOut", valueOut);
            Check.Room("ICCardFindSubStr", "valueOut", valueOut, (Check.Length(response) + 1L));
            return Native.ICCardFindSubStr(response, tag, valueOut);
        }

        public static int KP_DEV_AutoOpenDevice(ref int port, ref int baud, ref int handle, int deviceType)
        {
            return Native.KP_DEV_AutoOpenDevice(ref port, ref baud, ref handle, deviceType);
        }

        public static int KP_DEV_IC_SetBaudRate(int handle, int seat, int baud)
        {
            return Native.KP_DEV_IC_SetBaudRate(handle, seat, baud);
        }

        public static int KP_DEV_ReadAll_A(int port, int unused1, uint timeoutMs, int tryStoreCard, int sector, int block, int keyType, string keyHex, int tryContactBank, int tryContactlessBank, int unused2, ref int cardKind, byte[] result)
        {
            Check.Hex("KP_DEV_ReadAll_A", "keyHex", keyHex);
            Check.NotNull("KP_DEV_ReadAll_A", "result", result);
            Check.Room("KP_DEV_ReadAll_A", "result", result, 2080L);
            return Native.KP_DEV_ReadAll_A(port, unused1, timeoutMs, tryStoreCard, sector, block, keyType, keyHex, tryContactBank, tryContactlessBank, unused2, ref cardKind, result);
        }

        public static int KP_DEV_IC_VerifyPwdEXAT102(int handle, int seat, int zone, string pwdHex)
        {
            Check.Hex("KP_DEV_IC_VerifyPwdEXAT102", "pwdHex", pwdHex);
            return Native.KP_DEV_IC_VerifyPwdEXAT102(handle, seat, zone, pwdHex);
        }

        public static int KP_DEV_IC_VerifyPwdEXAT1604(int handle, int seat, int pwdSelector, string pwdHex)
        {
            Check.Hex("KP_DEV_IC_VerifyPwdEXAT1604", "pwdHex", pwdHex);
            return Native.KP_DEV_IC_VerifyPwdEXAT1604(handle, seat, pwdSelector, pwdHex);
        }

        public static int KP_DEV_IC_VerifyPwdEXAT1608(int handle, int seat, int zone, string pwdHex)
        {
            Check.Hex("KP_DEV_IC_VerifyPwdEXAT1608", "pwdHex", pwdHex);
            return Native.KP_DEV_IC_VerifyPwdEXAT1608(handle, seat, zone, pwdHex);
        }

        public static int KP_DEV_IC_ReadStoreDataEXAT1608(int handle, int seat, int zone, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_IC_ReadStoreDataEXAT1608", "length", length);
            Check.Terminated("KP_DEV_IC_ReadStoreDataEXAT1608", "dataOut", dataOut);
            Check.Room("KP_DEV_IC_ReadStoreDataEXAT1608", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_IC_ReadStoreDataEXAT1608(handle, seat, zone, address, length, dataOut);
        }

        public static int KP_DEV_IC_WriteStoreDataEXAT1608(int handle, int seat, int zone, int address, string dataHex)
        {
            Check.Hex("KP_DEV_IC_WriteStoreDataEXAT1608", "dataHex", dataHex);
            return Native.KP_DEV_IC_WriteStoreDataEXAT1608(handle, seat, zone, address, dataHex);
        }

        public static int KP_DEV_SLE4428_VerifyPwd(int handle, int seat, string pwdHex)
        {
            Check.Hex("KP_DEV_SLE4428_VerifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_SLE4428_VerifyPwd(handle, seat, pwdHex);
        }

        public static int KP_DEV_SLE4428_ModifyPwd(int handle, int seat, string pwdHex)
        {
            Check.Hex("KP_DEV_SLE4428_ModifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_SLE4428_ModifyPwd(handle, seat, pwdHex);
        }

        public static int KP_DEV_SLE4428_ReadERROR(int handle, int seat, ref int count)
        {
            return Native.KP_DEV_SLE4428_ReadERROR(handle, seat, ref count);
        }

        public static int KP_DEV_SLE4428_ReadData(int handle, int seat, int mode, int address, int length, byte[] dataOut, byte[] protectOut)
        {
            Check.NotNegative("KP_DEV_SLE4428_ReadData", "length", length);
            Check.Terminated("KP_DEV_SLE4428_ReadData", "dataOut", dataOut);
            Check.NotNull("KP_DEV_SLE4428_ReadData", "protectOut", protectOut);
            Check.Room("KP_DEV_SLE4428_ReadData", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            Check.Room("KP_DEV_SLE4428_ReadData", "protectOut", protectOut, ((long) length + 3L));
            return Native.KP_DEV_SLE4428_ReadData(handle, seat, mode, address, length, dataOut, protectOut);
        }

        public static int KP_DEV_SLE4428_WriteData(int handle, int seat, int mode, int address, string dataHex)
        {
            Check.Hex("KP_DEV_SLE4428_WriteData", "dataHex", dataHex);
            return Native.KP_DEV_SLE4428_WriteData(handle, seat, mode, address, dataHex);
        }

        public static int KP_DEV_SLE4442_VerifyPwd(int handle, int seat, string pwdHex)
        {
            Check.Hex("KP_DEV_SLE4442_VerifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_SLE4442_VerifyPwd(handle, seat, pwdHex);
        }

        public static int KP_DEV_SLE4442_ModifyPwd(int handle, int seat, string pwdHex)
        {
            Check.Hex("KP_DEV_SLE4442_ModifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_SLE4442_ModifyPwd(handle, seat, pwdHex);
        }

        public static int KP_DEV_SLE4442_ReadERROR(int handle, int seat, ref int count)
        {
            return Native.KP_DEV_SLE4442_ReadERROR(handle, seat, ref count);
        }

        public static int KP_DEV_SLE4442_ReadDataForUser(int handle, int seat, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_SLE4442_ReadDataForUser", "length", length);
            Check.Terminated("KP_DEV_SLE4442_ReadDataForUser", "dataOut", dataOut);
            Check.Room("KP_DEV_SLE4442_ReadDataForUser", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_SLE4442_ReadDataForUser(handle, seat, address, length, dataOut);
        }

        public static int KP_DEV_SLE4442_WriteDataForUser(int handle, int seat, int address, string dataHex)
        {
            Check.Hex("KP_DEV_SLE4442_WriteDataForUser", "dataHex", dataHex);
            return Native.KP_DEV_SLE4442_WriteDataForUser(handle, seat, address, dataHex);
        }

        public static int KP_DEV_SLE4442_ReadDataForProtection(int handle, int seat, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_SLE4442_ReadDataForProtection", "length", length);
            Check.Terminated("KP_DEV_SLE4442_ReadDataForProtection", "dataOut", dataOut);
            Check.Room("KP_DEV_SLE4442_ReadDataForProtection", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_SLE4442_ReadDataForProtection(handle, seat, address, length, dataOut);
        }

        public static int KP_DEV_SLE4442_WriteDataForProtection(int handle, int seat, int address, string dataHex)
        {
            Check.Hex("KP_DEV_SLE4442_WriteDataForProtection", "dataHex", dataHex);
            return Native.KP_DEV_SLE4442_WriteDataForProtection(handle, seat, address, dataHex);
        }

        public static int KP_DEV_AT24CXX_ReadData(int handle, int seat, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_AT24CXX_ReadData", "length", length);
            Check.Terminated("KP_DEV_AT24CXX_ReadData", "dataOut", dataOut);
            Check.Room("KP_DEV_AT24CXX_ReadData", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_AT24CXX_ReadData(handle, seat, address, length, dataOut);
        }

        public static int KP_DEV_AT24CXX_WriteData(int handle, int seat, int address, string dataHex)
        {
            Check.Hex("KP_DEV_AT24CXX_WriteData", "dataHex", dataHex);
            return Native.KP_DEV_AT24CXX_WriteData(handle, seat, address, dataHex);
        }

        public static int KP_DEV_GetDeviceVersion(int handle, byte[] version)
        {
            Check.NotNull("KP_DEV_GetDeviceVersion", "version", version);
            Check.Room("KP_DEV_GetDeviceVersion", "version", version, 2080L);
            return Native.KP_DEV_GetDeviceVersion(handle, version);
        }

        public static int KP_DEV_AT88SC102_Fuse(int handle, int seat)
        {
            return Native.KP_DEV_AT88SC102_Fuse(handle, seat);
        }

        public static int KP_DEV_AT88SC102_VerifyPwd(int handle, int seat, int zone, string pwdHex)
        {
            Check.Hex("KP_DEV_AT88SC102_VerifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_AT88SC102_VerifyPwd(handle, seat, zone, pwdHex);
        }

        public static int KP_DEV_AT88SC102_ModifyPwd(int handle, int seat, int zone, string pwdHex)
        {
            Check.Hex("KP_DEV_AT88SC102_ModifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_AT88SC102_ModifyPwd(handle, seat, zone, pwdHex);
        }

        public static int KP_DEV_AT88SC102_ReadERROR(int handle, int seat, int zone, ref int count)
        {
            return Native.KP_DEV_AT88SC102_ReadERROR(handle, seat, zone, ref count);
        }

        public static int KP_DEV_AT88SC102_ReadData(int handle, int seat, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_AT88SC102_ReadData", "length", length);
            Check.Terminated("KP_DEV_AT88SC102_ReadData", "dataOut", dataOut);
            Check.Room("KP_DEV_AT88SC102_ReadData", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_AT88SC102_ReadData(handle, seat, address, length, dataOut);
        }

        public static int KP_DEV_AT88SC102_WriteData(int handle, int seat, int address, string dataHex)
        {
            Check.Hex("KP_DEV_AT88SC102_WriteData", "dataHex", dataHex);
            return Native.KP_DEV_AT88SC102_WriteData(handle, seat, address, dataHex);
        }

        public static int KP_DEV_AT88SC1604_Fuse(int handle, int seat)
        {
            return Native.KP_DEV_AT88SC1604_Fuse(handle, seat);
        }

        public static int KP_DEV_AT88SC1604_VerifyPwd(int handle, int seat, int zone, string pwdHex)
        {
            Check.Hex("KP_DEV_AT88SC1604_VerifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_AT88SC1604_VerifyPwd(handle, seat, zone, pwdHex);
        }

        public static int KP_DEV_AT88SC1604_ModifyPwd(int handle, int seat, int zone, string pwdHex)
        {
            Check.Hex("KP_DEV_AT88SC1604_ModifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_AT88SC1604_ModifyPwd(handle, seat, zone, pwdHex);
        }

        public static int KP_DEV_AT88SC1604_ReadERROR(int handle, int seat, int zone, ref int count)
        {
            return Native.KP_DEV_AT88SC1604_ReadERROR(handle, seat, zone, ref count);
        }

        public static int KP_DEV_AT88SC1604_ReadData(int handle, int seat, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_AT88SC1604_ReadData", "length", length);
            Check.Terminated("KP_DEV_AT88SC1604_ReadData", "dataOut", dataOut);
            Check.Room("KP_DEV_AT88SC1604_ReadData", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_AT88SC1604_ReadData(handle, seat, address, length, dataOut);
        }

        public static int KP_DEV_AT88SC1604_WriteData(int handle, int seat, int address, string dataHex)
        {
            Check.Hex("KP_DEV_AT88SC1604_WriteData", "dataHex", dataHex);
            return Native.KP_DEV_AT88SC1604_WriteData(handle, seat, address, dataHex);
        }

        public static int KP_DEV_AT88SC1608_Fuse(int handle, int seat)
        {
            return Native.KP_DEV_AT88SC1608_Fuse(handle, seat);
        }

        public static int KP_DEV_AT88SC1608_VerifyPwd(int handle, int seat, int pwdSelect, int pwdSet, string pwdHex)
        {
            Check.Hex("KP_DEV_AT88SC1608_VerifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_AT88SC1608_VerifyPwd(handle, seat, pwdSelect, pwdSet, pwdHex);
        }

        public static int KP_DEV_AT88SC1608_ModifyPwd(int handle, int seat, int pwdSelect, int pwdSet, string pwdHex)
        {
            Check.Hex("KP_DEV_AT88SC1608_ModifyPwd", "pwdHex", pwdHex);
            return Native.KP_DEV_AT88SC1608_ModifyPwd(handle, seat, pwdSelect, pwdSet, pwdHex);
        }

        public static int KP_DEV_AT88SC1608_ReadERROR(int handle, int seat, int pwdSelect, int pwdSet, ref int count)
        {
            return Native.KP_DEV_AT88SC1608_ReadERROR(handle, seat, pwdSelect, pwdSet, ref count);
        }

        public static int KP_DEV_AT88SC1608_ReadData(int handle, int seat, int zone, int address, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_AT88SC1608_ReadData", "length", length);
            Check.Terminated("KP_DEV_AT88SC1608_ReadData", "dataOut", dataOut);
            Check.Room("KP_DEV_AT88SC1608_ReadData", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_AT88SC1608_ReadData(handle, seat, zone, address, length, dataOut);
        }

        public static int KP_DEV_AT88SC1608_WriteData(int handle, int seat, int zone, int address, string dataHex)
        {
            Check.Hex("KP_DEV_AT88SC1608_WriteData", "dataHex", dataHex);
            return Native.KP_DEV_AT88SC1608_WriteData(handle, seat, zone, address, dataHex);
        }

        public static int KP_DEV_AT45DB041_ReadData(int handle, int seat, int page, int offset, int length, byte[] dataOut)
        {
            Check.NotNegative("KP_DEV_AT45DB041_ReadData", "length", length);
            Check.Terminated("KP_DEV_AT45DB041_ReadData", "dataOut", dataOut);
            Check.Room("KP_DEV_AT45DB041_ReadData", "dataOut", dataOut, ((Check.Length(dataOut) + (2L * (long) length)) + 1L));
            return Native.KP_DEV_AT45DB041_ReadData(handle, seat, page, offset, length, dataOut);
        }

        public static int KP_DEV_AT45DB041_WriteData(int handle, int seat, int page, int offset, string dataHex)
        {
            Check.Hex("KP_DEV_AT45DB041_WriteData", "dataHex", dataHex);
            return Native.KP_DEV_AT45DB041_WriteData(handle, seat, page, offset, dataHex);
        }

        public static int KP_DEV_ID_FindID(int handle)
        {
            return Native.KP_DEV_ID_FindID(handle);
        }

        public static int KP_DEV_ID_GetData(int handle, int field, byte[] @out)
        {
            Check.NotNull("KP_DEV_ID_GetData", "out", @out);
            Check.Room("KP_DEV_ID_GetData", "out", @out, 261L);
            return Native.KP_DEV_ID_GetData(handle, field, @out);
        }

        public static int KP_DEV_ID_Read(int handle, int timeLimitMs, byte[][] fields)
        {
            Check.NotNull("KP_DEV_ID_Read", "fields", fields);
            Check.Fields("KP_DEV_ID_Read", "fields", fields, 261L);
            return Check.WithFields(fields, pointers => Native.KP_DEV_ID_Read(handle, timeLimitMs, pointers));
        }

        public static int KP_DEV_SetBaudRate(int handle, int baud)
        {
            return Native.KP_DEV_SetBaudRate(handle, baud);
        }

        public static int KP_DEV_SLE4428_ReadPwd(int handle, int seat, byte[] pwdOut)
        {
            Check.NotNull("KP_DEV_SLE4428_ReadPwd", "pwdOut", pwdOut);
            Check.Room("KP_DEV_SLE4428_ReadPwd", "pwdOut", pwdOut, 2080L);
            return Native.KP_DEV_SLE4428_ReadPwd(handle, seat, pwdOut);
        }

        public static int KP_DEV_SLE4442_ReadPwd(int handle, int seat, byte[] pwdOut)
        {
            Check.NotNull("KP_DEV_SLE4442_ReadPwd", "pwdOut", pwdOut);
            Check.Room("KP_DEV_SLE4442_ReadPwd", "pwdOut", pwdOut, 2080L);
            return Native.KP_DEV_SLE4442_ReadPwd(handle, seat, pwdOut);
        }

        public static int KP_DEV_AT88SC102_ReadPwd(int handle, int seat, int zone, byte[] pwdOut)
        {
            Check.NotNull("KP_DEV_AT88SC102_ReadPwd", "pwdOut", pwdOut);
            Check.Room("KP_DEV_AT88SC102_ReadPwd", "pwdOut", pwdOut, 2080L);
            return Native.KP_DEV_AT88SC102_ReadPwd(handle, seat, zone, pwdOut);
        }

        public static int KP_DEV_AT88SC1604_ReadPwd(int handle, int seat, int zone, byte[] pwdOut)
        {
            Check.NotNull("KP_DEV_AT88SC1604_ReadPwd", "pwdOut", pwdOut);
            Check.Room("KP_DEV_AT88SC1604_ReadPwd", "pwdOut", pwdOut, 2080L);
            return Native.KP_DEV_AT88SC1604_ReadPwd(handle, seat, zone, pwdOut);
        }

        public static int KP_DEV_AT88SC1608_ReadPwd(int handle, int seat, int pwdSelect, int pwdSet, byte[] pwdOut)
        {
            Check.NotNull("KP_DEV_AT88SC1608_ReadPwd", "pwdOut", pwdOut);
            Check.Room("KP_DEV_AT88SC1608_ReadPwd", "pwdOut", pwdOut, 2080L);
            return Native.KP_DEV_AT88SC1608_ReadPwd(handle, seat, pwdSelect, pwdSet, pwdOut);
        }

        public static int KP_DEV_AT88SC1608_InitAuthenticationCard(int handle, int seat, string authHex)
        {
            Check.Hex("KP_DEV_AT88SC1608_InitAuthenticationCard", "authHex", authHex);
            return Native.KP_DEV_AT88SC1608_InitAuthenticationCard(handle, seat, authHex);
        }

        public static int KP_DEV_AT88SC1608_AuthenticationCard(int handle, int seat, string authHex)
        {
            Check.Hex("KP_DEV_AT88SC1608_AuthenticationCard", "authHex", authHex);
            return Native.KP_DEV_AT88SC1608_AuthenticationCard(handle, seat, authHex);
        }

        public static int KP_DEV_AT88SC1608_ReadFuse(int handle, int seat, ref int fuse)
        {
            return Native.KP_DEV_AT88SC1608_ReadFuse(handle, seat, ref fuse);
        }

        public static int KP_DEV_AT88SC102_ClearData(int handle, int seat, int address, int length)
        {
            return Native.KP_DEV_AT88SC102_ClearData(handle, seat, address, length);
        }

        public static int KP_DEV_AT88SC102_CWriteData(int handle, int seat, int address, string dataHex)
        {
            Check.Hex("KP_DEV_AT88SC102_CWriteData", "dataHex", dataHex);
            return Native.KP_DEV_AT88SC102_CWriteData(handle, seat, address, dataHex);
        }
    }
}
