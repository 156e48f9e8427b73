using System;
using System.Runtime.CompilerServices;

namespace Kpdev
{
    /// <summary>An open reader: <c>new Reader(port, deviceType, baud)</c> opens COM
    /// <c>port</c> (1 to 32) as "COMn:baud:N:8:1". Card data is <c>byte[]</c> in and out;
    /// a failure throws <see cref="KpDevException"/>; a bad argument throws an
    /// ArgumentException before anything is sent; a closed reader throws
    /// ObjectDisposedException.</summary>
    /// <remarks>Calls on one reader from several threads run one after the other. A
    /// port has one Reader at a time in a process (InvalidOperationException for a
    /// second): the library's handle is the port number, so a second open would share
    /// the first's reader and a close of either would close both.</remarks>
    public sealed class Reader : IDisposable
    {
        /// <summary>Key type A of a sector key.</summary>
        public const int KeyA = 0x60;
        /// <summary>Key type B of a sector key.</summary>
        public const int KeyB = 0x61;
        /// <summary>The seat of the contactless field.</summary>
        public const int Contactless = 255;

        // Every answer's text fits the library's 2080-character buffer.
        const int TextRoom = 2080;
        const int AtrRoomBytes = 64;
        const int UidRoomBytes = 63;
        const int AtsRoomBytes = 512;
        const int BlockRoomChars = 32;
        const int IdFieldRoom = 261;

        readonly object gate = new object();
        int handle;
        bool open;

        public Reader(int port, int deviceType = 1, int baud = 9600)
        {
            KpDev.Load();
            Ports.CheckNumber(port);
            if (deviceType < 0)
                throw new ArgumentOutOfRangeException("deviceType", deviceType, "a device type is not negative");
            if (baud < 1)
                throw new ArgumentOutOfRangeException("baud", baud, "a line speed is positive");
            Port = port;
            DeviceType = deviceType;
            Baud = baud;
            Ports.Claim(port, "a Reader");
            try
            {
                handle = Open(port, deviceType, baud);
                open = true;
            }
            finally
            {
                if (!open)
                    Ports.Release(port);
            }
        }

        // Compiled only once KpDev.Load has run.
        [MethodImpl(MethodImplOptions.NoInlining)]
        static int Open(int port, int deviceType, int baud)
        {
            int handle = 0;
            byte[] target = Texts.Terminated(string.Format("COM{0}:{1}:N:8:1", port, baud));
            KpDevException.Check("KP_DEV_OpenDevice", Exports.KP_DEV_OpenDevice(deviceType, target, ref handle));
            return handle;
        }

        public int Port { get; private set; }
        public int DeviceType { get; private set; }
        public int Baud { get; private set; }

        public bool IsOpen
        {
            get
            {
                lock (gate)
                    return open;
            }
        }

        /// <summary>Closes the reader (after a call running on another thread); a second
        /// close does nothing.</summary>
        public void Close()
        {
            lock (gate)
            {
                if (!open)
                    return;
                open = false;
                // The port is free only once its reader is closed: a Reader opened
                // on it meanwhile would be closed with it.
                try
                {
                    KpDevException.Check("KP_DEV_CloseDevice", Exports.KP_DEV_CloseDevice(handle));
                }
                finally
                {
                    Ports.Release(Port);
                }
            }
        }

        public void Dispose()
        {
            Close();
        }

        // Runs one operation on the open reader; the gate keeps Close out
        // until it has returned.
        T Use<T>(Func<int, T> operation)
        {
            lock (gate)
            {
                if (!open)
                    throw new ObjectDisposedException("Reader", string.Format("the reader of COM{0} is closed", Port));
                return operation(handle);
            }
        }

        void Use(Func<int, int> operation, string function)
        {
            Use(h => { KpDevException.Check(function, operation(h)); return 0; });
        }

        static int Seat(int seat)
        {
            if (seat < 0 || seat > 255)
                throw new ArgumentOutOfRangeException("seat", seat, "a seat is 0 to 255");
            return seat;
        }

