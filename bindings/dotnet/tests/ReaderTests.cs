using System;
using System.Diagnostics;
using System.Linq;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using Kpdev;
using Kpdev.Sim;
using NUnit.Framework;

// The .NET binding against the library of this build and a virtual reader
// (KPDEV_LIBRARY, KPDEV_SIM). Expected bytes and texts come from the
// reader's frame format, the header's tables and what each test gives the
// virtual reader, never from the library's own output.
[TestFixture]
public class ReaderTests
{
    const int Port = 11;
    const int Closed = 23;  // a COM number no test opens

    [TestFixtureSetUp]
    public void LoadTheLibraryOfThisBuild()
    {
        // Before the first direct use of Exports (KPDEV_LIBRARY names it).
        KpDev.Load();
    }

    static byte[] Bytes(string hex)
    {
        return Enumerable.Range(0, hex.Length / 2).Select(i => Convert.ToByte(hex.Substring(2 * i, 2), 16)).ToArray();
    }

    static void WaitFor(Func<bool> condition, string what)
    {
        var clock = Stopwatch.StartNew();
        while (!condition())
        {
            if (clock.Elapsed > TimeSpan.FromSeconds(5))
                Assert.Fail("no " + what + " within 5 s");
            Thread.Sleep(10);
        }
    }

    [Test]
    public void OpenAndVersion()
    {
        using (var sim = new VirtualReader("t1", Port))
        {
            sim.Control.Ok("version KP-NET 4.2");
            using (var reader = new Reader(Port, deviceType: 1))
            {
                Assert.AreEqual(Encoding.ASCII.GetBytes("KP-NET 4.2"), reader.DeviceVersion());
                Assert.AreEqual(1, reader.Module());
            }
        }
        Assert.AreEqual("2.0.0.2", KpDev.LibraryVersion);
    }

    [Test]
    public void PowerOnAndApdu()
    {
        using (var sim = new VirtualReader("t1", Port))
        using (var reader = new Reader(Port))
        {
            sim.Insert(0, "cpu", "atr=3B021122", "apdu=00B2010C00:6F0A9000");
            Assert.AreEqual(Bytes("3B021122"), reader.PowerOn());
            sim.Clear();
            Assert.AreEqual(Bytes("6F0A9000"), reader.Apdu(Bytes("00B2010C00")));
            // Command 3226, seat 00 and the APDU: 8 bytes after STX, every nibble
            // as 30 + value, checksum 32^26^00^00^B2^01^0C^00 = AB, ETX.
            Assert.AreEqual(Bytes("02" + "30303038" + "33323236" + "3030" + "3030" + "3B32" + "3031" + "303C" + "3030" +
                                  "3A3B" + "03"),
                            sim.Traffic().HostToDevice);
        }
    }

    [Test]
    public void ContactlessBlockReadWithWrongKey()
    {
        using (var sim = new VirtualReader("t1", Port))
        using (var reader = new Reader(Port))
        {
            sim.Insert(255, "sector", "uid=0A0B0C0D", "keya=A0A1A2A3A4A5");
            sim.Control.Ok("rf-block 6 00112233445566778899AABBCCDDEEFF");
            Assert.AreEqual(Bytes("0A0B0C0D"), reader.ActivateStoreCard().Uid);
            var refused = Assert.Throws<KpDevException>(() => reader.Authenticate(1, Bytes("FFFFFFFFFFFF")));
            Assert.AreEqual(-312, refused.Code);
            Assert.AreEqual("KP_DEV_ERR_WRONG_KEY", refused.Name);
            Assert.AreEqual("wrong key or password (device status 3005)", refused.Text);
            Assert.AreEqual("KP_DEV_IC_ConnectlessCertifySector", refused.Function);
            // The card fell back to idle: the read is refused too, until the card
            // is activated again and the right key given.
            Assert.AreEqual(-306, Assert.Throws<KpDevException>(() => reader.ReadBlock(1, 2)).Code);
            reader.ActivateStoreCard();
            reader.Authenticate(1, Bytes("A0A1A2A3A4A5"));
            Assert.AreEqual(Bytes("00112233445566778899AABBCCDDEEFF"), reader.ReadBlock(1, 2));
        }
    }

    [Test]
    public void MagneticRead()
    {
        using (var sim = new VirtualReader("t1", Port))
        using (var reader = new Reader(Port, deviceType: 2))
        {
            reader.ArmMagnetic();
            Assert.IsNull(reader.ReadTracks());
            Assert.AreEqual("read", sim.Swipe("KPDEV1", "6222=2912"));
            MagneticTracks tracks = null;
            WaitFor(() => (tracks = reader.ReadTracks()) != null, "swipe");
            Assert.AreEqual("KPDEV1", tracks.Track1);
            Assert.AreEqual("6222=2912", tracks.Track2);
        }
    }

