package kpdev.sim;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.nio.charset.StandardCharsets;

/** One connection to the control interface: one text line per request, answered "ok ..." or "err reason". */
public final class Control implements AutoCloseable {
    private final Socket socket;
    private final BufferedReader in;
    private final OutputStream out;

    public Control(int port, int timeoutMs) {
        socket = new Socket();
        try {
            socket.setTcpNoDelay(true);
            socket.setSoTimeout(timeoutMs);
            socket.connect(new InetSocketAddress("127.0.0.1", port), timeoutMs);
            in = new BufferedReader(new InputStreamReader(socket.getInputStream(), StandardCharsets.UTF_8));
            out = socket.getOutputStream();
        } catch (IOException e) {
            close();
            throw new SimException("control port " + port + ": " + e.getMessage());
        }
    }

    /** Sends one request line; returns the reply line. */
    public String request(String line) {
        try {
            out.write((line + "\n").getBytes(StandardCharsets.UTF_8));
            out.flush();
            String reply = in.readLine();
            if (reply == null) {
                throw new SimException("control connection closed during '" + line + "'");
            }
            return reply;
        } catch (IOException e) {
            throw new SimException("no reply to '" + line + "': " + e.getMessage());
        }
    }

    /** As request, but throws unless the reply is ok; returns the text after "ok ". */
    public String ok(String line) {
        String reply = request(line);
        if (reply.equals("ok")) {
            return "";
        }
        if (reply.startsWith("ok ")) {
            return reply.substring(3);
        }
        throw new SimException("'" + line + "' -> " + reply);
    }

    public Status status() {
        Status status = new Status();
        for (String word : ok("status").split(" +")) {
            int equals = word.indexOf('=');
            if (equals < 0) {
                throw new SimException("bad status word '" + word + "'");
            }
            status.put(word.substring(0, equals), word.substring(equals + 1));
        }
        return status;
    }

    public Traffic traffic() {
        return new Traffic(ok("traffic"));
    }

    public void clear() {
        ok("clear");
    }

    /** Arms a fault, e.g. fault("nonstx"), fault("delay 900 2"). */
    public void fault(String words) {
        ok("fault " + words);
    }

    /** Puts a card in a seat, e.g. insert(0, "sle4442"), insert(255, "sector", "keya=A0A1A2A3A4A5"). */
    public void insert(int seat, String kind, String... args) {
        ok("insert " + seat + " " + kind + (args.length > 0 ? " " + String.join(" ", args) : ""));
    }

    public void remove(int seat) {
        ok("remove " + seat);
    }

    /** A magnetic card passes the head; tracks as the control verb takes them ("-" for none). */
    public String swipe(String... tracks) {
        return ok(tracks.length > 0 ? "swipe " + String.join(" ", tracks) : "swipe");
    }

    @Override
    public void close() {
        try {
            socket.close();
        } catch (IOException e) {
            // nothing left to release
        }
    }
}
