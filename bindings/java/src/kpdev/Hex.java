package kpdev;

/** The library's hexadecimal text: upper-case, two digits per byte. */
final class Hex {
    private Hex() {}

    private static final String DIGITS = "0123456789ABCDEF";

    static boolean isUpper(String text) {
        for (int i = 0; i < text.length(); i++) {
            if (DIGITS.indexOf(text.charAt(i)) < 0) {
                return false;
            }
        }
        return true;
    }

    static String of(byte[] data) {
        StringBuilder text = new StringBuilder(2 * data.length);
        for (byte b : data) {
            text.append(DIGITS.charAt((b >> 4) & 15)).append(DIGITS.charAt(b & 15));
        }
        return text.toString();
    }

    /** The NUL-terminated hex text in an output buffer, as bytes. */
    static byte[] parse(String function, byte[] buffer) {
        String text = Texts.ascii(buffer);
        if (text.length() % 2 != 0 || !isUpper(text)) {
            throw new IllegalStateException(function + ": the library's output is not hexadecimal text: " + text);
        }
        byte[] data = new byte[text.length() / 2];
        for (int i = 0; i < data.length; i++) {
            data[i] = (byte) (DIGITS.indexOf(text.charAt(2 * i)) << 4 | DIGITS.indexOf(text.charAt(2 * i + 1)));
        }
        return data;
    }
}
