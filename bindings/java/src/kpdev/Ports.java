package kpdev;

import java.util.HashMap;
import java.util.Map;

/**
 * The COM ports this process has open through the binding, and who holds each. The library's
 * handle is the port number itself: a second open of a port hands out the same handle, and closing
 * either closes both, after which the other's calls would return 0 and write nothing. The
 * read-any-card loop closes whatever is open on its port. So a port has one holder at a time.
 */
final class Ports {
    private Ports() {}

    private static final Map<Integer, String> HOLDERS = new HashMap<>();

    static void claim(int port, String holder) {
        synchronized (HOLDERS) {
            String current = HOLDERS.get(port);
            if (current != null) {
                throw new IllegalStateException("COM" + port + " is in use in this process by " + current);
            }
            HOLDERS.put(port, holder);
        }
    }

    static void release(int port) {
        synchronized (HOLDERS) {
            HOLDERS.remove(port);
        }
    }

    static void checkNumber(int port) {
        if (port < 1 || port > 32) {
            throw new IllegalArgumentException("a COM port number runs from 1 to 32, not " + port);
        }
    }
}
