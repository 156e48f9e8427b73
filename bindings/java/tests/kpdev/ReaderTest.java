package kpdev;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertDoesNotThrow;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.sun.jna.ptr.IntByReference;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.concurrent.CancellationException;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.function.BooleanSupplier;
import java.util.function.Consumer;
import java.util.function.ToIntFunction;
import java.util.stream.Stream;
import kpdev.sim.VirtualReader;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The Java binding against the library of this build and a virtual reader (KPDEV_LIBRARY,
 * KPDEV_SIM). Expected bytes and texts come from the reader's frame format, the header's tables and
 * what each test gives the virtual reader, never from the library's own output.
 */
class ReaderTest {
    static final int PORT = 12;
    static final int CLOSED = 23; // a COM number no test opens

    static byte[] bytes(String hex) {
        byte[] data = new byte[hex.length() / 2];
        for (int i = 0; i < data.length; i++) {
            data[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        }
        return data;
    }

    static void waitFor(BooleanSupplier condition, String what) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(5);
        while (!condition.getAsBoolean()) {
            if (System.nanoTime() > deadline) {
                throw new AssertionError("no " + what + " within 5 s");
            }
            Thread.sleep(10);
        }
    }

    @Test
    void openAndVersion() {
        try (VirtualReader sim = new VirtualReader("t1", PORT)) {
            sim.getControl().ok("version KP-JAVA 4.2");
            try (Reader reader = new Reader(PORT, 1, 9600)) {
                assertArrayEquals("KP-JAVA 4.2".getBytes(StandardCharsets.US_ASCII), reader.deviceVersion());
                assertEquals(1, reader.module());
            }
        }
        assertEquals("2.0.0.2", KpDev.libraryVersion());
    }

    @Test
    void powerOnAndApdu() {
        try (VirtualReader sim = new VirtualReader("t1", PORT); Reader reader = new Reader(PORT)) {
            sim.insert(0, "cpu", "atr=3B021122", "apdu=00B2010C00:6F0A9000");
            assertArrayEquals(bytes("3B021122"), reader.powerOn());
            sim.clear();
            assertArrayEquals(bytes("6F0A9000"), reader.apdu(bytes("00B2010C00")));
            // Command 3226, seat 00 and the APDU: 8 bytes after STX, every nibble
            // as 30 + value, checksum 32^26^00^00^B2^01^0C^00 = AB, ETX.
            assertArrayEquals(bytes("02" + "30303038" + "33323236" + "3030" + "3030" + "3B32" + "3031" + "303C" + "3030"
                                    + "3A3B" + "03"),
                              sim.traffic().getHostToDevice());
        }
    }

    @Test
    void contactlessBlockReadWithWrongKey() {
        try (VirtualReader sim = new VirtualReader("t1", PORT); Reader reader = new Reader(PORT)) {
            sim.insert(255, "sector", "uid=0A0B0C0D", "keya=A0A1A2A3A4A5");
            sim.getControl().ok("rf-block 6 00112233445566778899AABBCCDDEEFF");
            assertArrayEquals(bytes("0A0B0C0D"), reader.activateStoreCard().getUid());
            KpDevException refused =
                assertThrows(KpDevException.class, () -> reader.authenticate(1, bytes("FFFFFFFFFFFF"), Reader.KEY_A));
            assertEquals(-312, refused.getCode());
            assertEquals("KP_DEV_ERR_WRONG_KEY", refused.getName());
            assertEquals("wrong key or password (device status 3005)", refused.getText());
            assertEquals("KP_DEV_IC_ConnectlessCertifySector", refused.getFunction());
            // The card fell back to idle: the read is refused too, until the card
            // is activated again and the right key given.
            assertEquals(-306, assertThrows(KpDevException.class, () -> reader.readBlock(1, 2)).getCode());
            reader.activateStoreCard();
            reader.authenticate(1, bytes("A0A1A2A3A4A5"), Reader.KEY_A);
            assertArrayEquals(bytes("00112233445566778899AABBCCDDEEFF"), reader.readBlock(1, 2));
        }
    }

    @Test
    void magneticRead() throws InterruptedException {
        try (VirtualReader sim = new VirtualReader("t1", PORT); Reader reader = new Reader(PORT, 2, 9600)) {
            reader.armMagnetic();
            assertNull(reader.readTracks());
            assertEquals("read", sim.swipe("KPDEV1", "6222=2912"));
            MagneticTracks[] tracks = new MagneticTracks[1];
            waitFor(() -> (tracks[0] = reader.readTracks()) != null, "swipe");
            assertEquals("KPDEV1", tracks[0].getTrack1());
            assertEquals("6222=2912", tracks[0].getTrack2());
        }
    }

