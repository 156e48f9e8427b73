package kpdev.sim;

import com.sun.jna.Library;
import com.sun.jna.Native;
import java.io.File;
import kpdev.KpDev;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * A kpdev-sim process serving as a COM port for the library (POSIX: the environment variable
 * KPDEV_COM&lt;port&gt; names its pseudo-terminal until {@link #close()} restores it).
 *
 * <pre>
 * try (VirtualReader sim = new VirtualReader("t1", 1); Reader reader = new Reader(1)) {
 *     sim.insert(0, "cpu");
 *     byte[] atr = reader.powerOn();
 * }
 * </pre>
 */
public final class VirtualReader implements AutoCloseable {
    /** The C library's environment, which the library reads (Java's own cannot be changed). */
    interface C extends Library {
        int setenv(String name, String value, int overwrite);

        int unsetenv(String name);

        String getenv(String name);
    }

    private static C libc;

    private final int port;
    private final String variable;
    private final String saved;
    private final SimProcess process;
    private final Control control;

    public VirtualReader(String family, int port, String... args) {
        this(family, port, Arrays.asList(args), null);
    }

    public VirtualReader(String family, int port, List<String> args, String executable) {
        if (port < 1 || port > 32) {
            throw new IllegalArgumentException("a COM port number runs from 1 to 32, not " + port);
        }
        if (System.getProperty("os.name", "").startsWith("Windows")) {
            throw new UnsupportedOperationException(
                "on Windows, start kpdev-sim with --link to the COM port's device instead");
        }
        this.port = port;
        variable = "KPDEV_COM" + port;
        saved = getVariable(variable);
        List<String> words = new ArrayList<>(Arrays.asList("--family", family));
        words.addAll(args);
        process = new SimProcess(executable != null ? executable : findExecutable(), words, 10000);
        try {
            control = process.control(5000);
        } catch (RuntimeException e) {
            process.close();
            throw e;
        }
        setVariable(variable, process.getPortPath());
    }

    public int getPort() {
        return port;
    }

    public String getPortPath() {
        return process.getPortPath();
    }

    public SimProcess getProcess() {
        return process;
    }

    public Control getControl() {
        return control;
    }

    public void insert(int seat, String kind, String... args) {
        control.insert(seat, kind, args);
    }

    public void remove(int seat) {
        control.remove(seat);
    }

    public String swipe(String... tracks) {
        return control.swipe(tracks);
    }

    public void fault(String words) {
        control.fault(words);
    }

    public Traffic traffic() {
        return control.traffic();
    }

    public void clear() {
        control.clear();
    }

    public Status status() {
        return control.status();
    }

    /** Ends the process and restores KPDEV_COM&lt;port&gt;. */
    @Override
    public void close() {
        setVariable(variable, saved);
        control.close();
        process.close();
    }

    /** kpdev-sim: $KPDEV_SIM, beside an installed archive, then the PATH. */
    public static String findExecutable() {
        String own = System.getenv("KPDEV_SIM");
        if (own != null && !own.isEmpty()) {
            return own;
        }
        File beside = KpDev.installedFile("sim");
        if (beside != null) {
            return beside.getPath();
        }
        for (String dir : System.getenv().getOrDefault("PATH", "").split(File.pathSeparator)) {
            File candidate = new File(dir, "kpdev-sim");
            if (!dir.isEmpty() && candidate.canExecute()) {
                return candidate.getPath();
            }
        }
        throw new SimException("kpdev-sim not found (set KPDEV_SIM)");
    }

    private static synchronized C libc() {
        if (libc == null) {
            libc = Native.load("c", C.class);
        }
        return libc;
    }

    private static String getVariable(String name) {
        return libc().getenv(name);
    }

    private static void setVariable(String name, String value) {
        if (value == null) {
            libc().unsetenv(name);
        } else {
            libc().setenv(name, value, 1);
        }
    }
}