        internal static void CheckBlockAddress(int sector, int block)
        {
            if (sector < 0 || sector > 15)
                throw new ArgumentOutOfRangeException("sector", sector, "a sector is 0 to 15");
            if (block < 0 || block > 3)
                throw new ArgumentOutOfRangeException("block", block, "a block is 0 to 3");
        }

        static string HexOf(byte[] data, string what, int length)
        {
            if (data == null)
                throw new ArgumentNullException(what);
            if (length >= 0 && data.Length != length)
                throw new ArgumentException(string.Format("{0} has {1} bytes, not {2}", what, length, data.Length), what);
            return Hex.Of(data);
        }

        // ---- Device

        /// <summary>The firmware's version bytes.</summary>
        public byte[] DeviceVersion()
        {
            var text = new byte[TextRoom];
            Use(h => Exports.KP_DEV_GetDeviceVersion(h, text), "KP_DEV_GetDeviceVersion");
            return Hex.Parse("KP_DEV_GetDeviceVersion", text);
        }

        /// <summary>The module the reader was opened with (its device type; 0 for type 5).</summary>
        public int Module()
        {
            int module = 0;
            Use(h => Exports.KP_DEV_CheckIsOpen(h, ref module), "KP_DEV_CheckIsOpen");
            return module;
        }

        public void Beep(bool on = true)
        {
            Use(h => Exports.KP_DEV_IC_Voice(h, on ? 1 : 0), "KP_DEV_IC_Voice");
        }

        // ---- Contact CPU cards

        /// <summary>The state of a seat: 1 empty, 2 present, 3 powered, ...</summary>
        public int CardState(int seat = 0)
        {
            int state = 0;
            Use(h => Exports.KP_DEV_IC_GetStatus(h, Seat(seat), ref state), "KP_DEV_IC_GetStatus");
            return state;
        }

        /// <summary>Powers the card on; returns its answer to reset.</summary>
        public byte[] PowerOn(int seat = 0)
        {
            int room = AtrRoomBytes;
            var atr = new byte[Math.Max(2 * AtrRoomBytes + 1, 128)];
            Use(h => Exports.KP_DEV_IC_PowerOn(h, Seat(seat), ref room, atr), "KP_DEV_IC_PowerOn");
            return Hex.Parse("KP_DEV_IC_PowerOn", atr);
        }

        public void PowerOff(int seat = 0)
        {
            Use(h => Exports.KP_DEV_IC_PowerOff(h, Seat(seat)), "KP_DEV_IC_PowerOff");
        }

        /// <summary>Sends one APDU (4 to 1033 bytes); returns the answer with its status
        /// word at the end. <paramref name="chained"/>: answers 61xx and 6Cxx itself (GET
        /// RESPONSE, the command again with Le).</summary>
        public byte[] Apdu(byte[] command, int seat = 0, bool chained = false)
        {
            string text = HexOf(command, "command", -1);
            if (command.Length < 4 || command.Length > 1033)
                throw new ArgumentException("an APDU has 4 to 1033 bytes", "command");
            var answer = new byte[TextRoom];
            if (chained)
                Use(h => Exports.KP_DEV_IC_SendApdu_A(h, Seat(seat), 0, text, text.Length, answer),
                    "KP_DEV_IC_SendApdu_A");
            else
                Use(h => Exports.KP_DEV_IC_SendApdu(h, Seat(seat), 0, text, text.Length, answer), "KP_DEV_IC_SendApdu");
            return Hex.Parse("KP_DEV_IC_SendApdu", answer);
        }

        // ---- Contactless cards

        /// <summary>Activates a contactless processor card.</summary>
        public ContactlessCard Activate()
        {
            int type = 0, uidLen = UidRoomBytes, atsLen = AtsRoomBytes;
            var uid = new byte[2 * UidRoomBytes + 1];
            var ats = new byte[2 * AtsRoomBytes + 1];
            Use(h => Exports.KP_DEV_IC_ConnectlessActive(h, ref type, ref uidLen, uid, ref atsLen, ats),
                "KP_DEV_IC_ConnectlessActive");
            return new ContactlessCard(type, Hex.Parse("KP_DEV_IC_ConnectlessActive", uid),
                                       Hex.Parse("KP_DEV_IC_ConnectlessActive", ats));
        }

