package kpdev;

import com.sun.jna.Native;
import com.sun.jna.Platform;
import com.sun.jna.win32.StdCallLibrary;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URISyntaxException;
import java.util.ArrayList;
import java.util.List;
import java.util.Properties;

/** What concerns the library as a whole: loading it, its version, the read-any-card loop. */
public final class KpDev {
    private KpDev() {}

    /**
     * The same declarations with the __stdcall convention, which the library's exports have on
     * 32-bit Windows; JNA takes the convention from the interface.
     */
    interface StdCall extends KpDevLibrary, StdCallLibrary {}

    private static KpDevLibrary library;

    /**
     * The loaded library, found on first use: the file named by the system property {@code
     * kpdev.library} or the environment variable {@code KPDEV_LIBRARY}; beside an installed archive
     * (the install records where the library went); the system's search for {@code libKP_DEV.so.2}
     * ({@code KP_DEV.dll} on Windows). UnsatisfiedLinkError when it cannot be found.
     */
    public static synchronized KpDevLibrary library() {
        if (library == null) {
            library = load();
        }
        return library;
    }

    private static KpDevLibrary load() {
        Class<? extends KpDevLibrary> type = Platform.isWindows() && !Platform.is64Bit() ? StdCall.class
                                                                                          : KpDevLibrary.class;
        List<String> errors = new ArrayList<>();
        for (String candidate : candidates()) {
            try {
                return Native.load(candidate, type);
            } catch (UnsatisfiedLinkError e) {
                errors.add(e.getMessage());
            }
        }
        throw new UnsatisfiedLinkError("the KP_DEV library was not found (set KPDEV_LIBRARY): " + errors);
    }

    private static List<String> candidates() {
        List<String> found = new ArrayList<>();
        String own = System.getProperty("kpdev.library", System.getenv("KPDEV_LIBRARY"));
        if (own != null && !own.isEmpty()) {
            if (!new File(own).isFile()) {
                throw new UnsatisfiedLinkError("KPDEV_LIBRARY names " + own + ", which does not exist");
            }
            found.add(new File(own).getAbsolutePath());
            return found;
        }
        File beside = installedFile("library");
        if (beside != null) {
            found.add(beside.getPath());
        }
        found.add(Platform.isWindows() ? "KP_DEV" : "libKP_DEV.so.2");
        return found;
    }

    /**
     * A file the install put relative to this archive: "library" or "sim" (the virtual reader); null
     * when it is not there (the archive is not where it was installed).
     */
    public static File installedFile(String key) {
        try (InputStream in = KpDev.class.getResourceAsStream("installed.properties")) {
            if (in == null) {
                return null;
            }
            Properties paths = new Properties();
            paths.load(in);
            File archive = new File(KpDev.class.getProtectionDomain().getCodeSource().getLocation().toURI());
            File file = new File(archive.getParentFile(), paths.getProperty(key, ""));
            return paths.containsKey(key) && file.isFile() ? file.getCanonicalFile() : null;
        } catch (IOException | URISyntaxException | SecurityException | NullPointerException e) {
            return null;
        }
    }

    /** The library's version number, e.g. "2.0.0.2". */
    public static String libraryVersion() {
        return libraryVersionText().split(" ", 2)[0];
    }

    /** The library's whole version text (GBK, decoded), e.g. "2.0.0.2 最后修改日期：2015-05-03". */
    public static String libraryVersionText() {
        byte[] text = new byte[33];
        KpDevException.check("KP_DEV_GetDllVersion", Exports.KP_DEV_GetDllVersion(text));
        return Texts.gbk(text);
    }

    /**
     * Opens the reader on COM {@code port} itself (type 61 at 115200 baud) and waits for a card of
     * any kind: an identity card (when the identity-card library is installed), a magnetic card,
     * then the chip cards {@code options} enables.
     *
     * <p>The future completes with the card read; exceptionally with a {@link
     * java.util.concurrent.TimeoutException} when the options' timeout passes without a card, with
     * a {@link KpDevException} when the port does not open. Cancelling it (or completing it from
     * outside) stops the loop through the library's KP_DEV_CancelReadAll after the pass in
     * progress; {@link ReadAnyCardFuture#stopped()} completes once the loop has returned and the
     * port is free. One loop runs at a time in a process (the library's cancel reaches every
     * loop): a second call waits for the first to end. The port must not be open through a {@link
     * Reader} of this process (IllegalStateException).
     */
    public static ReadAnyCardFuture readAnyCard(int port, ReadAnyCardOptions options) {
        return ReadAnyCardFuture.start(port, options == null ? new ReadAnyCardOptions() : options);
    }

    /** {@link #readAnyCard(int, ReadAnyCardOptions)} with the default options. */
    public static ReadAnyCardFuture readAnyCard(int port) {
        return readAnyCard(port, null);
    }
}
