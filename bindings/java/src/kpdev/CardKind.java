package kpdev;

/** The kind of card the read-any-card loop read, with the library's number for it. */
public enum CardKind {
    NONE(0),
    MAGNETIC(1),
    STORE_CARD_BLOCK(2),
    CONTACT_BANK_CARD(3),
    CONTACTLESS_BANK_CARD(4),
    IDENTITY_CARD(5);

    private final int number;

    CardKind(int number) {
        this.number = number;
    }

    public int getNumber() {
        return number;
    }

    static CardKind of(int number) {
        for (CardKind kind : values()) {
            if (kind.number == number) {
                return kind;
            }
        }
        throw new IllegalStateException("KP_DEV_ReadAll_A: card kind " + number);
    }
}