    [Test]
    public void IdentityCardTextsDecodedFromGbk()
    {
        using (var sim = new VirtualReader("t0", Port))
        using (var reader = new Reader(Port, deviceType: 0))
        {
            sim.Insert(255, "id", "name=欧阳娜娜", "sex=2", "nation=98", "birth=19900101", "address=北京市东城区1号",
                       "number=11010119900101123X", "authority=北京市公安局", "validity=2010010120300101", "photo=0");
            IdentityCard card = reader.ReadIdentityCard(2000);
            Assert.AreEqual("欧阳娜娜", card.Name);
            Assert.AreEqual("女", card.Sex);  // sex code 2
            Assert.AreEqual("外国血统中国籍人士", card.Nation);  // nation code 98
            Assert.AreEqual("19900101", card.BirthDate);
            Assert.AreEqual("北京市东城区1号", card.Address);
            Assert.AreEqual("11010119900101123X", card.Number);
            Assert.AreEqual("北京市公安局", card.Authority);
            Assert.AreEqual("2010010120300101", card.Validity);
            StringAssert.EndsWith("/zp.bmp", card.PhotoPath);
        }
    }

    [Test]
    public void ReadAnyCardCancelledFromAnotherThread()
    {
        // The loop opens a type-61 reader at 115200 baud.
        using (var sim = new VirtualReader("t61", Port, new[] { "--device-baud", "115200" }))
        using (var cancel = new CancellationTokenSource())
        {
            Task<CardRead> wait = KpDev.ReadAnyCardAsync(Port, null, cancel.Token);
            WaitFor(() => sim.Status().Number("frames") > 0, "pass of the loop");
            Assert.IsFalse(wait.IsCompleted);
            var clock = Stopwatch.StartNew();
            new Thread(cancel.Cancel).Start();
            Assert.Throws<AggregateException>(() => wait.Wait(TimeSpan.FromSeconds(5)));
            Assert.IsTrue(wait.IsCanceled);
            // A pass without a card takes about 160 ms; the loop ends after its pass.
            Assert.Less(clock.ElapsedMilliseconds, 2000);
            // The loop itself has stopped, not just the task: the line stays quiet
            // for longer than a pass and its pause, and the port is free.
            sim.Clear();
            Thread.Sleep(400);
            Assert.AreEqual(new byte[0], sim.Traffic().HostToDevice);
            using (var reader = new Reader(Port, 61, 115200))
                Assert.AreEqual(61, reader.Module());
        }
    }

    // A card for each kind the loop reads, presented before the loop starts
    // (a swipe is held at the head until the head is armed).
    public static readonly object[] AnyCardCases =
    {
        new object[] { "magnetic", (Action<VirtualReader>)(sim => sim.Swipe("KPDEV1", "6222=2912")), null,
                       (Action<CardRead>)(card => {
                           Assert.AreEqual(CardKind.Magnetic, card.Kind);
                           Assert.AreEqual("KPDEV1|6222=2912", card.Text);
                           Assert.AreEqual("KPDEV1", card.Tracks.Track1);
                           Assert.AreEqual("6222=2912", card.Tracks.Track2);
                       }) },
        new object[] { "store card block", (Action<VirtualReader>)(sim => {
                           sim.Insert(255, "sector", "keyb=B0B1B2B3B4B5");
                           sim.Control.Ok("rf-block 6 00112233445566778899AABBCCDDEEFF");
                       }),
                       new ReadAnyCardOptions { TryStoreCard = true, Sector = 1, Block = 2, KeyType = Reader.KeyB,
                                                Key = Bytes("B0B1B2B3B4B5") },
                       (Action<CardRead>)(card => {
                           Assert.AreEqual(CardKind.StoreCardBlock, card.Kind);
                           Assert.AreEqual(Bytes("00112233445566778899AABBCCDDEEFF"), card.Block);
                       }) },
    };

    [TestCaseSource("AnyCardCases")]
    public void ReadAnyCardReadsEachKind(string what, Action<VirtualReader> present, ReadAnyCardOptions options,
                                         Action<CardRead> check)
    {
        using (var sim = new VirtualReader("t61", Port, new[] { "--device-baud", "115200" }))
        {
            present(sim);
            Task<CardRead> wait = KpDev.ReadAnyCardAsync(Port, options);
            Assert.IsTrue(wait.Wait(TimeSpan.FromSeconds(5)), what);
            check(wait.Result);
        }
    }

