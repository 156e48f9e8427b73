package kpdev;

/** What the read-any-card loop tries, and for how long; setters return this, to chain. */
public final class ReadAnyCardOptions {
    private boolean tryStoreCard;
    private int sector = 1;
    private int block;
    private int keyType = Reader.KEY_A;
    private byte[] key = {(byte) 0xFF, (byte) 0xFF, (byte) 0xFF, (byte) 0xFF, (byte) 0xFF, (byte) 0xFF};
    private boolean tryContactBank = true;
    private boolean tryContactlessBank = true;
    private long timeoutMs = -1;

    /** Reads a block of a contactless sector card (off by default) with a 6-byte key. */
    public ReadAnyCardOptions storeCard(int sector, int block, int keyType, byte[] key) {
        Reader.checkBlockAddress(sector, block);
        if (key == null || key.length != 6) {
            throw new IllegalArgumentException("a sector key has 6 bytes");
        }
        if (keyType < 0 || keyType > 255) {
            throw new IllegalArgumentException("a key type is one byte, not " + keyType);
        }
        this.tryStoreCard = true;
        this.sector = sector;
        this.block = block;
        this.keyType = keyType;
        this.key = key.clone();
        return this;
    }

    public ReadAnyCardOptions contactBank(boolean on) {
        tryContactBank = on;
        return this;
    }

    public ReadAnyCardOptions contactlessBank(boolean on) {
        tryContactlessBank = on;
        return this;
    }

    /**
     * How long to wait in milliseconds: 0 makes one pass; by default the loop waits until a card
     * comes or it is cancelled.
     */
    public ReadAnyCardOptions timeoutMs(long ms) {
        if (ms < 0 || ms >= 0xFFFFFFFFL) {
            throw new IllegalArgumentException("a timeout runs from 0 to 49 days, not " + ms + " ms");
        }
        timeoutMs = ms;
        return this;
    }

    /** The library's unsigned milliseconds; the largest never runs out. */
    int libraryTimeout() {
        return timeoutMs < 0 ? -1 : (int) timeoutMs;
    }

    boolean tryStoreCard() {
        return tryStoreCard;
    }

    int sector() {
        return sector;
    }

    int block() {
        return block;
    }

    int keyType() {
        return keyType;
    }

    String keyHex() {
        return Hex.of(key);
    }

    boolean tryContactBank() {
        return tryContactBank;
    }

    boolean tryContactlessBank() {
        return tryContactlessBank;
    }
}
