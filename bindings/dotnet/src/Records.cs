using System;

namespace Kpdev
{
    /// <summary>A contactless card as its activation reports it.</summary>
    public sealed class ContactlessCard
    {
        public ContactlessCard(int cardType, byte[] uid, byte[] answerToSelect)
        {
            CardType = cardType;
            Uid = uid;
            AnswerToSelect = answerToSelect;
        }

        public int CardType { get; private set; }
        public byte[] Uid { get; private set; }
        /// <summary>The answer to select; empty for a sector card.</summary>
        public byte[] AnswerToSelect { get; private set; }
    }

    /// <summary>The two tracks of a swiped magnetic card, as the head read them (ASCII;
    /// an empty text for a track the card does not have).</summary>
    public sealed class MagneticTracks
    {
        public MagneticTracks(string track1, string track2)
        {
            Track1 = track1;
            Track2 = track2;
        }

        public string Track1 { get; private set; }
        public string Track2 { get; private set; }
    }

    /// <summary>Track 2 equivalent data, PAN sequence number and AID of a bank card, as
    /// the library's hexadecimal texts (Track 2: digits, D as separator, F as
    /// padding).</summary>
    public sealed class BankCardInfo
    {
        public BankCardInfo(string track2, string panSequence, string aid)
        {
            Track2 = track2;
            PanSequence = panSequence;
            Aid = aid;
        }

        public string Track2 { get; private set; }
        public string PanSequence { get; private set; }
        public string Aid { get; private set; }
    }

    /// <summary>The texts of a resident identity card, decoded from GBK.</summary>
    public sealed class IdentityCard
    {
        internal IdentityCard(string[] fields, string photoPath)
        {
            Name = fields[0];
            Sex = fields[1];
            Nation = fields[2];
            BirthDate = fields[3];
            Address = fields[4];
            Number = fields[5];
            Authority = fields[6];
            Validity = fields[7];
            PhotoPath = photoPath;
        }

        public string Name { get; private set; }
        /// <summary>"男" or "女".</summary>
        public string Sex { get; private set; }
        /// <summary>The nation's name, e.g. "汉族"; " " for a code the national table does
        /// not have.</summary>
        public string Nation { get; private set; }
        /// <summary>YYYYMMDD.</summary>
        public string BirthDate { get; private set; }
        public string Address { get; private set; }
        public string Number { get; private set; }
        public string Authority { get; private set; }
        /// <summary>YYYYMMDDYYYYMMDD (from, until).</summary>
        public string Validity { get; private set; }
        /// <summary>Where the decoded photo was written (zp.bmp beside the library); the file
        /// exists only when the photo decoder is installed.</summary>
        public string PhotoPath { get; private set; }
    }

    /// <summary>The kind of card the read-any-card loop read.</summary>
    public enum CardKind
    {
        None = 0,
        Magnetic = 1,
        StoreCardBlock = 2,
        ContactBankCard = 3,
        ContactlessBankCard = 4,
        IdentityCard = 5,
    }

    /// <summary>A card read by <see cref="KpDev.ReadAnyCardAsync"/>: its kind, the
    /// library's result text, and that text taken apart by kind.</summary>
    public sealed class CardRead
    {
        internal CardRead(CardKind kind, byte[] result)
        {
            Kind = kind;
            switch (kind)
            {
                case CardKind.Magnetic:
                    // "track1|track2"; a track character is never a bar (the
                    // bar is outside both tracks' character sets).
                    Text = Texts.Ascii(result);
                    int bar = Text.IndexOf('|');
                    Tracks = bar < 0 ? new MagneticTracks(Text, "")
                                     : new MagneticTracks(Text.Substring(0, bar), Text.Substring(bar + 1));
                    break;
                case CardKind.StoreCardBlock:
                    Text = Texts.Ascii(result);
                    Block = Hex.Parse("KP_DEV_ReadAll_A", result);
                    break;
                case CardKind.ContactBankCard:
                case CardKind.ContactlessBankCard:
                    Text = Texts.Ascii(result);
                    Track2 = Text;
                    break;
                case CardKind.IdentityCard:
                    // Nine texts joined by bars, decoded first: a GBK character's
                    // second byte may be the bar's byte.
                    Text = Texts.GbkText(result);
                    string[] fields = Text.Split(new[] { '|' }, Check.IdentityFields);
                    if (fields.Length != Check.IdentityFields)
                        throw new FormatException("KP_DEV_ReadAll_A: an identity card result of " + fields.Length +
                                                  " fields");
                    Identity = new IdentityCard(fields, fields[8]);
                    break;
                default:
                    throw new FormatException("KP_DEV_ReadAll_A: card kind " + (int)kind);
            }
        }

        public CardKind Kind { get; private set; }
        /// <summary>The result text as the library wrote it.</summary>
        public string Text { get; private set; }
        /// <summary>Kind <see cref="CardKind.Magnetic"/>: the tracks.</summary>
        public MagneticTracks Tracks { get; private set; }
        /// <summary>Kind <see cref="CardKind.StoreCardBlock"/>: the 16 bytes of the block.</summary>
        public byte[] Block { get; private set; }
        /// <summary>The bank card kinds: the Track 2 equivalent data.</summary>
        public string Track2 { get; private set; }
        /// <summary>Kind <see cref="CardKind.IdentityCard"/>: the identity texts.</summary>
        public IdentityCard Identity { get; private set; }
    }

    /// <summary>What the read-any-card loop tries, and for how long.</summary>
    public sealed class ReadAnyCardOptions
    {
        public ReadAnyCardOptions()
        {
            Sector = 1;
            KeyType = Reader.KeyA;
            Key = new byte[] { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF };
            TryContactBank = true;
            TryContactlessBank = true;
        }

        /// <summary>Read a block of a contactless sector card (off by default).</summary>
        public bool TryStoreCard { get; set; }
        public int Sector { get; set; }
        public int Block { get; set; }
        /// <summary><see cref="Reader.KeyA"/> (default) or <see cref="Reader.KeyB"/>.</summary>
        public int KeyType { get; set; }
        /// <summary>The sector's 6-byte key (default FF FF FF FF FF FF).</summary>
        public byte[] Key { get; set; }
        public bool TryContactBank { get; set; }
        public bool TryContactlessBank { get; set; }
        /// <summary>How long to wait; null (the default) waits until a card comes or the
        /// wait is cancelled; <see cref="TimeSpan.Zero"/> makes one pass.</summary>
        public TimeSpan? Timeout { get; set; }

        internal uint TimeoutMs
        {
            get { return Milliseconds(Timeout); }
        }

        // The library's unsigned milliseconds; the largest never runs out
        // (the loop compares the time passed with it).
        static uint Milliseconds(TimeSpan? timeout)
        {
            if (timeout == null)
                return uint.MaxValue;
            double ms = timeout.Value.TotalMilliseconds;
            if (ms < 0 || ms >= uint.MaxValue)
                throw new ArgumentOutOfRangeException("Timeout", timeout, "from zero to 49 days, or null");
            return (uint)ms;
        }

        internal void Validate()
        {
            Reader.CheckBlockAddress(Sector, Block);
            if (Key == null || Key.Length != 6)
                throw new ArgumentException("a sector key has 6 bytes", "Key");
            if (KeyType < 0 || KeyType > 255)
                throw new ArgumentOutOfRangeException("KeyType", KeyType, "a key type is one byte");
            Milliseconds(Timeout);
        }
    }
}