    [Test]
    public void ReadAnyCardEndsWithoutCard()
    {
        using (var sim = new VirtualReader("t61", Port, new[] { "--device-baud", "115200" }))
        {
            // One pass without a card: the time is up.
            var once = KpDev.ReadAnyCardAsync(Port, new ReadAnyCardOptions { Timeout = TimeSpan.Zero });
            var timedOut = Assert.Throws<AggregateException>(() => once.Wait(TimeSpan.FromSeconds(5)));
            Assert.IsInstanceOf<TimeoutException>(timedOut.InnerException);
            // A wait cancelled before it starts sends nothing.
            sim.Clear();
            var cancelled = KpDev.ReadAnyCardAsync(Port, null, new CancellationToken(true));
            Assert.IsTrue(cancelled.IsCanceled);
            Thread.Sleep(200);
            Assert.AreEqual(new byte[0], sim.Traffic().HostToDevice);
        }
    }

    [Test]
    public void IdentityResultIsSplitAfterDecoding()
    {
        // 億 is 83 7C in GBK: its second byte is the bar's.
        const string text = "王億|男|汉族|19900101|北京市|110101199001011234|北京市公安局|2010010120300101|/x/zp.bmp";
        byte[] result = Encoding.GetEncoding(936).GetBytes(text + "\0");
        CollectionAssert.IsSubsetOf(new byte[] { 0x83, 0x7C }, result);
        var card = new CardRead(CardKind.IdentityCard, result);
        Assert.AreEqual("王億", card.Identity.Name);
        Assert.AreEqual("男", card.Identity.Sex);
        Assert.AreEqual("2010010120300101", card.Identity.Validity);
        Assert.AreEqual("/x/zp.bmp", card.Identity.PhotoPath);
    }

    // Arguments refused before the library is called: nothing reaches the line.
    public static readonly object[] BadArguments =
    {
        new object[] { "APDU shorter than a header", typeof(ArgumentException),
                       (Action<Reader>)(r => r.Apdu(new byte[] { 0x00, 0xA4 })) },
        new object[] { "seat 256", typeof(ArgumentOutOfRangeException), (Action<Reader>)(r => r.PowerOn(256)) },
        new object[] { "five-byte key", typeof(ArgumentException),
                       (Action<Reader>)(r => r.Authenticate(1, new byte[5])) },
        new object[] { "block of 15 bytes", typeof(ArgumentException),
                       (Action<Reader>)(r => r.WriteBlock(1, 0, new byte[15])) },
        new object[] { "sector 16", typeof(ArgumentOutOfRangeException), (Action<Reader>)(r => r.ReadBlock(16, 0)) },
        new object[] { "read past the SLE4442 memory", typeof(ArgumentOutOfRangeException),
                       (Action<Reader>)(r => r.Sle4442Read(250, 7)) },
        new object[] { "lower-case hex", typeof(ArgumentException),
                       (Action<Reader>)(r => Exports.KP_DEV_IC_WriteStoreData(r.Port, 0, 0, "ab12")) },
        new object[] { "odd hex", typeof(ArgumentException),
                       (Action<Reader>)(r => Exports.KP_DEV_IC_WriteStoreData(r.Port, 0, 0, "ABC")) },
        new object[] { "text without NUL", typeof(ArgumentException),
                       (Action<Reader>)(r => Exports.KP_DEV_Magnetic_WaitForWriteTrack(
                           r.Port, Encoding.ASCII.GetBytes("1234"), new byte[1])) },
        new object[] { "null output", typeof(ArgumentNullException),
                       (Action<Reader>)(r => Exports.KP_DEV_GetDeviceVersion(r.Port, null)) },
        new object[] { "negative length", typeof(ArgumentOutOfRangeException),
                       (Action<Reader>)(r => Exports.KP_DEV_SLE4442_ReadDataForUser(r.Port, 0, 0, -1, new byte[64])) },
        new object[] { "eight identity fields", typeof(ArgumentException),
                       (Action<Reader>)(r => Exports.KP_DEV_ID_Read(r.Port, 0, new byte[8][])) },
    };

    [TestCaseSource("BadArguments")]
    public void BadArgumentsNeverReachTheReader(string what, Type refusal, Action<Reader> call)
    {
        using (var sim = new VirtualReader("t1", Port))
        using (var reader = new Reader(Port))
        {
            sim.Clear();
            var thrown = Assert.Catch(() => call(reader), what);
            Assert.AreEqual(refusal, thrown.GetType(), what + ": " + thrown.Message);
            Assert.AreEqual(new byte[0], sim.Traffic().HostToDevice, what);
        }
    }

