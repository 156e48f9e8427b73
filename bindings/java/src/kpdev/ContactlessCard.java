package kpdev;

/** A contactless card as its activation reports it. */
public final class ContactlessCard {
    private final int cardType;
    private final byte[] uid;
    private final byte[] answerToSelect;

    public ContactlessCard(int cardType, byte[] uid, byte[] answerToSelect) {
        this.cardType = cardType;
        this.uid = uid.clone();
        this.answerToSelect = answerToSelect.clone();
    }

    public int getCardType() {
        return cardType;
    }

    public byte[] getUid() {
        return uid.clone();
    }

    /** The answer to select; empty for a sector card. */
    public byte[] getAnswerToSelect() {
        return answerToSelect.clone();
    }
}
