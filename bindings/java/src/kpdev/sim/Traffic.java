package kpdev.sim;

import java.io.ByteArrayOutputStream;
import java.util.AbstractMap.SimpleImmutableEntry;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/** The traffic log: ordered (tag, bytes) runs and the bytes per direction. */
public final class Traffic {
    private final List<Map.Entry<String, byte[]>> segments = new ArrayList<>();
    private final Map<String, ByteArrayOutputStream> collected = new LinkedHashMap<>();

    public Traffic(String reply) {
        for (String tag : new String[] {"H>D", "D>H", "H~D", "D~H"}) {
            collected.put(tag, new ByteArrayOutputStream());
        }
        String[] words = reply.trim().isEmpty() ? new String[0] : reply.trim().split(" +");
        if (words.length % 2 != 0) {
            throw new SimException("traffic reply has an odd number of words");
        }
        for (int i = 0; i < words.length; i += 2) {
            ByteArrayOutputStream direction = collected.get(words[i]);
            if (direction == null) {
                throw new SimException("unknown traffic tag '" + words[i] + "'");
            }
            byte[] data = fromHex(words[i + 1]);
            segments.add(new SimpleImmutableEntry<>(words[i], data));
            direction.write(data, 0, data.length);
        }
    }

    private static byte[] fromHex(String text) {
        if (text.length() % 2 != 0) {
            throw new SimException("odd-length hex in traffic reply");
        }
        byte[] data = new byte[text.length() / 2];
        for (int i = 0; i < data.length; i++) {
            data[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
        }
        return data;
    }

    public List<Map.Entry<String, byte[]>> getSegments() {
        return Collections.unmodifiableList(segments);
    }

    public byte[] getHostToDevice() {
        return collected.get("H>D").toByteArray();
    }

    public byte[] getDeviceToHost() {
        return collected.get("D>H").toByteArray();
    }

    public byte[] getHostNoise() {
        return collected.get("H~D").toByteArray();
    }

    public byte[] getDeviceLost() {
        return collected.get("D~H").toByteArray();
    }
}
