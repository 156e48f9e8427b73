package kpdev;

import com.sun.jna.ptr.FloatByReference;
import com.sun.jna.ptr.IntByReference;
import java.util.function.IntUnaryOperator;

/**
 * An open reader: {@code new Reader(port, deviceType, baud)} opens COM {@code port} (1 to 32) as
 * "COMn:baud:N:8:1". Card data is {@code byte[]} in and out; a failure throws {@link
 * KpDevException}; a bad argument throws an IllegalArgumentException before anything is sent; a
 * closed reader throws IllegalStateException.
 *
 * <p>Calls on one reader from several threads run one after the other. A port has one Reader at a
 * time in a process (IllegalStateException for a second): the library's handle is the port number,
 * so a second open would share the first's reader and a close of either would close both.
 */
public final class Reader implements AutoCloseable {
    /** Key type A of a sector key. */
    public static final int KEY_A = 0x60;
    /** Key type B of a sector key. */
    public static final int KEY_B = 0x61;
    /** The seat of the contactless field. */
    public static final int CONTACTLESS = 255;

    // Every answer's text fits the library's 2080-character buffer.
    private static final int TEXT_ROOM = 2080;
    private static final int ATR_ROOM_BYTES = 64;
    private static final int UID_ROOM_BYTES = 63;
    private static final int ATS_ROOM_BYTES = 512;
    private static final int BLOCK_ROOM_CHARS = 32;
    private static final int ID_FIELD_ROOM = 261;

    private final int port;
    private final int deviceType;
    private final int baud;
    private final int handle;
    private boolean open;

    /** A type-1 reader at 9600 baud. */
    public Reader(int port) {
        this(port, 1, 9600);
    }

    public Reader(int port, int deviceType, int baud) {
        Ports.checkNumber(port);
        if (deviceType < 0) {
            throw new IllegalArgumentException("a device type is not negative: " + deviceType);
        }
        if (baud < 1) {
            throw new IllegalArgumentException("a line speed is positive: " + baud);
        }
        this.port = port;
        this.deviceType = deviceType;
        this.baud = baud;
        Ports.claim(port, "a Reader");
        try {
            IntByReference opened = new IntByReference(0);
            byte[] target = Texts.terminated("COM" + port + ":" + baud + ":N:8:1");
            KpDevException.check("KP_DEV_OpenDevice", Exports.KP_DEV_OpenDevice(deviceType, target, opened));
            handle = opened.getValue();
            open = true;
        } finally {
            if (!open) {
                Ports.release(port);
            }
        }
    }

    public int getPort() {
        return port;
    }

    public int getDeviceType() {
        return deviceType;
    }

    public int getBaud() {
        return baud;
    }

    public synchronized boolean isOpen() {
        return open;
    }

    /** Closes the reader (after a call running on another thread); a second close does nothing. */
    @Override
    public synchronized void close() {
        if (!open) {
            return;
        }
        open = false;
        // The port is free only once its reader is closed: a Reader opened on it
        // meanwhile would be closed with it.
        try {
            KpDevException.check("KP_DEV_CloseDevice", Exports.KP_DEV_CloseDevice(handle));
        } finally {
            Ports.release(port);
        }
    }

    /** Runs one operation on the open reader; the lock keeps close() out until it has returned. */
    private synchronized int use(IntUnaryOperator operation) {
        if (!open) {
            throw new IllegalStateException("the reader of COM" + port + " is closed");
        }
        return operation.applyAsInt(handle);
    }

    private void use(String function, IntUnaryOperator operation) {
        KpDevException.check(function, use(operation));
    }

    private static int seat(int seat) {
        if (seat < 0 || seat > 255) {
            throw new IllegalArgumentException("a seat is 0 to 255, not " + seat);
        }
        return seat;
    }

    static void checkBlockAddress(int sector, int block) {
        if (sector < 0 || sector > 15) {
            throw new IllegalArgumentException("a sector is 0 to 15, not " + sector);
        }
        if (block < 0 || block > 3) {
            throw new IllegalArgumentException("a block is 0 to 3, not " + block);
        }
    }

