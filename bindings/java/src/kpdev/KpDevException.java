package kpdev;

/**
 * A library function returned a failure: its result {@link #getCode() code}, the code's {@link
 * #getName() name} and {@link #getText() text} from kp_dev.h, and the {@link #getFunction()
 * function} that returned it.
 */
public class KpDevException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    private final String function;
    private final int code;

    public KpDevException(String function, int code) {
        super(function + ": " + code + " " + (Results.name(code) == null ? "(no name)" : Results.name(code)) + " ("
              + Results.text(code) + ")");
        this.function = function;
        this.code = code;
    }

    /** The library's result, e.g. -312. */
    public int getCode() {
        return code;
    }

    /** The result's name, e.g. "KP_DEV_ERR_WRONG_KEY"; null for a code kp_dev.h does not name. */
    public String getName() {
        return Results.name(code);
    }

    /** The result's English text, e.g. "wrong key or password (device status 3005)". */
    public String getText() {
        return Results.text(code);
    }

    /** The exported function that returned the result. */
    public String getFunction() {
        return function;
    }

    /** Throws unless {@code result} is 0. */
    public static void check(String function, int result) {
        if (result != Results.KP_DEV_OK) {
            throw new KpDevException(function, result);
        }
    }
}