        /// <summary>Activates a contactless sector card (4-byte UID, no answer to select).</summary>
        public ContactlessCard ActivateStoreCard()
        {
            int type = 0, uidLen = 4, atsLen = 0;
            var uid = new byte[9];
            var ats = new byte[1];  // never written
            Use(h => Exports.KP_DEV_IC_ConnectlessActiveStoreCard(h, ref type, ref uidLen, uid, ref atsLen, ats),
                "KP_DEV_IC_ConnectlessActiveStoreCard");
            return new ContactlessCard(type, Hex.Parse("KP_DEV_IC_ConnectlessActiveStoreCard", uid), new byte[0]);
        }

        public void Halt()
        {
            Use(h => Exports.KP_DEV_IC_ConnectlessHalt(h), "KP_DEV_IC_ConnectlessHalt");
        }

        /// <summary>Authenticates a sector with a 6-byte key; a wrong key throws
        /// KP_DEV_ERR_WRONG_KEY and the card must be activated again.</summary>
        public void Authenticate(int sector, byte[] key, int keyType = KeyA)
        {
            CheckBlockAddress(sector, 0);
            string text = HexOf(key, "key", 6);
            if (keyType < 0 || keyType > 255)
                throw new ArgumentOutOfRangeException("keyType", keyType, "a key type is one byte");
            Use(h => Exports.KP_DEV_IC_ConnectlessCertifySector(h, sector, keyType, text),
                "KP_DEV_IC_ConnectlessCertifySector");
        }

        /// <summary>The 16 bytes of a block of the authenticated sector.</summary>
        public byte[] ReadBlock(int sector, int block)
        {
            CheckBlockAddress(sector, block);
            int room = BlockRoomChars;
            var data = new byte[BlockRoomChars + 1];
            Use(h => Exports.KP_DEV_IC_ConnectlessReadBlock(h, sector, block, ref room, data),
                "KP_DEV_IC_ConnectlessReadBlock");
            return Hex.Parse("KP_DEV_IC_ConnectlessReadBlock", data);
        }

        public void WriteBlock(int sector, int block, byte[] data)
        {
            CheckBlockAddress(sector, block);
            string text = HexOf(data, "data", 16);
            Use(h => Exports.KP_DEV_IC_ConnectlessWriteBlock(h, sector, block, text), "KP_DEV_IC_ConnectlessWriteBlock");
        }

        public float ReadValue(int sector, int block)
        {
            CheckBlockAddress(sector, block);
            float value = 0;
            Use(h => Exports.KP_DEV_IC_ConnectlessReadValueBlock(h, sector, block, ref value),
                "KP_DEV_IC_ConnectlessReadValueBlock");
            return value;
        }

        public void WriteValue(int sector, int block, float value)
        {
            CheckBlockAddress(sector, block);
            Use(h => Exports.KP_DEV_IC_ConnectlessWriteValueBlock(h, sector, block, value),
                "KP_DEV_IC_ConnectlessWriteValueBlock");
        }

        public void Increase(int sector, int block, float amount)
        {
            CheckBlockAddress(sector, block);
            Use(h => Exports.KP_DEV_IC_ConnectlessIncrease(h, sector, block, amount), "KP_DEV_IC_ConnectlessIncrease");
        }

        public void Decrease(int sector, int block, float amount)
        {
            CheckBlockAddress(sector, block);
            Use(h => Exports.KP_DEV_IC_ConnectlessDecrease(h, sector, block, amount), "KP_DEV_IC_ConnectlessDecrease");
        }

        // ---- Magnetic stripe

        /// <summary>Arms the head for a swipe.</summary>
        public void ArmMagnetic()
        {
            Use(h => Exports.KP_DEV_Magnetic_Accept(h), "KP_DEV_Magnetic_Accept");
        }

        public void CancelMagnetic()
        {
            Use(h => Exports.KP_DEV_Magnetic_CancelAccept(h), "KP_DEV_Magnetic_CancelAccept");
        }

