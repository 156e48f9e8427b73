/*
 * kp_dev.h - public C interface of the KP_DEV card reader library.
 *
 * A reader is opened on a COM port and afterwards addressed by its handle,
 * which is the COM port number itself (opening "COM3:9600:N:8:1" yields 3).
 * Every function returns an int: 0 for success, a negative code for failure
 * (a few financial services also return 200 or 201).  Card data crosses the
 * interface as upper-case hexadecimal text, NUL-terminated.
 *
 * A handle that no open reader has: every function that takes a handle
 * returns 0 at once, sends nothing and writes nothing, except
 *   KP_DEV_CheckIsOpen           -10; *module is left as it was;
 *   KP_DEV_ReadFinanceICTrack2   200 (no card answered 9000); the first four
 *                                bytes of track2 are set to zero;
 *   KP_DEV_ReadICCardInfo, KP_DEV_ReadICCardGPOData, KP_DEV_GetICTraceInfo
 *                                200; nothing is written;
 *   KP_DEV_IC_SendApdu_A         0; response is emptied (its first byte NUL).
 * KP_DEV_ReadAll and KP_DEV_ReadAll_A take a COM port, not a handle: they
 * open the reader themselves.
 *
 * COM port n may stand for a reader behind a serial device server: the
 * environment variable KPDEV_COM<n> set to rfc2217://HOST:PORT (speed and
 * framing set over the connection, RFC 2217) or tcp://HOST:PORT (raw; the
 * speed is the server's) replaces the local port for that number, on Linux
 * and on Windows.  Such a connection is neither encrypted nor authenticated:
 * card data crosses the network as it crosses the serial line.  A server
 * that cannot be reached, refuses the option or is in use fails the open
 * with -1 (within 3 s for a host that does not answer); one that goes away
 * fails the calls at once (-3 writing, -4 reading) until the next open,
 * which connects again.
 *
 * Result codes shared by many functions:
 *     0  success
 *    -1  open failure or refused parameter
 *    -2  a serial wait ran out / magnetic arm older than 29 s
 *    -3  serial write failure, unexpected identity-module answer
 *    -4  serial read failure or timeout
 *    -5  parameter out of range, text not upper-case hexadecimal
 *    -6  identity read time limit passed
 *    -8  response frame not ended by ETX (the checksum of an answer is not verified)
 *    -9  unknown device status word, unexpected reply byte, tag not found
 *   -10  handle not open (KP_DEV_CheckIsOpen)
 *   -20  operation not valid for the reader's class or module
 *   -99  internal failure inside the library (e.g. out of memory)
 *  -101  nothing presented yet (magnetic polling, read-any-card)
 *  -102, -103  magnetic read / write failure
 *  -301, -302  module escape sequence refused
 *  -304  the caller's buffer is smaller than the data
 *  -305 .. -328  device status words
 *   200  card status word other than 9000;  201  caller's capacity exceeded
 *
 * The functions are listed in ordinal order (the order of the Windows
 * module-definition file).
 */
#ifndef KP_DEV_H
#define KP_DEV_H

/* Calling convention: __stdcall on 32-bit Windows, the platform default
 * elsewhere (64-bit Windows has a single convention). */
#if defined(_WIN32) && !defined(_WIN64)
#define KP_STDCALL __stdcall
#else
#define KP_STDCALL
#endif

#if defined(_WIN32)
#if defined(KP_DEV_BUILDING)
/* The module-definition file KP_DEV.def exports every name at its ordinal
 * and lets the two alias pairs share one entry; dllexport here would give
 * each alias an entry of its own. */
#define KP_API
#else
#define KP_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KP_API __attribute__((visibility("default")))
#else
#define KP_API
#endif

/* Result codes, by name.  The values are those listed above; every function
 * returns one of them (or a positive card status result of the financial
 * services).  kp_dev_result_name() and kp_dev_result_text() below turn a
 * code into its name and an English description. */