    @Test
    void identityCardTextsDecodedFromGbk() {
        try (VirtualReader sim = new VirtualReader("t0", PORT); Reader reader = new Reader(PORT, 0, 9600)) {
            sim.insert(255, "id", "name=欧阳娜娜", "sex=2", "nation=98", "birth=19900101", "address=北京市东城区1号",
                       "number=11010119900101123X", "authority=北京市公安局", "validity=2010010120300101", "photo=0");
            IdentityCard card = reader.readIdentityCard(2000);
            assertEquals("欧阳娜娜", card.getName());
            assertEquals("女", card.getSex()); // sex code 2
            assertEquals("外国血统中国籍人士", card.getNation()); // nation code 98
            assertEquals("19900101", card.getBirthDate());
            assertEquals("北京市东城区1号", card.getAddress());
            assertEquals("11010119900101123X", card.getNumber());
            assertEquals("北京市公安局", card.getAuthority());
            assertEquals("2010010120300101", card.getValidity());
            assertTrue(card.getPhotoPath().endsWith("/zp.bmp"), card.getPhotoPath());
        }
    }

    @Test
    void readAnyCardCancelledFromAnotherThread() throws Exception {
        // The loop opens a type-61 reader at 115200 baud.
        try (VirtualReader sim = new VirtualReader("t61", PORT, "--device-baud", "115200")) {
            ReadAnyCardFuture wait = KpDev.readAnyCard(PORT);
            waitFor(() -> sim.status().number("frames") > 0, "pass of the loop");
            assertFalse(wait.isDone());
            long start = System.nanoTime();
            Thread canceller = new Thread(() -> wait.cancel(true));
            canceller.start();
            assertThrows(CancellationException.class, () -> wait.get(5, TimeUnit.SECONDS));
            assertTrue(wait.isCancelled());
            // The loop itself stops after its pass (about 160 ms without a card).
            wait.stopped().get(2, TimeUnit.SECONDS);
            assertTrue(System.nanoTime() - start < TimeUnit.SECONDS.toNanos(2));
            // ... and stays stopped: the line is quiet for longer than a pass and
            // its pause, and the port is free.
            sim.clear();
            Thread.sleep(400);
            assertArrayEquals(new byte[0], sim.traffic().getHostToDevice());
            try (Reader reader = new Reader(PORT, 61, 115200)) {
                assertEquals(61, reader.module());
            }
        }
    }

