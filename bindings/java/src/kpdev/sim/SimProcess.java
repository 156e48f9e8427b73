package kpdev.sim;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;

/** A kpdev-sim process, started and waited for until it says "ready". */
public final class SimProcess implements AutoCloseable {
    private static final String END = "\0end";

    private final Process process;
    private String portPath;
    private int controlPort;

    public SimProcess(String executable, List<String> args, long timeoutMs) {
        List<String> command = new ArrayList<>();
        command.add(executable);
        // Programs that drive the reader want its behaviour, not its real time,
        // unless they ask for pacing themselves.
        if (!args.contains("--pacing")) {
            command.add("--pacing");
            command.add("off");
        }
        command.addAll(args);
        try {
            process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT)
                          .redirectInput(ProcessBuilder.Redirect.INHERIT).start();
        } catch (IOException e) {
            throw new SimException(executable + " did not start: " + e.getMessage());
        }
        try {
            readStartup(executable, timeoutMs);
        } catch (RuntimeException e) {
            terminate(2000);
            throw e;
        }
    }

    private void readStartup(String executable, long timeoutMs) {
        // The lines come through a thread of their own, which keeps reading to
        // the end, so that the wait has a deadline and the pipe never fills.
        BlockingQueue<String> lines = new LinkedBlockingQueue<>();
        Thread reader = new Thread(() -> {
            try (BufferedReader out = new BufferedReader(
                     new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
                for (String line; (line = out.readLine()) != null;) {
                    lines.add(line);
                }
            } catch (IOException e) {
                // the process ended
            }
            lines.add(END);
        }, "kpdev-sim output");
        reader.setDaemon(true);
        reader.start();
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(timeoutMs);
        while (true) {
            String line;
            try {
                line = lines.poll(Math.max(0, deadline - System.nanoTime()), TimeUnit.NANOSECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new SimException("interrupted while waiting for " + executable);
            }
            if (line == null) {
                throw new SimException("no 'ready' from " + executable + " in time");
            }
            if (line.equals(END)) {
                throw new SimException(executable + " ended before 'ready'");
            }
            if (line.startsWith("port ")) {
                portPath = line.substring(5);
            } else if (line.startsWith("control ")) {
                controlPort = Integer.parseInt(line.substring(8));
            } else if (line.equals("ready")) {
                if (portPath == null || controlPort == 0) {
                    throw new SimException(executable + " said ready without port and control");
                }
                return;
            }
        }
    }

    /** The pseudo-terminal the library opens as the reader's port. */
    public String getPortPath() {
        return portPath;
    }

    /** The TCP port of the control interface on 127.0.0.1. */
    public int getControlPort() {
        return controlPort;
    }

    /** A new connection to the control interface. */
    public Control control(int timeoutMs) {
        return new Control(controlPort, timeoutMs);
    }

    /**
     * Asks the process to quit (it then removes what it made), kills it when it has not ended after
     * {@code timeoutMs}; its exit code.
     */
    public int terminate(long timeoutMs) {
        if (process.isAlive() && controlPort != 0) {
            try (Control control = control((int) timeoutMs)) {
                control.request("quit");
            } catch (SimException e) {
                // not listening any more: the kill below ends it
            }
        }
        try {
            if (!process.waitFor(timeoutMs, TimeUnit.MILLISECONDS)) {
                process.destroyForcibly().waitFor();
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            process.destroyForcibly();
            return -1;
        }
        return process.exitValue();
    }

    @Override
    public void close() {
        terminate(5000);
    }
}