#define KP_DEV_OK 0
#define KP_DEV_ERR_OPEN (-1)              /* open failure or refused parameter */
#define KP_DEV_ERR_WAIT (-2)              /* a serial wait ran out; magnetic arm older than 29 s */
#define KP_DEV_ERR_WRITE (-3)             /* serial write failure; unexpected identity-module answer */
#define KP_DEV_ERR_READ (-4)              /* serial read failure or timeout */
#define KP_DEV_ERR_PARAM (-5)             /* parameter out of range; text not upper-case hexadecimal */
#define KP_DEV_ERR_ID_TIME_LIMIT (-6)     /* identity read time limit passed */
#define KP_DEV_ERR_FRAME (-8)             /* response frame not ended by ETX */
#define KP_DEV_ERR_STATUS (-9)            /* unknown device status, unexpected reply byte, tag not found */
#define KP_DEV_ERR_NOT_OPEN (-10)         /* handle not open (KP_DEV_CheckIsOpen) */
#define KP_DEV_ERR_NOT_SUPPORTED (-20)    /* not valid for the reader's class or module */
#define KP_DEV_ERR_INTERNAL (-99)         /* internal failure inside the library (e.g. out of memory) */
#define KP_DEV_NOTHING_YET (-101)         /* nothing presented yet (magnetic polling, read-any-card) */
#define KP_DEV_ERR_MAG_READ (-102)        /* magnetic read failure */
#define KP_DEV_ERR_MAG_WRITE (-103)       /* magnetic write failure */
#define KP_DEV_ERR_MODULE_REFUSED1 (-301) /* module escape sequence refused (reply '1') */
#define KP_DEV_ERR_MODULE_REFUSED2 (-302) /* module escape sequence refused (reply '2') */
#define KP_DEV_ERR_ROOM (-304)            /* the caller's buffer is smaller than the data */
/* Device status words (the reader's answer status, mapped one to one). */
#define KP_DEV_ERR_NO_CARD (-305)           /* status 0x1001 */
#define KP_DEV_ERR_CARD_NOT_ACTIVE (-306)   /* status 0x1002 */
#define KP_DEV_ERR_CARD_MUTE (-307)         /* status 0x1004 */
#define KP_DEV_ERR_UNKNOWN_COMMAND (-308)   /* status 0x1005 */
#define KP_DEV_ERR_WRONG_TECHNOLOGY (-309)  /* status 0x2001 */
#define KP_DEV_ERR_BAD_DATA (-310)          /* status 0x2005 */
#define KP_DEV_ERR_CARD_HALTED (-311)       /* status 0x3001 */
#define KP_DEV_ERR_WRONG_KEY (-312)         /* status 0x3005 */
#define KP_DEV_ERR_LOCKED (-313)            /* status 0x3006 */
#define KP_DEV_ERR_CARD_CHANGED (-314)      /* status 0x3009; UID changed between activations */
#define KP_DEV_ERR_NOT_AUTHENTICATED (-316) /* status 0x3008 */
#define KP_DEV_ERR_BAD_CHECKSUM (-317)      /* status 0x1006 */
#define KP_DEV_ERR_BAD_FRAME (-318)         /* status 0x1007 */
#define KP_DEV_ERR_OUT_OF_RANGE (-319)      /* status 0x2004 */
#define KP_DEV_ERR_WRONG_CARD (-320)        /* status 0x2006 */
#define KP_DEV_ERR_VALUE_BLOCK (-321)       /* status 0x2007 */
#define KP_DEV_ERR_PROTECTED (-324)         /* status 0x3007 */
#define KP_DEV_ERR_NO_CARD_TYPE (-326)      /* the device reported card type 0 */
#define KP_DEV_ERR_AUTH_FAILED (-328)       /* status 0x6003 */
#define KP_DEV_CARD_STATUS (200)            /* a card status word other than 9000 */
#define KP_DEV_CAPACITY_EXCEEDED (201)      /* the caller's capacity exceeded */

/* Room for outputs: the largest text a function can write, terminator
 * included.  Texts copied from a device answer are bounded by the
 * 2080-character answer buffer, so KP_DEV_TEXT_ROOM holds any of them. */
#define KP_DEV_TEXT_ROOM 2080
#define KP_DEV_DLL_VERSION_ROOM 33 /* KP_DEV_GetDllVersion: 32 bytes of GBK text and the NUL */
#define KP_DEV_ID_FIELD_ROOM 261   /* KP_DEV_ID_GetData: field 9, the photo path, may hold 260 characters */
/* KP_DEV_IC_PowerOn on a type-0 reader, seats 16 to 30: the answer to reset
 * of the seat's first power-on is replayed without comparing it with
 * *atrLen, and it may hold 127 characters. */
#define KP_DEV_ATR_CACHE_ROOM 128

