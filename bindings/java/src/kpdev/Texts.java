package kpdev;

import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;

/**
 * The encodings of the library's texts: GBK (code page 936) for the identity texts and the version
 * text, ASCII elsewhere. Bytes above 7F in an ASCII text (a track as the card holds it) are kept one
 * for one, as Latin-1.
 */
final class Texts {
    private Texts() {}

    static final Charset GBK = Charset.forName("GBK");

    private static int end(byte[] buffer) {
        for (int i = 0; i < buffer.length; i++) {
            if (buffer[i] == 0) {
                return i;
            }
        }
        return buffer.length;
    }

    static String ascii(byte[] buffer) {
        return new String(buffer, 0, end(buffer), StandardCharsets.ISO_8859_1);
    }

    static String gbk(byte[] buffer) {
        return new String(buffer, 0, end(buffer), GBK);
    }

    /** A file path the library made: GBK (the ANSI code page) on Windows, UTF-8 elsewhere. */
    static String path(byte[] buffer) {
        boolean windows = System.getProperty("os.name", "").startsWith("Windows");
        return new String(buffer, 0, end(buffer), windows ? GBK : StandardCharsets.UTF_8);
    }

    static byte[] terminated(String ascii) {
        return (ascii + "\0").getBytes(StandardCharsets.ISO_8859_1);
    }
}