    private static String hexOf(byte[] data, String what, int length) {
        if (data == null) {
            throw new NullPointerException(what);
        }
        if (length >= 0 && data.length != length) {
            throw new IllegalArgumentException(what + " has " + length + " bytes, not " + data.length);
        }
        return Hex.of(data);
    }

    // ---- Device

    /** The firmware's version bytes. */
    public byte[] deviceVersion() {
        byte[] text = new byte[TEXT_ROOM];
        use("KP_DEV_GetDeviceVersion", h -> Exports.KP_DEV_GetDeviceVersion(h, text));
        return Hex.parse("KP_DEV_GetDeviceVersion", text);
    }

    /** The module the reader was opened with (its device type; 0 for type 5). */
    public int module() {
        IntByReference module = new IntByReference(0);
        use("KP_DEV_CheckIsOpen", h -> Exports.KP_DEV_CheckIsOpen(h, module));
        return module.getValue();
    }

    public void beep(boolean on) {
        use("KP_DEV_IC_Voice", h -> Exports.KP_DEV_IC_Voice(h, on ? 1 : 0));
    }

    // ---- Contact CPU cards

    /** The state of a seat: 1 empty, 2 present, 3 powered, ... */
    public int cardState(int seat) {
        IntByReference state = new IntByReference(0);
        use("KP_DEV_IC_GetStatus", h -> Exports.KP_DEV_IC_GetStatus(h, seat(seat), state));
        return state.getValue();
    }

    /** Powers the card of seat 0 on; returns its answer to reset. */
    public byte[] powerOn() {
        return powerOn(0);
    }

    /** Powers the card on; returns its answer to reset. */
    public byte[] powerOn(int seat) {
        IntByReference room = new IntByReference(ATR_ROOM_BYTES);
        byte[] atr = new byte[Math.max(2 * ATR_ROOM_BYTES + 1, 128)];
        use("KP_DEV_IC_PowerOn", h -> Exports.KP_DEV_IC_PowerOn(h, seat(seat), room, atr));
        return Hex.parse("KP_DEV_IC_PowerOn", atr);
    }

    public void powerOff(int seat) {
        use("KP_DEV_IC_PowerOff", h -> Exports.KP_DEV_IC_PowerOff(h, seat(seat)));
    }

    /** Sends one APDU to seat 0; see {@link #apdu(byte[], int, boolean)}. */
    public byte[] apdu(byte[] command) {
        return apdu(command, 0, false);
    }

    /**
     * Sends one APDU (4 to 1033 bytes); returns the answer with its status word at the end. {@code
     * chained}: answers 61xx and 6Cxx itself (GET RESPONSE, the command again with Le).
     */
    public byte[] apdu(byte[] command, int seat, boolean chained) {
        String text = hexOf(command, "command", -1);
        if (command.length < 4 || command.length > 1033) {
            throw new IllegalArgumentException("an APDU has 4 to 1033 bytes, not " + command.length);
        }
        byte[] answer = new byte[TEXT_ROOM];
        if (chained) {
            use("KP_DEV_IC_SendApdu_A",
                h -> Exports.KP_DEV_IC_SendApdu_A(h, seat(seat), 0, text, text.length(), answer));
        } else {
            use("KP_DEV_IC_SendApdu", h -> Exports.KP_DEV_IC_SendApdu(h, seat(seat), 0, text, text.length(), answer));
        }
        return Hex.parse("KP_DEV_IC_SendApdu", answer);
    }

    // ---- Contactless cards

    /** Activates a contactless processor card. */
    public ContactlessCard activate() {
        IntByReference type = new IntByReference(0);
        IntByReference uidLen = new IntByReference(UID_ROOM_BYTES);
        IntByReference atsLen = new IntByReference(ATS_ROOM_BYTES);
        byte[] uid = new byte[2 * UID_ROOM_BYTES + 1];
        byte[] ats = new byte[2 * ATS_ROOM_BYTES + 1];
        use("KP_DEV_IC_ConnectlessActive", h -> Exports.KP_DEV_IC_ConnectlessActive(h, type, uidLen, uid, atsLen, ats));
        return new ContactlessCard(type.getValue(), Hex.parse("KP_DEV_IC_ConnectlessActive", uid),
                                   Hex.parse("KP_DEV_IC_ConnectlessActive", ats));
    }