    /**
     * A card for each kind the loop reads, presented before the loop starts (a swipe is held at the
     * head until the head is armed).
     */
    static Stream<Arguments> anyCards() {
        return Stream.of(
            Arguments.of("magnetic", (Consumer<VirtualReader>) sim -> sim.swipe("KPDEV1", "6222=2912"), null,
                         (Consumer<CardRead>) card -> {
                             assertEquals(CardKind.MAGNETIC, card.getKind());
                             assertEquals("KPDEV1|6222=2912", card.getText());
                             assertEquals("KPDEV1", card.getTracks().getTrack1());
                             assertEquals("6222=2912", card.getTracks().getTrack2());
                         }),
            Arguments.of("store card block", (Consumer<VirtualReader>) sim -> {
                sim.insert(255, "sector", "keyb=B0B1B2B3B4B5");
                sim.getControl().ok("rf-block 6 00112233445566778899AABBCCDDEEFF");
            }, new ReadAnyCardOptions().storeCard(1, 2, Reader.KEY_B, bytes("B0B1B2B3B4B5")),
                         (Consumer<CardRead>) card -> {
                             assertEquals(CardKind.STORE_CARD_BLOCK, card.getKind());
                             assertArrayEquals(bytes("00112233445566778899AABBCCDDEEFF"), card.getBlock());
                         }));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("anyCards")
    void readAnyCardReadsEachKind(String what, Consumer<VirtualReader> present, ReadAnyCardOptions options,
                                  Consumer<CardRead> check) throws Exception {
        try (VirtualReader sim = new VirtualReader("t61", PORT, "--device-baud", "115200")) {
            present.accept(sim);
            check.accept(KpDev.readAnyCard(PORT, options).get(5, TimeUnit.SECONDS));
        }
    }

    @Test
    void readAnyCardEndsWithoutCard() throws Exception {
        try (VirtualReader sim = new VirtualReader("t61", PORT, "--device-baud", "115200")) {
            // One pass without a card: the time is up.
            ReadAnyCardFuture once = KpDev.readAnyCard(PORT, new ReadAnyCardOptions().timeoutMs(0));
            ExecutionException timedOut = assertThrows(ExecutionException.class, () -> once.get(5, TimeUnit.SECONDS));
            assertTrue(timedOut.getCause() instanceof TimeoutException, timedOut.toString());
            // A wait cancelled at once ends after its pass at most; completing it
            // from outside stops it too.
            ReadAnyCardFuture completed = KpDev.readAnyCard(PORT);
            completed.complete(null);
            completed.stopped().get(2, TimeUnit.SECONDS);
            sim.clear();
            Thread.sleep(400);
            assertArrayEquals(new byte[0], sim.traffic().getHostToDevice());
        }
    }

    @Test
    void identityResultIsSplitAfterDecoding() {
        // 億 is 83 7C in GBK: its second byte is the bar's.
        String text = "王億|男|汉族|19900101|北京市|110101199001011234|北京市公安局|2010010120300101|/x/zp.bmp";
        byte[] result = (text + "\0").getBytes(Charset.forName("GBK"));
        CardRead card = new CardRead(CardKind.IDENTITY_CARD, result);
        assertEquals("王億", card.getIdentity().getName());
        assertEquals("男", card.getIdentity().getSex());
        assertEquals("2010010120300101", card.getIdentity().getValidity());
        assertEquals("/x/zp.bmp", card.getIdentity().getPhotoPath());
    }

    /** Arguments refused before the library is called: nothing reaches the line. */
    static Stream<Arguments> badArguments() {
        return Stream.of(
            Arguments.of("APDU shorter than a header", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> r.apdu(new byte[] {0x00, (byte) 0xA4})),
            Arguments.of("seat 256", IllegalArgumentException.class, (Consumer<Reader>) r -> r.powerOn(256)),
            Arguments.of("five-byte key", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> r.authenticate(1, new byte[5], Reader.KEY_A)),
            Arguments.of("block of 15 bytes", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> r.writeBlock(1, 0, new byte[15])),
            Arguments.of("sector 16", IllegalArgumentException.class, (Consumer<Reader>) r -> r.readBlock(16, 0)),
            Arguments.of("read past the SLE4442 memory", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> r.sle4442Read(250, 7, 0)),
            Arguments.of("lower-case hex", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> Exports.KP_DEV_IC_WriteStoreData(r.getPort(), 0, 0, "ab12")),
            Arguments.of("odd hex", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> Exports.KP_DEV_IC_WriteStoreData(r.getPort(), 0, 0, "ABC")),
            Arguments.of("text without NUL", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> Exports.KP_DEV_Magnetic_WaitForWriteTrack(
                             r.getPort(), "1234".getBytes(StandardCharsets.US_ASCII), new byte[1])),
            Arguments.of("null output", NullPointerException.class,
                         (Consumer<Reader>) r -> Exports.KP_DEV_GetDeviceVersion(r.getPort(), null)),
            Arguments.of("negative length", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> Exports.KP_DEV_SLE4442_ReadDataForUser(r.getPort(), 0, 0, -1,
                                                                                          new byte[64])),
            Arguments.of("eight identity fields", IllegalArgumentException.class,
                         (Consumer<Reader>) r -> Exports.KP_DEV_ID_Read(r.getPort(), 0, new byte[8][261])));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("badArguments")
    void badArgumentsNeverReachTheReader(String what, Class<? extends RuntimeException> refusal,
                                         Consumer<Reader> call) {
        try (VirtualReader sim = new VirtualReader("t1", PORT); Reader reader = new Reader(PORT)) {
            sim.clear();
            RuntimeException thrown = assertThrows(RuntimeException.class, () -> call.accept(reader), what);
            assertEquals(refusal, thrown.getClass(), what + ": " + thrown.getMessage());
            assertArrayEquals(new byte[0], sim.traffic().getHostToDevice(), what);
        }
    }

    @Test
    void closedReaderUsedAgain() {
        try (VirtualReader sim = new VirtualReader("t1", PORT)) {
            sim.insert(0, "cpu", "atr=3B021122");
            Reader reader = new Reader(PORT);
            reader.close();
            sim.clear();
            IllegalStateException refused = assertThrows(IllegalStateException.class, reader::powerOn);
            assertTrue(refused.getMessage().contains("COM12"), refused.getMessage());
            assertThrows(IllegalStateException.class, () -> reader.apdu(bytes("00A40000")));
            reader.close();
            assertFalse(reader.isOpen());
            assertArrayEquals(new byte[0], sim.traffic().getHostToDevice());
            // The port is free for a reader of its own.
            try (Reader again = new Reader(PORT)) {
                assertArrayEquals(bytes("3B021122"), again.powerOn());
            }
        }
    }

    @Test
    void secondReaderOnAnOpenPortIsRefused() {
        try (VirtualReader sim = new VirtualReader("t1", PORT); Reader first = new Reader(PORT)) {
            sim.clear();
            assertThrows(IllegalStateException.class, () -> new Reader(PORT));
            assertThrows(IllegalStateException.class, () -> KpDev.readAnyCard(PORT));
            assertArrayEquals(new byte[0], sim.traffic().getHostToDevice());
            assertEquals(1, first.module());
        }
    }

    @Test
    void versionTextFillsItsRoomExactly() {
        // 32 bytes of GBK text and the NUL: the header's room of 33.
        byte[] text = new byte[33];
        Arrays.fill(text, (byte) 'Z');
        assertEquals(0, Exports.KP_DEV_GetDllVersion(text));
        assertEquals(0, text[32]);
        assertEquals("2.0.0.2 最后修改日期：2015-05-03", new String(text, 0, 32, Charset.forName("GBK")));
        assertEquals("2.0.0.2 最后修改日期：2015-05-03", KpDev.libraryVersionText());
        assertThrows(IllegalArgumentException.class, () -> Exports.KP_DEV_GetDllVersion(new byte[32]));
    }

    static ToIntFunction<byte[]> call(ToIntFunction<byte[]> call) {
        return call;
    }

    /**
     * Rooms written out from kp_dev.h: each output given exactly its room passes the check (the
     * closed handle then makes the call do nothing), one byte less is refused before the call.
     */
    static Stream<Arguments> rooms() {
        return Stream.of(
            Arguments.of("KP_DEV_IC_PowerOn atrLen=4", 128,
                         call(b -> Exports.KP_DEV_IC_PowerOn(CLOSED, 0, new IntByReference(4), b))),
            Arguments.of("KP_DEV_IC_PowerOn atrLen=70", 141,
                         call(b -> Exports.KP_DEV_IC_PowerOn(CLOSED, 0, new IntByReference(70), b))),
            Arguments.of("KP_DEV_IC_ConnectlessReadBlock", 33,
                         call(b -> Exports.KP_DEV_IC_ConnectlessReadBlock(CLOSED, 1, 0, new IntByReference(32), b))),
            Arguments.of("KP_DEV_SLE4428_ReadData protectOut", 8,
                         call(b -> Exports.KP_DEV_SLE4428_ReadData(CLOSED, 0, 1, 0, 5, new byte[11], b))),
            Arguments.of("KP_DEV_SLE4442_ReadDataForUser after AB", 19, call(b -> {
                b[0] = 'A';
                b[1] = 'B';
                return Exports.KP_DEV_SLE4442_ReadDataForUser(CLOSED, 0, 0, 8, b);
            })),
            Arguments.of("KP_BcdToAsc", 3, call(b -> Exports.KP_BcdToAsc("ABCDEF", b))),
            Arguments.of("ICCardFindSubStr", 13, call(b -> Exports.ICCardFindSubStr("5A0212349000", "5A", b))),
            Arguments.of("KP_DEV_ReadICCardGPOData", 101,
                         call(b -> Exports.KP_DEV_ReadICCardGPOData(CLOSED, 0, 0, b, 100))),
            Arguments.of("KP_DEV_ID_Read", 261, call(b -> {
                byte[][] fields = new byte[9][261];
                fields[4] = b;
                return Exports.KP_DEV_ID_Read(CLOSED, 0, fields);
            })));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rooms")
    void eachOutputNeedsTheRoomTheHeaderGives(String what, int room, ToIntFunction<byte[]> call) {
        assertDoesNotThrow(() -> call.applyAsInt(new byte[room]), what);
        assertThrows(IllegalArgumentException.class, () -> call.applyAsInt(new byte[room - 1]), what);
    }
}