    [Test]
    public void ClosedReaderUsedAgain()
    {
        using (var sim = new VirtualReader("t1", Port))
        {
            sim.Insert(0, "cpu", "atr=3B021122");
            var reader = new Reader(Port);
            reader.Close();
            sim.Clear();
            var refused = Assert.Throws<ObjectDisposedException>(() => reader.PowerOn());
            StringAssert.Contains("COM11", refused.Message);
            Assert.Throws<ObjectDisposedException>(() => reader.Apdu(Bytes("00A40000")));
            reader.Close();
            Assert.IsFalse(reader.IsOpen);
            Assert.AreEqual(new byte[0], sim.Traffic().HostToDevice);
            // The port is free for a reader of its own.
            using (var again = new Reader(Port))
                Assert.AreEqual(Bytes("3B021122"), again.PowerOn());
        }
    }

    [Test]
    public void SecondReaderOnAnOpenPortIsRefused()
    {
        using (var sim = new VirtualReader("t1", Port))
        using (var first = new Reader(Port))
        {
            sim.Clear();
            Assert.Throws<InvalidOperationException>(() => new Reader(Port));
            Assert.Throws<InvalidOperationException>(() => KpDev.ReadAnyCardAsync(Port));
            Assert.AreEqual(new byte[0], sim.Traffic().HostToDevice);
            Assert.AreEqual(1, first.Module());
        }
    }

    [Test]
    public void VersionTextFillsItsRoomExactly()
    {
        // 32 bytes of GBK text and the NUL: the header's room of 33.
        var text = new byte[33];
        for (int i = 0; i < text.Length; i++)
            text[i] = (byte)'Z';
        Assert.AreEqual(0, Exports.KP_DEV_GetDllVersion(text));
        Assert.AreEqual(0, text[32]);
        Assert.AreEqual("2.0.0.2 最后修改日期：2015-05-03", Encoding.GetEncoding(936).GetString(text, 0, 32));
        Assert.AreEqual("2.0.0.2 最后修改日期：2015-05-03", KpDev.LibraryVersionText);
        Assert.Throws<ArgumentException>(() => Exports.KP_DEV_GetDllVersion(new byte[32]));
    }

    // Rooms written out from kp_dev.h: each output given exactly its room
    // passes the check (the closed handle then makes the call do nothing), one
    // byte less is refused before the call.
    public static readonly object[] RoomCases =
    {
        new object[] { "KP_DEV_IC_PowerOn atrLen=4", 128, (Func<byte[], int>)(b => {
            int n = 4; return Exports.KP_DEV_IC_PowerOn(Closed, 0, ref n, b); }) },
        new object[] { "KP_DEV_IC_PowerOn atrLen=70", 141, (Func<byte[], int>)(b => {
            int n = 70; return Exports.KP_DEV_IC_PowerOn(Closed, 0, ref n, b); }) },
        new object[] { "KP_DEV_IC_ConnectlessReadBlock", 33, (Func<byte[], int>)(b => {
            int n = 32; return Exports.KP_DEV_IC_ConnectlessReadBlock(Closed, 1, 0, ref n, b); }) },
        new object[] { "KP_DEV_SLE4428_ReadData protectOut", 8, (Func<byte[], int>)(b =>
            Exports.KP_DEV_SLE4428_ReadData(Closed, 0, 1, 0, 5, new byte[11], b)) },
        new object[] { "KP_DEV_SLE4442_ReadDataForUser after AB", 19, (Func<byte[], int>)(b => {
            b[0] = (byte)'A'; b[1] = (byte)'B'; return Exports.KP_DEV_SLE4442_ReadDataForUser(Closed, 0, 0, 8, b); }) },
        new object[] { "KP_BcdToAsc", 3, (Func<byte[], int>)(b => Exports.KP_BcdToAsc("ABCDEF", b)) },
        new object[] { "ICCardFindSubStr", 13, (Func<byte[], int>)(b =>
            Exports.ICCardFindSubStr("5A0212349000", "5A", b)) },
        new object[] { "KP_DEV_ReadICCardGPOData", 101, (Func<byte[], int>)(b =>
            Exports.KP_DEV_ReadICCardGPOData(Closed, 0, 0, b, 100)) },
        new object[] { "KP_DEV_ID_Read", 261, (Func<byte[], int>)(b =>
            Exports.KP_DEV_ID_Read(Closed, 0, Enumerable.Range(0, 9).Select(i => i == 4 ? b : new byte[261]).ToArray())) },
    };

    [TestCaseSource("RoomCases")]
    public void EachOutputNeedsTheRoomTheHeaderGives(string what, int room, Func<byte[], int> call)
    {
        Assert.DoesNotThrow(() => call(new byte[room]), what);
        Assert.Throws<ArgumentException>(() => call(new byte[room - 1]), what);
    }
}