    /** Activates a contactless sector card (4-byte UID, no answer to select). */
    public ContactlessCard activateStoreCard() {
        IntByReference type = new IntByReference(0);
        IntByReference uidLen = new IntByReference(4);
        IntByReference atsLen = new IntByReference(0);
        byte[] uid = new byte[9];
        byte[] ats = new byte[1];  // never written
        use("KP_DEV_IC_ConnectlessActiveStoreCard",
            h -> Exports.KP_DEV_IC_ConnectlessActiveStoreCard(h, type, uidLen, uid, atsLen, ats));
        return new ContactlessCard(type.getValue(), Hex.parse("KP_DEV_IC_ConnectlessActiveStoreCard", uid),
                                   new byte[0]);
    }

    public void halt() {
        use("KP_DEV_IC_ConnectlessHalt", Exports::KP_DEV_IC_ConnectlessHalt);
    }

    /**
     * Authenticates a sector with a 6-byte key of type {@link #KEY_A} or {@link #KEY_B}; a wrong key
     * throws KP_DEV_ERR_WRONG_KEY and the card must be activated again.
     */
    public void authenticate(int sector, byte[] key, int keyType) {
        checkBlockAddress(sector, 0);
        String text = hexOf(key, "key", 6);
        if (keyType < 0 || keyType > 255) {
            throw new IllegalArgumentException("a key type is one byte, not " + keyType);
        }
        use("KP_DEV_IC_ConnectlessCertifySector",
            h -> Exports.KP_DEV_IC_ConnectlessCertifySector(h, sector, keyType, text));
    }

    /** The 16 bytes of a block of the authenticated sector. */
    public byte[] readBlock(int sector, int block) {
        checkBlockAddress(sector, block);
        IntByReference room = new IntByReference(BLOCK_ROOM_CHARS);
        byte[] data = new byte[BLOCK_ROOM_CHARS + 1];
        use("KP_DEV_IC_ConnectlessReadBlock", h -> Exports.KP_DEV_IC_ConnectlessReadBlock(h, sector, block, room, data));
        return Hex.parse("KP_DEV_IC_ConnectlessReadBlock", data);
    }

    public void writeBlock(int sector, int block, byte[] data) {
        checkBlockAddress(sector, block);
        String text = hexOf(data, "data", 16);
        use("KP_DEV_IC_ConnectlessWriteBlock", h -> Exports.KP_DEV_IC_ConnectlessWriteBlock(h, sector, block, text));
    }

    public float readValue(int sector, int block) {
        checkBlockAddress(sector, block);
        FloatByReference value = new FloatByReference(0);
        use("KP_DEV_IC_ConnectlessReadValueBlock",
            h -> Exports.KP_DEV_IC_ConnectlessReadValueBlock(h, sector, block, value));
        return value.getValue();
    }

    public void writeValue(int sector, int block, float value) {
        checkBlockAddress(sector, block);
        use("KP_DEV_IC_ConnectlessWriteValueBlock",
            h -> Exports.KP_DEV_IC_ConnectlessWriteValueBlock(h, sector, block, value));
    }

    public void increase(int sector, int block, float amount) {
        checkBlockAddress(sector, block);
        use("KP_DEV_IC_ConnectlessIncrease", h -> Exports.KP_DEV_IC_ConnectlessIncrease(h, sector, block, amount));
    }

    public void decrease(int sector, int block, float amount) {
        checkBlockAddress(sector, block);
        use("KP_DEV_IC_ConnectlessDecrease", h -> Exports.KP_DEV_IC_ConnectlessDecrease(h, sector, block, amount));
    }

    // ---- Magnetic stripe

    /** Arms the head for a swipe. */
    public void armMagnetic() {
        use("KP_DEV_Magnetic_Accept", Exports::KP_DEV_Magnetic_Accept);
    }

    public void cancelMagnetic() {
        use("KP_DEV_Magnetic_CancelAccept", Exports::KP_DEV_Magnetic_CancelAccept);
    }

