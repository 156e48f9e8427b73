package kpdev;

/**
 * A card read by {@link KpDev#readAnyCard}: its kind, the library's result text, and that text
 * taken apart by kind.
 */
public final class CardRead {
    private final CardKind kind;
    private final String text;
    private MagneticTracks tracks;
    private byte[] block;
    private String track2;
    private IdentityCard identity;

    CardRead(CardKind kind, byte[] result) {
        this.kind = kind;
        switch (kind) {
            case MAGNETIC: {
                // "track1|track2"; a track character is never a bar (the bar is
                // outside both tracks' character sets).
                text = Texts.ascii(result);
                int bar = text.indexOf('|');
                tracks = bar < 0 ? new MagneticTracks(text, "")
                                 : new MagneticTracks(text.substring(0, bar), text.substring(bar + 1));
                break;
            }
            case STORE_CARD_BLOCK:
                text = Texts.ascii(result);
                block = Hex.parse("KP_DEV_ReadAll_A", result);
                break;
            case CONTACT_BANK_CARD:
            case CONTACTLESS_BANK_CARD:
                text = Texts.ascii(result);
                track2 = text;
                break;
            case IDENTITY_CARD: {
                // Nine texts joined by bars, decoded first: a GBK character's second
                // byte may be the bar's byte.
                text = Texts.gbk(result);
                String[] fields = text.split("\\|", Check.IDENTITY_FIELDS);
                if (fields.length != Check.IDENTITY_FIELDS) {
                    throw new IllegalStateException(
                        "KP_DEV_ReadAll_A: an identity card result of " + fields.length + " fields");
                }
                identity = new IdentityCard(fields, fields[8]);
                break;
            }
            default:
                throw new IllegalStateException("KP_DEV_ReadAll_A: card kind " + kind);
        }
    }

    public CardKind getKind() {
        return kind;
    }

    /** The result text as the library wrote it. */
    public String getText() {
        return text;
    }

    /** Kind {@link CardKind#MAGNETIC}: the tracks; null otherwise. */
    public MagneticTracks getTracks() {
        return tracks;
    }

    /** Kind {@link CardKind#STORE_CARD_BLOCK}: the 16 bytes of the block; null otherwise. */
    public byte[] getBlock() {
        return block == null ? null : block.clone();
    }

    /** The bank card kinds: the Track 2 equivalent data; null otherwise. */
    public String getTrack2() {
        return track2;
    }

    /** Kind {@link CardKind#IDENTITY_CARD}: the identity texts; null otherwise. */
    public IdentityCard getIdentity() {
        return identity;
    }
}