/* Contract of the outputs and pointers.
 *
 * Encodings: "hex" is upper-case hexadecimal text, two characters per byte,
 * NUL-terminated; "GBK" is code page 936 text; "ASCII" is plain 7-bit text
 * as the card or head delivered it; "bytes" are raw bytes without a
 * terminator.  Outputs are written only on success unless noted; a handle
 * that is not open writes nothing (but see the list at the top).
 *
 * NULL: no pointer argument may be NULL.  The library writes through every
 * output pointer it is given and reads every input text to its NUL; an
 * empty text ("") is the way to leave a track out of
 * KP_DEV_Magnetic_WaitForWriteTrack.
 *
 * Rooms: the bytes each output must have, terminator included, as an
 * expression of the call's arguments.  [n] is the int that argument n
 * points to on entry; len(t) is the length of the text t, for an output the
 * length of the text it already holds (the memory-card reads append their
 * hex to it, so pass an empty text); a/b divides rounding down.  A smaller
 * output is overrun: the library cannot know the size of a buffer.
 *
 *   Function                             Output     Room                      Encoding
 *   KP_DEV_GetDllVersion                 text       KP_DEV_DLL_VERSION_ROOM   GBK
 *   KP_DEV_IC_PowerOn                    atr        max(2*[atrLen]+1,KP_DEV_ATR_CACHE_ROOM)
 *                                                   hex; *atrLen = room in bytes, -304 when the ATR is longer
 *   KP_DEV_IC_ConnectlessActive          uid        2*[uidLen]+1              hex; -304 when longer (room in bytes)
 *   KP_DEV_IC_ConnectlessActive          ats        2*[atsLen]+1              hex; -304 when longer (room in bytes)
 *   KP_DEV_IC_SendApdu                   response   KP_DEV_TEXT_ROOM          hex: answer data, SW1 SW2; no room check
 *   KP_DEV_IC_ReadStoreData              dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_IC_ConnectlessActiveStoreCard uid        9                         hex of 4 bytes; *uidLen is not compared
 *   KP_DEV_IC_ConnectlessActiveStoreCard ats        0                         never written
 *   KP_DEV_IC_ConnectlessReadBlock       dataOut    [dataLen]+1               hex; *dataLen = room in characters (32)
 *   KP_DEV_Magnetic_ReadTrack            track1     KP_DEV_TEXT_ROOM          ASCII track characters, no NUL
 *   KP_DEV_Magnetic_ReadTrack            track2     KP_DEV_TEXT_ROOM          written; a track sent as 7F reads as
 *                                                                             4 zero bytes
 *   KP_AscToBcd                          hexOut     2*len(text)+1             hex of the text's bytes
 *   KP_BcdToAsc                          bytesOut   len(hexText)/2            bytes
 *   KP_DEV_ReadFinanceICTrack2           track2     KP_DEV_TEXT_ROOM          hex (tag 57: digits, D sep., F pad)
 *   KP_DEV_ReadAll                       result     KP_DEV_TEXT_ROOM          kind 1: "track1|track2" (ASCII);
 *                                                                             2, 3, 4: hex; 5: identity texts (GBK)
 *   KP_DEV_ReadICCardInfo                track2     KP_DEV_TEXT_ROOM          hex (Track 2)
 *   KP_DEV_ReadICCardInfo                panSeq     KP_DEV_TEXT_ROOM          hex (PAN sequence number)
 *   KP_DEV_ReadICCardInfo                aid        KP_DEV_TEXT_ROOM          hex (AID)
 *   KP_DEV_GetICTraceInfo                chipData   KP_DEV_TEXT_ROOM          hex: fourteen tag-length-value fields
 *   KP_DEV_IC_SendApdu_A                 response   KP_DEV_TEXT_ROOM          hex: answer data, SW1 SW2
 *   KP_DEV_ReadICCardGPOData             records    capacity+1                hex lines; 201 when the next line
 *                                                                             would not fit
 *   ICCardFindSubStr                     valueOut   len(response)+1           hex, no NUL written: pass zeroes
 *   KP_DEV_ReadAll_A                     result     KP_DEV_TEXT_ROOM          as KP_DEV_ReadAll
 *   KP_DEV_IC_ReadStoreDataEXAT1608      dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_SLE4428_ReadData              dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_SLE4428_ReadData              protectOut length+3                  one decimal flag per byte from the
 *                                                                             start; a flag above 9 takes more digits
 *   KP_DEV_SLE4442_ReadDataForUser       dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_SLE4442_ReadDataForProtection dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_AT24CXX_ReadData              dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_GetDeviceVersion              version    KP_DEV_TEXT_ROOM          hex of the version bytes
 *   KP_DEV_AT88SC102_ReadData            dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_AT88SC1604_ReadData           dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_AT88SC1608_ReadData           dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_AT45DB041_ReadData            dataOut    len(dataOut)+2*length+1   hex, appended
 *   KP_DEV_ID_GetData                    out        KP_DEV_ID_FIELD_ROOM      GBK; field 9 is a file path
 *   KP_DEV_ID_Read                       fields     KP_DEV_ID_FIELD_ROOM      nine outputs, each this room;
 *                                                                             GBK, fields 1 to 9 in order
 *   KP_DEV_SLE4428_ReadPwd               pwdOut     KP_DEV_TEXT_ROOM          hex (a few bytes in practice)
 *   KP_DEV_SLE4442_ReadPwd               pwdOut     KP_DEV_TEXT_ROOM          hex
 *   KP_DEV_AT88SC102_ReadPwd             pwdOut     KP_DEV_TEXT_ROOM          hex
 *   KP_DEV_AT88SC1604_ReadPwd            pwdOut     KP_DEV_TEXT_ROOM          hex
 *   KP_DEV_AT88SC1608_ReadPwd            pwdOut     KP_DEV_TEXT_ROOM          hex
 *   int and float outputs                           one int or float          written on success only
 */

/* Answers, swipes and bounds.
 *
 * The reader answers every request in order.  When an answer does not come
 * in time (the call fails with -4 or -2) or comes broken, the next call on
 * that COM port waits before its command goes out: until the late answer has
 * arrived and been dropped, at most until 3 s after the failed request
 * reached the reader (only for a reader that has answered at that speed
 * before; a broken answer: until the line has been quiet for 100 ms).  A late
 * answer is never returned as another call's data.  Calls after no fault
 * send at once.  The state belongs to the COM port: closing and reopening
 * the handle at the same speed keeps it.
 *
 * Track data the magnetic head sends while the library waits for another
 * answer (types 61 and 62, whose head is always on the line) is kept for the
 * next KP_DEV_Magnetic_ReadTrack of that port: at most 4 swipes, each for
 * 30 s.  KP_DEV_Magnetic_Accept and the write arms of a type-2 reader start
 * afresh and drop what was kept.
 *
 * Every loop that a card or the reader drives has a bound:
 *   - the financial services (KP_DEV_ReadFinanceICTrack2, _ReadICCardInfo,
 *     _ReadICCardGPOData, and the bank cards of the read-any-card calls) read
 *     at most 3 records of the payment directory and, of the AFL, each short
 *     file identifier and record number once and at most 64 records in all,
 *     whatever the card answers; every command gets at most one follow-up
 *     (GET RESPONSE, or the command again with the length the card names);
 *     a walk of the AFL stops after 3 records in a row that failed;
 *   - one read of an answer ends at the latest one input gap (100 ms, or 16
 *     character times at low speeds) after each byte once its timeout passed;
 *   - the wait before a command after a fault ends, whatever the reader
 *     sends meanwhile, after 3 s plus the wire time of the longest answer
 *     (2,086 bytes: 2.2 s at 9600 baud) plus 100 ms, or after 64 KiB;
 *   - KP_DEV_ID_Read retries within its timeLimitMs;
 *   - the read-any-card calls end at their timeout or a cancel (see 38, 48).
 */