    /**
     * The tracks of the card swiped since the head was armed, or null while none has been (the
     * library only polls: call again).
     */
    public MagneticTracks readTracks() {
        // The library writes the tracks without a NUL: fresh zeroed arrays.
        byte[] track1 = new byte[TEXT_ROOM];
        byte[] track2 = new byte[TEXT_ROOM];
        int result = use(h -> Exports.KP_DEV_Magnetic_ReadTrack(h, track1, track2));
        if (result == Results.KP_DEV_NOTHING_YET) {
            return null;
        }
        KpDevException.check("KP_DEV_Magnetic_ReadTrack", result);
        return new MagneticTracks(Texts.ascii(track1), Texts.ascii(track2));
    }

    // ---- SLE4442 memory cards

    /** Presents the 3-byte PSC. */
    public void sle4442Verify(byte[] psc, int seat) {
        String text = hexOf(psc, "psc", 3);
        use("KP_DEV_SLE4442_VerifyPwd", h -> Exports.KP_DEV_SLE4442_VerifyPwd(h, seat(seat), text));
    }

    public byte[] sle4442Read(int address, int length, int seat) {
        if (address < 0 || address > 255) {
            throw new IllegalArgumentException("an address is 0 to 255, not " + address);
        }
        if (length < 1 || length > 256 - address) {
            throw new IllegalArgumentException("1 to " + (256 - address) + " bytes, not " + length);
        }
        // The read appends its hex to the text the buffer holds: none.
        byte[] data = new byte[2 * length + 1];
        use("KP_DEV_SLE4442_ReadDataForUser",
            h -> Exports.KP_DEV_SLE4442_ReadDataForUser(h, seat(seat), address, length, data));
        return Hex.parse("KP_DEV_SLE4442_ReadDataForUser", data);
    }

    public void sle4442Write(int address, byte[] data, int seat) {
        if (address < 0 || address > 255) {
            throw new IllegalArgumentException("an address is 0 to 255, not " + address);
        }
        String text = hexOf(data, "data", -1);
        if (data.length < 1 || data.length > 256 - address) {
            throw new IllegalArgumentException("data must have 1 to " + (256 - address) + " bytes");
        }
        use("KP_DEV_SLE4442_WriteDataForUser",
            h -> Exports.KP_DEV_SLE4442_WriteDataForUser(h, seat(seat), address, text));
    }

    // ---- Bank cards

    /** Track 2 equivalent data of a bank card (digits, D as separator). */
    public String track2(int seat) {
        byte[] text = new byte[TEXT_ROOM];
        use("KP_DEV_ReadFinanceICTrack2", h -> Exports.KP_DEV_ReadFinanceICTrack2(h, seat(seat), 0, text));
        return Texts.ascii(text);
    }

    public BankCardInfo cardInfo(int seat) {
        byte[] track2 = new byte[TEXT_ROOM];
        byte[] panSeq = new byte[TEXT_ROOM];
        byte[] aid = new byte[TEXT_ROOM];
        use("KP_DEV_ReadICCardInfo", h -> Exports.KP_DEV_ReadICCardInfo(h, seat(seat), 0, track2, panSeq, aid));
        return new BankCardInfo(Texts.ascii(track2), Texts.ascii(panSeq), Texts.ascii(aid));
    }

    // ---- Identity cards (type-0 reader)

    /**
     * Reads an identity card, trying for up to {@code timeLimitMs} (KP_DEV_ERR_ID_TIME_LIMIT when
     * none was read); the texts are decoded from GBK.
     */
    public IdentityCard readIdentityCard(int timeLimitMs) {
        if (timeLimitMs < 0) {
            throw new IllegalArgumentException("a time limit is not negative: " + timeLimitMs);
        }
        byte[][] fields = new byte[Check.IDENTITY_FIELDS][ID_FIELD_ROOM];
        use("KP_DEV_ID_Read", h -> Exports.KP_DEV_ID_Read(h, timeLimitMs, fields));
        String[] texts = new String[8];
        for (int i = 0; i < texts.length; i++) {
            texts[i] = Texts.gbk(fields[i]);
        }
        return new IdentityCard(texts, Texts.path(fields[8]));
    }
}
