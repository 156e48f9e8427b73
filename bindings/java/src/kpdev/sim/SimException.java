package kpdev.sim;

/** The process, the connection or a reply is not what it must be. */
public class SimException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public SimException(String message) {
        super(message);
    }
}
