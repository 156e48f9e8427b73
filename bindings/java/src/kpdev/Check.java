package kpdev;

import com.sun.jna.Memory;
import com.sun.jna.Pointer;

/** The argument checks of {@link Exports}: what C would read past or write past is refused here. */
final class Check {
    private Check() {}

    static final int IDENTITY_FIELDS = 9;

    private static String where(String function, String argument) {
        return function + ": " + argument;
    }

    static void notNull(String function, String argument, Object value) {
        if (value == null) {
            throw new NullPointerException(where(function, argument) + " must not be null");
        }
    }

    private static int end(byte[] text) {
        for (int i = 0; i < text.length; i++) {
            if (text[i] == 0) {
                return i;
            }
        }
        return -1;
    }

    /** A text the library reads to its NUL: without one it would read on past the array. */
    static void text(String function, String argument, byte[] value) {
        notNull(function, argument, value);
        if (end(value) < 0) {
            throw new IllegalArgumentException(where(function, argument) + " must end with a NUL byte");
        }
    }

    /** An output the library appends to: the text it holds counts. */
    static void terminated(String function, String argument, byte[] value) {
        notNull(function, argument, value);
        if (end(value) < 0) {
            throw new IllegalArgumentException(
                where(function, argument) + " must hold a NUL-terminated text (the read appends to it)");
        }
    }

    static void hex(String function, String argument, String value) {
        notNull(function, argument, value);
        if (value.length() % 2 != 0 || !Hex.isUpper(value)) {
            throw new IllegalArgumentException(
                where(function, argument) + " must be upper-case hexadecimal text of even length");
        }
    }

    static void notNegative(String function, String argument, long value) {
        if (value < 0) {
            throw new IllegalArgumentException(where(function, argument) + " must not be negative, not " + value);
        }
    }

    static long length(byte[] text) {
        int end = end(text);
        return end < 0 ? text.length : end;
    }

    static long length(String text) {
        return text.length();
    }

    static void room(String function, String argument, byte[] buffer, long room) {
        if (buffer.length < room) {
            throw new IllegalArgumentException(
                where(function, argument) + " needs " + room + " bytes of room, not " + buffer.length);
        }
    }

    static void fields(String function, String argument, byte[][] fields, long room) {
        if (fields.length != IDENTITY_FIELDS) {
            throw new IllegalArgumentException(
                where(function, argument) + " needs " + IDENTITY_FIELDS + " buffers, not " + fields.length);
        }
        for (int i = 0; i < fields.length; i++) {
            notNull(function, argument + "[" + i + "]", fields[i]);
            room(function, argument + "[" + i + "]", fields[i], room);
        }
    }

    interface FieldsCall {
        int call(Pointer[] pointers);
    }

    /**
     * Nine outputs behind a char**: each array is lent to the library as native memory of its own
     * size and copied back after the call.
     */
    static int withFields(byte[][] fields, FieldsCall call) {
        // JNA passes a Pointer[] (exactly that array type) as the char**.
        Pointer[] blocks = new Pointer[fields.length];
        for (int i = 0; i < fields.length; i++) {
            blocks[i] = new Memory(Math.max(fields[i].length, 1));
            blocks[i].write(0, fields[i], 0, fields[i].length);
        }
        int result = call.call(blocks);
        for (int i = 0; i < fields.length; i++) {
            blocks[i].read(0, fields[i], 0, fields[i].length);
        }
        return result;
    }
}