        /// <summary>The tracks of the card swiped since the head was armed, or null while
        /// none has been (the library only polls: call again).</summary>
        public MagneticTracks ReadTracks()
        {
            // The library writes the tracks without a NUL: fresh zeroed arrays.
            var track1 = new byte[TextRoom];
            var track2 = new byte[TextRoom];
            int result = Use(h => Exports.KP_DEV_Magnetic_ReadTrack(h, track1, track2));
            if (result == Results.KP_DEV_NOTHING_YET)
                return null;
            KpDevException.Check("KP_DEV_Magnetic_ReadTrack", result);
            return new MagneticTracks(Texts.Ascii(track1), Texts.Ascii(track2));
        }

        // ---- SLE4442 memory cards

        /// <summary>Presents the 3-byte PSC.</summary>
        public void Sle4442Verify(byte[] psc, int seat = 0)
        {
            string text = HexOf(psc, "psc", 3);
            Use(h => Exports.KP_DEV_SLE4442_VerifyPwd(h, Seat(seat), text), "KP_DEV_SLE4442_VerifyPwd");
        }

        public byte[] Sle4442Read(int address, int length, int seat = 0)
        {
            if (address < 0 || address > 255)
                throw new ArgumentOutOfRangeException("address", address, "an address is 0 to 255");
            if (length < 1 || length > 256 - address)
                throw new ArgumentOutOfRangeException("length", length, "1 to " + (256 - address) + " bytes");
            // The read appends its hex to the text the buffer holds: none.
            var data = new byte[2 * length + 1];
            Use(h => Exports.KP_DEV_SLE4442_ReadDataForUser(h, Seat(seat), address, length, data),
                "KP_DEV_SLE4442_ReadDataForUser");
            return Hex.Parse("KP_DEV_SLE4442_ReadDataForUser", data);
        }

        public void Sle4442Write(int address, byte[] data, int seat = 0)
        {
            if (address < 0 || address > 255)
                throw new ArgumentOutOfRangeException("address", address, "an address is 0 to 255");
            string text = HexOf(data, "data", -1);
            if (data.Length < 1 || data.Length > 256 - address)
                throw new ArgumentException("data must have 1 to " + (256 - address) + " bytes", "data");
            Use(h => Exports.KP_DEV_SLE4442_WriteDataForUser(h, Seat(seat), address, text),
                "KP_DEV_SLE4442_WriteDataForUser");
        }

        // ---- Bank cards

        /// <summary>Track 2 equivalent data of a bank card (digits, D as separator).</summary>
        public string Track2(int seat = 0)
        {
            var text = new byte[TextRoom];
            Use(h => Exports.KP_DEV_ReadFinanceICTrack2(h, Seat(seat), 0, text), "KP_DEV_ReadFinanceICTrack2");
            return Texts.Ascii(text);
        }

        public BankCardInfo CardInfo(int seat = 0)
        {
            var track2 = new byte[TextRoom];
            var panSeq = new byte[TextRoom];
            var aid = new byte[TextRoom];
            Use(h => Exports.KP_DEV_ReadICCardInfo(h, Seat(seat), 0, track2, panSeq, aid), "KP_DEV_ReadICCardInfo");
            return new BankCardInfo(Texts.Ascii(track2), Texts.Ascii(panSeq), Texts.Ascii(aid));
        }

        // ---- Identity cards (type-0 reader)

        /// <summary>Reads an identity card, trying for up to <paramref name="timeLimitMs"/>
        /// (KP_DEV_ERR_ID_TIME_LIMIT when none was read); the texts are decoded from
        /// GBK.</summary>
        public IdentityCard ReadIdentityCard(int timeLimitMs = 5000)
        {
            if (timeLimitMs < 0)
                throw new ArgumentOutOfRangeException("timeLimitMs", timeLimitMs, "a time limit is not negative");
            var fields = new byte[Check.IdentityFields][];
            for (int i = 0; i < fields.Length; i++)
                fields[i] = new byte[IdFieldRoom];
            Use(h => Exports.KP_DEV_ID_Read(h, timeLimitMs, fields), "KP_DEV_ID_Read");
            var texts = new string[8];
            for (int i = 0; i < texts.Length; i++)
                texts[i] = Texts.GbkText(fields[i]);
            return new IdentityCard(texts, Texts.Path(fields[8]));
        }
    }
}
