package kpdev.sim;

import java.util.LinkedHashMap;

/** The key=value words of a status reply. */
public final class Status extends LinkedHashMap<String, String> {
    private static final long serialVersionUID = 1L;

    public long number(String key) {
        String value = get(key);
        if (value == null) {
            throw new SimException("status has no '" + key + "'");
        }
        try {
            return Long.parseLong(value);
        } catch (NumberFormatException e) {
            throw new SimException("status " + key + "=" + value + " is not a number");
        }
    }
}