#ifdef __cplusplus
extern "C" {
#endif

/* 1. Copies the 32-byte version text (GBK) and a NUL into text (>= 33 bytes). Returns 0. */
KP_API int KP_STDCALL KP_DEV_GetDllVersion(char* text);
/* 2. Opens a reader of deviceType (0; 1, 2, 5; 61, 62) on portSpec "COM%d:%d:N:8:1"; writes the handle. 0, -1, -5. */
KP_API int KP_STDCALL KP_DEV_OpenDevice(int deviceType, const char* portSpec, int* handle);
/* 3. Restores the default module where needed and closes the reader. 0. */
KP_API int KP_STDCALL KP_DEV_CloseDevice(int handle);
/* 4. Re-sends the module escape sequence of the open module (module is not used). 0, -20, -301, -302, -9, -2, -4. */
KP_API int KP_STDCALL KP_DEV_SetDeviceModule(int handle, int module);
/* 5. Soft reset of the card module (mode 0 or 1). 0, -5, -20, or a device error. */
KP_API int KP_STDCALL KP_DEV_IC_SoftReset(int handle, int mode);
/* 6. Card state of a seat, written to *state for known device states. 0, -20, or a device error. */
KP_API int KP_STDCALL KP_DEV_IC_GetStatus(int handle, int seat, int* state);
/* 7. Powers a seat on; *atrLen is the room in bytes on entry, the length on return. 0, -304, -20, device errors.
 * Type 0, seats 16-30: the answer to reset cached at the first power-on is copied again without comparing it with
 * *atrLen; give atr KP_DEV_ATR_CACHE_ROOM bytes there. */
KP_API int KP_STDCALL KP_DEV_IC_PowerOn(int handle, int seat, int* atrLen, char* atr);
/* 8. Powers a seat off. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_PowerOff(int handle, int seat);
/* 9. Activates a contactless processor card: card type, UID and ATS. 0, -304, -20, device errors.
 * A -304 for the ATS comes after the card type and the UID have been written. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessActive(int handle, int* cardType, int* uidLen, char* uid, int* atsLen,
                                                  char* ats);
/* 10. Halts the contactless card. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessHalt(int handle);
/* 11. Exchanges one APDU (hex text) with a seat; response ends with SW1 SW2. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_SendApdu(int handle, int seat, int reserved, const char* apdu, int apduLen,
                                         char* response);
/* 12. Sets the card type of a seat. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_SetCardType(int handle, int seat, int cardType);
/* 13. Reads the card type of a seat. 0, -326 (no type), -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_GetCardType(int handle, int seat, int* cardType);
/* 14. Store card: key set-up. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_InitializeKey(int handle, int seat, const char* keyHex);
/* 15. Store card: password check. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_VerifyPwd(int handle, int seat, const char* pwdHex);
/* 16. Store card: reads length bytes at address. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ReadStoreData(int handle, int seat, int address, int length, char* dataOut);
/* 17. Store card: writes hex data at address. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_WriteStoreData(int handle, int seat, int address, const char* dataHex);
/* 18. Activates a contactless memory card: card type, UID and ATS. 0, -304, -20, device errors.
 * The UID is written without comparing *uidLen (room for 9 characters is needed). */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessActiveStoreCard(int handle, int* cardType, int* uidLen, char* uid,
                                                           int* atsLen, char* ats);
/* 19. Authenticates a sector with key type (A/B) and key. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessCertifySector(int handle, int sector, int keyType, const char* keyHex);
/* 20. Reads block (sector*4+block) as hex text. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessReadBlock(int handle, int sector, int block, int* dataLen, char* dataOut);
/* 21. Writes 16 bytes (32 hex characters) to a block. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessWriteBlock(int handle, int sector, int block, const char* dataHex);
/* 22. Reads a value block as an amount. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessReadValueBlock(int handle, int sector, int block, float* value);
/* 23. Writes an amount to a value block. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessWriteValueBlock(int handle, int sector, int block, float value);
/* 24. Reads a value block, adds amount and writes it back. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessIncrease(int handle, int sector, int block, float amount);
/* 25. Reads a value block, subtracts amount and writes it back. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessDecrease(int handle, int sector, int block, float amount);
/* 26. Writes the keys of a sector. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ConnectlessWriteKey(int handle, int sector, int keyType, const char* keyHex);
/* 27. Resets the magnetic head. 0, -3, -20. */
KP_API int KP_STDCALL KP_DEV_Magnetic_Reset(int handle);
/* 28. Arms the magnetic head for a swipe. 0, -3, -20. */
KP_API int KP_STDCALL KP_DEV_Magnetic_Accept(int handle);
/* 29. Cancels an armed read or write (same entry as KP_DEV_Magnetic_CancelWriteTrack). 0, -3, -20. */
KP_API int KP_STDCALL KP_DEV_Magnetic_CancelAccept(int handle);
/* 30. Polls for swiped tracks. 0, -101 (nothing yet), -2 (armed over 29 s), -102, -20; -4 once the line has
 * failed (the reader went away).  The track texts get no terminating NUL: pass zero-filled buffers.  Tracks
 * the head sent while another call waited for its answer are returned first. */
KP_API int KP_STDCALL KP_DEV_Magnetic_ReadTrack(int handle, char* track1, char* track2);
/* 31. Arms a write of one or both tracks (empty text = track not written). 0, -5, -3, -20. */
KP_API int KP_STDCALL KP_DEV_Magnetic_WaitForWriteTrack(int handle, const char* track1, const char* track2);
/* 32. Polls for the write confirmation. 0, -101, -2, -103, -20. */
KP_API int KP_STDCALL KP_DEV_Magnetic_ConfirmWriteTrack(int handle);
/* 33. Alias of KP_DEV_Magnetic_CancelAccept. */
KP_API int KP_STDCALL KP_DEV_Magnetic_CancelWriteTrack(int handle);
/* 34. Writes the hex codes of each character of text to hexOut, NUL-terminated. 0. */
KP_API int KP_STDCALL KP_AscToBcd(const char* text, char* hexOut);
/* 35. Writes one byte per hex pair of hexText to bytesOut, without a terminator. 0. */
KP_API int KP_STDCALL KP_BcdToAsc(const char* hexText, char* bytesOut);
/* 36. Writes the open module (device type; 0 for type 5). 0, or -10 when the handle is not open. */
KP_API int KP_STDCALL KP_DEV_CheckIsOpen(int handle, int* module);
/* 37. Reads the Track 2 equivalent data of a bank card. 0, 200, -9, device errors.  At most 3 directory and
 * 64 AFL records are read (see "Answers, swipes and bounds"). */
KP_API int KP_STDCALL KP_DEV_ReadFinanceICTrack2(int handle, int seat, int reserved, char* track2);
/* 38. Opens the reader on COM port and waits for a magnetic, contactless or bank card. 0, -101, -1, ...
 * A timeoutMs below 300 waits for the magnetic card until one is swiped or KP_DEV_CancelReadAll is called.
 * -4 (or -3) when the reader goes away during that wait.
 * A KP_DEV_CancelReadAll made at any moment after the call started is never lost: one made before the
 * magnetic wait (while the chip cards are tried) ends that wait after its first look at the head; one during
 * the wait wakes it and ends it within a few milliseconds.  The second type-1 attempt follows either way.
 * A cancel made before the call started does not end it. */
KP_API int KP_STDCALL KP_DEV_ReadAll(int port, int unused1, unsigned int timeoutMs, int tryStoreCard, int sector,
                                     int block, int keyType, const char* keyHex, int tryContactBank,
                                     int tryContactlessBank, int unused2, int* cardKind, char* result);
/* 39. Cancels the read-any-card calls in progress (KP_DEV_ReadAll, _ReadAll_A), from any thread, without
 * waiting for them. 0.
 * How soon they return: a call asleep in a wait (KP_DEV_ReadAll's wait for a swipe, the pause between
 * KP_DEV_ReadAll_A's passes) is woken and ends that wait within a few milliseconds.  A command already sent
 * is not cut off: its answer, or its own timeout, is waited for, so that the line stays in step.  The call
 * then returns as the functions above say: KP_DEV_ReadAll after its second type-1 attempt (two module
 * switches, some 250 ms at 9600 baud), KP_DEV_ReadAll_A at the end of the pass in progress (the identity
 * library, one magnetic read with its 100 ms arm, the enabled chip cards; a bank card's dialogue stops at its
 * next command). */
KP_API int KP_STDCALL KP_DEV_CancelReadAll(void);
/* 40. Reads Track 2, PAN sequence number and AID of a bank card. 0, 200, -9, device errors.  At most 3 directory
 * and 64 AFL records are read. */
KP_API int KP_STDCALL KP_DEV_ReadICCardInfo(int handle, int seat, int reserved, char* track2, char* panSeq, char* aid);
/* 41. Runs GENERATE AC and writes the chip data for an online authorisation. 0, 200, device errors. */
KP_API int KP_STDCALL KP_DEV_GetICTraceInfo(int handle, int seat, int reserved, const char* aid, const char* transType,
                                            const char* amount, char* chipData);
/* 42. Buzzer on (non-zero) or off. 0, -3. */
KP_API int KP_STDCALL KP_DEV_IC_Voice(int handle, int on);
/* 43. Exchanges one APDU with response chaining (61xx, 6Cxx, ...). 0, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_SendApdu_A(int handle, int seat, int reserved, const char* apdu, int apduLen,
                                           char* response);
/* 44. Reads the records of the AFL as text lines. 0, 200, 201 (capacity exceeded).  Each SFI and record
 * once, at most 64 records: the records past that are not read. */
KP_API int KP_STDCALL KP_DEV_ReadICCardGPOData(int handle, int seat, int reserved, char* records, int capacity);
/* 45. Finds a tag in a TLV hex text and writes its value. 0, -9 (not found). */
KP_API int KP_STDCALL ICCardFindSubStr(const char* response, const char* tag, char* valueOut);
/* 46. Finds a reader of deviceType by trying ports and baud rates; writes port, baud, handle. 0 or last failure.
 * Each attempt opens, and after a failed version request closes, the port as deviceType does: for types 1 and
 * 2 that sends the module escape sequence (ESC $ I d or ESC $ B) at 9600 baud and, on close, ESC $ I 0.  A
 * reader of another family on a tried port takes these as a change of module or speed (a type-61 reader at
 * 115200 is left at 9600).  Search only for the type the reader is known to be; to find an unknown reader
 * without changing it, ask for versions as `kpdev probe` does (open as type 61 or 5, which send nothing). */
KP_API int KP_STDCALL KP_DEV_AutoOpenDevice(int* port, int* baud, int* handle, int deviceType);
/* 47. Card communication speed of a seat. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_SetBaudRate(int handle, int seat, int baud);
/* 48. As KP_DEV_ReadAll, repeating until a card (identity cards too) is read or timeoutMs passes (0: one pass).
 * A cancel made after the call started ends it at the end of the pass, and a bank card's dialogue within a
 * pass at its next command, as does the end of timeoutMs.  A swipe made while a pass runs is returned by that
 * pass or the next; only one made while the loop reopens its port between passes (a few milliseconds, more
 * with an identity-card library that opens the port itself) is lost. */
KP_API int KP_STDCALL KP_DEV_ReadAll_A(int port, int unused1, unsigned int timeoutMs, int tryStoreCard, int sector,
                                       int block, int keyType, const char* keyHex, int tryContactBank,
                                       int tryContactlessBank, int unused2, int* cardKind, char* result);
/* 49. AT88SC102 password check of a zone (same entry as KP_DEV_IC_VerifyPwdEXAT1608). */
KP_API int KP_STDCALL KP_DEV_IC_VerifyPwdEXAT102(int handle, int seat, int zone, const char* pwdHex);
/* 50. AT88SC1604 password check; pwdSelector's low and high bytes are sent. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_VerifyPwdEXAT1604(int handle, int seat, int pwdSelector, const char* pwdHex);
/* 51. AT88SC1608 password check of a zone. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_VerifyPwdEXAT1608(int handle, int seat, int zone, const char* pwdHex);
/* 52. AT88SC1608 user data read. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_ReadStoreDataEXAT1608(int handle, int seat, int zone, int address, int length,
                                                      char* dataOut);
/* 53. AT88SC1608 user data write. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_IC_WriteStoreDataEXAT1608(int handle, int seat, int zone, int address,
                                                       const char* dataHex);
/* 54. SLE4428 PSC check. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4428_VerifyPwd(int handle, int seat, const char* pwdHex);
/* 55. SLE4428 PSC change. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4428_ModifyPwd(int handle, int seat, const char* pwdHex);
/* 56. SLE4428 error counter. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4428_ReadERROR(int handle, int seat, int* count);
/* 57. SLE4428 data (and protection flags) read; the data hex is appended to dataOut, the flags are written from the
 * start of protectOut, one "%d" each. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4428_ReadData(int handle, int seat, int mode, int address, int length, char* dataOut,
                                              char* protectOut);
/* 58. SLE4428 data write (mode: with or without protection). 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4428_WriteData(int handle, int seat, int mode, int address, const char* dataHex);
/* 59. SLE4442 PSC check. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_VerifyPwd(int handle, int seat, const char* pwdHex);
/* 60. SLE4442 PSC change. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_ModifyPwd(int handle, int seat, const char* pwdHex);
/* 61. SLE4442 error counter. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_ReadERROR(int handle, int seat, int* count);
/* 62. SLE4442 main memory read. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_ReadDataForUser(int handle, int seat, int address, int length, char* dataOut);
/* 63. SLE4442 main memory write. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_WriteDataForUser(int handle, int seat, int address, const char* dataHex);
/* 64. SLE4442 protection memory read. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_ReadDataForProtection(int handle, int seat, int address, int length,
                                                           char* dataOut);
/* 65. SLE4442 protection memory write. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_WriteDataForProtection(int handle, int seat, int address, const char* dataHex);
/* 66. AT24Cxx read. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT24CXX_ReadData(int handle, int seat, int address, int length, char* dataOut);
/* 67. AT24Cxx write. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT24CXX_WriteData(int handle, int seat, int address, const char* dataHex);
/* 68. Firmware version text. 0, -4, -8, -20, device errors; -5 with version NULL (nothing is sent). */
KP_API int KP_STDCALL KP_DEV_GetDeviceVersion(int handle, char* version);
/* 69. Blows the AT88SC102 fuse. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_Fuse(int handle, int seat);
/* 70. AT88SC102 password check of a zone. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_VerifyPwd(int handle, int seat, int zone, const char* pwdHex);
/* 71. AT88SC102 password change. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_ModifyPwd(int handle, int seat, int zone, const char* pwdHex);
/* 72. AT88SC102 error counter of a zone. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_ReadERROR(int handle, int seat, int zone, int* count);
/* 73. AT88SC102 read. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_ReadData(int handle, int seat, int address, int length, char* dataOut);
/* 74. AT88SC102 write. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_WriteData(int handle, int seat, int address, const char* dataHex);
/* 75. Blows the AT88SC1604 fuse. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1604_Fuse(int handle, int seat);
/* 76. AT88SC1604 password check of a zone. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1604_VerifyPwd(int handle, int seat, int zone, const char* pwdHex);
/* 77. AT88SC1604 password change. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1604_ModifyPwd(int handle, int seat, int zone, const char* pwdHex);
/* 78. AT88SC1604 error counter of a zone. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1604_ReadERROR(int handle, int seat, int zone, int* count);
/* 79. AT88SC1604 read. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1604_ReadData(int handle, int seat, int address, int length, char* dataOut);
/* 80. AT88SC1604 write. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1604_WriteData(int handle, int seat, int address, const char* dataHex);
/* 81. Blows the AT88SC1608 fuse. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_Fuse(int handle, int seat);
/* 82. AT88SC1608 password check. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_VerifyPwd(int handle, int seat, int pwdSelect, int pwdSet, const char* pwdHex);
/* 83. AT88SC1608 password change. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_ModifyPwd(int handle, int seat, int pwdSelect, int pwdSet, const char* pwdHex);
/* 84. AT88SC1608 error counter. 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadERROR(int handle, int seat, int pwdSelect, int pwdSet, int* count);
/* 85. AT88SC1608 read of a zone. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadData(int handle, int seat, int zone, int address, int length,
                                                 char* dataOut);
/* 86. AT88SC1608 write to a zone. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_WriteData(int handle, int seat, int zone, int address, const char* dataHex);
/* 87. AT45DB041 read of a page. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT45DB041_ReadData(int handle, int seat, int page, int offset, int length, char* dataOut);
/* 88. AT45DB041 write to a page. 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT45DB041_WriteData(int handle, int seat, int page, int offset, const char* dataHex);
/* 89. Looks for an identity card (type-0 reader). 0, -3, -4, -20. */
KP_API int KP_STDCALL KP_DEV_ID_FindID(int handle);
/* 90. One field of the identity record read last. 0, -20; -5 with out NULL (type 0, fields 1 to 9). */
KP_API int KP_STDCALL KP_DEV_ID_GetData(int handle, int field, char* out);
/* 91. Reads an identity card into nine outputs within a time limit (0 or less: one attempt). 0, -3, -4, -6, -20.
 * An attempt begun within the limit is finished, so the call may end up to a few seconds after it. */
KP_API int KP_STDCALL KP_DEV_ID_Read(int handle, int timeLimitMs, char** fields);
/* 92. Changes the device's serial speed (the host side keeps its speed). 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SetBaudRate(int handle, int baud);
/* 93. SLE4428 PSC read (type-0 reader). 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4428_ReadPwd(int handle, int seat, char* pwdOut);
/* 94. SLE4442 PSC read (type-0 reader). 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_SLE4442_ReadPwd(int handle, int seat, char* pwdOut);
/* 95. AT88SC102 password read (type-0 reader). 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_ReadPwd(int handle, int seat, int zone, char* pwdOut);
/* 96. AT88SC1604 password read (type-0 reader). 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1604_ReadPwd(int handle, int seat, int zone, char* pwdOut);
/* 97. AT88SC1608 password read (type-0 reader). 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadPwd(int handle, int seat, int pwdSelect, int pwdSet, char* pwdOut);
/* 98. AT88SC1608 authentication set-up (type-0 reader). 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_InitAuthenticationCard(int handle, int seat, const char* authHex);
/* 99. AT88SC1608 authentication (type-0 reader). 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_AuthenticationCard(int handle, int seat, const char* authHex);
/* 100. AT88SC1608 fuse state (type-0 reader). 0, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadFuse(int handle, int seat, int* fuse);
/* 101. AT88SC102 erase (type-0 reader). 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_ClearData(int handle, int seat, int address, int length);
/* 102. AT88SC102 write variant (type-0 reader). 0, -5, -20, device errors. */
KP_API int KP_STDCALL KP_DEV_AT88SC102_CWriteData(int handle, int seat, int address, const char* dataHex);

/* The name of a result code ("KP_DEV_ERR_PARAM"), or NULL for a code that
 * has none.  Header-only, so the exported function table is unchanged. */
static inline const char* kp_dev_result_name(int code) {
  switch (code) {
    case 0:
      return "KP_DEV_OK";
    case -1:
      return "KP_DEV_ERR_OPEN";
    case -2:
      return "KP_DEV_ERR_WAIT";
    case -3:
      return "KP_DEV_ERR_WRITE";
    case -4:
      return "KP_DEV_ERR_READ";
    case -5:
      return "KP_DEV_ERR_PARAM";
    case -6:
      return "KP_DEV_ERR_ID_TIME_LIMIT";
    case -8:
      return "KP_DEV_ERR_FRAME";
    case -9:
      return "KP_DEV_ERR_STATUS";
    case -10:
      return "KP_DEV_ERR_NOT_OPEN";
    case -20:
      return "KP_DEV_ERR_NOT_SUPPORTED";
    case -99:
      return "KP_DEV_ERR_INTERNAL";
    case -101:
      return "KP_DEV_NOTHING_YET";
    case -102:
      return "KP_DEV_ERR_MAG_READ";
    case -103:
      return "KP_DEV_ERR_MAG_WRITE";
    case -301:
      return "KP_DEV_ERR_MODULE_REFUSED1";
    case -302:
      return "KP_DEV_ERR_MODULE_REFUSED2";
    case -304:
      return "KP_DEV_ERR_ROOM";
    case -305:
      return "KP_DEV_ERR_NO_CARD";
    case -306:
      return "KP_DEV_ERR_CARD_NOT_ACTIVE";
    case -307:
      return "KP_DEV_ERR_CARD_MUTE";
    case -308:
      return "KP_DEV_ERR_UNKNOWN_COMMAND";
    case -309:
      return "KP_DEV_ERR_WRONG_TECHNOLOGY";
    case -310:
      return "KP_DEV_ERR_BAD_DATA";
    case -311:
      return "KP_DEV_ERR_CARD_HALTED";
    case -312:
      return "KP_DEV_ERR_WRONG_KEY";
    case -313:
      return "KP_DEV_ERR_LOCKED";
    case -314:
      return "KP_DEV_ERR_CARD_CHANGED";
    case -316:
      return "KP_DEV_ERR_NOT_AUTHENTICATED";
    case -317:
      return "KP_DEV_ERR_BAD_CHECKSUM";
    case -318:
      return "KP_DEV_ERR_BAD_FRAME";
    case -319:
      return "KP_DEV_ERR_OUT_OF_RANGE";
    case -320:
      return "KP_DEV_ERR_WRONG_CARD";
    case -321:
      return "KP_DEV_ERR_VALUE_BLOCK";
    case -324:
      return "KP_DEV_ERR_PROTECTED";
    case -326:
      return "KP_DEV_ERR_NO_CARD_TYPE";
    case -328:
      return "KP_DEV_ERR_AUTH_FAILED";
    case 200:
      return "KP_DEV_CARD_STATUS";
    case 201:
      return "KP_DEV_CAPACITY_EXCEEDED";
    default:
      return 0; /* NOLINT(modernize-use-nullptr): also compiled as C */
  }
}

/* An English description of a result code; never NULL. */
static inline const char* kp_dev_result_text(int code) {
  switch (code) {
    case 0:
      return "success";
    case -1:
      return "open failure or refused parameter";
    case -2:
      return "a serial wait ran out, or the magnetic head was armed more than 29 s ago";
    case -3:
      return "serial write failure, or an unexpected identity-module answer";
    case -4:
      return "serial read failure or timeout";
    case -5:
      return "parameter out of range, or text that is not upper-case hexadecimal";
    case -6:
      return "the identity read's time limit passed";
    case -8:
      return "response frame not ended by ETX";
    case -9:
      return "unknown device status, unexpected reply byte, or tag not found";
    case -10:
      return "handle not open";
    case -20:
      return "operation not valid for this reader type or module";
    case -99:
      return "internal failure inside the library (e.g. out of memory)";
    case -101:
      return "nothing presented yet";
    case -102:
      return "magnetic read failure";
    case -103:
      return "magnetic write failure";
    case -301:
      return "module escape sequence refused (reply 1)";
    case -302:
      return "module escape sequence refused (reply 2)";
    case -304:
      return "the caller's buffer is smaller than the data";
    case -305:
      return "no card present (device status 1001)";
    case -306:
      return "card not powered or not activated (device status 1002)";
    case -307:
      return "card does not answer (device status 1004)";
    case -308:
      return "command unknown to the reader (device status 1005)";
    case -309:
      return "card of a technology these commands do not serve (device status 2001)";
    case -310:
      return "wrong data size or refused value (device status 2005)";
    case -311:
      return "contactless card halted (device status 3001)";
    case -312:
      return "wrong key or password (device status 3005)";
    case -313:
      return "locked: error counter exhausted (device status 3006)";
    case -314:
      return "card changed: the UID differs between activations (device status 3009)";
    case -316:
      return "authentication or password needed first (device status 3008)";
    case -317:
      return "checksum does not match (device status 1006)";
    case -318:
      return "malformed frame (device status 1007)";
    case -319:
      return "address, block or value out of range (device status 2004)";
    case -320:
      return "wrong kind of card for this operation (device status 2006)";
    case -321:
      return "value block check failed (device status 2007)";
    case -324:
      return "protected or read-only (device status 3007)";
    case -326:
      return "the device reported no card type";
    case -328:
      return "authentication failed or not done (device status 6003)";
    case 200:
      return "card status word other than 9000";
    case 201:
      return "the caller's capacity exceeded";
    /* Results of the device-status range that no status word maps to. */
    case -315:
      return "device status result -315 (no status word maps to it)";
    case -322:
      return "device status result -322 (no status word maps to it)";
    case -323:
      return "device status result -323 (no status word maps to it)";
    case -325:
      return "device status result -325 (no status word maps to it)";
    case -327:
      return "device status result -327 (no status word maps to it)";
    default:
      return "unknown result code";
  }
}

#ifdef __cplusplus
}
#endif

#endif /* KP_DEV_H */
