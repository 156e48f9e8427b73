package kpdev;

/**
 * Track 2 equivalent data, PAN sequence number and AID of a bank card, as the library's hexadecimal
 * texts (Track 2: digits, D as separator, F as padding).
 */
public final class BankCardInfo {
    private final String track2;
    private final String panSequence;
    private final String aid;

    public BankCardInfo(String track2, String panSequence, String aid) {
        this.track2 = track2;
        this.panSequence = panSequence;
        this.aid = aid;
    }

    public String getTrack2() {
        return track2;
    }

    public String getPanSequence() {
        return panSequence;
    }

    public String getAid() {
        return aid;
    }
}
