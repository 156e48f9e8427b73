package kpdev;

import com.sun.jna.ptr.IntByReference;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.Executors;
import java.util.concurrent.ScheduledExecutorService;
import java.util.concurrent.ScheduledFuture;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;

/**
 * One KP_DEV_ReadAll_A call on a thread of its own, as a future. Cancelling it, or completing it
 * from outside, stops the loop; {@link #stopped()} tells when the loop has returned.
 *
 * <p>The library's cancel, KP_DEV_CancelReadAll, reaches whatever loop is running in the process,
 * so loops run one at a time and a cancel is passed on only while this future's loop is in the
 * library. A cancel made before the library's call started does not end that call: a cancel that
 * lands between this future's start and that moment would be lost, so it is repeated every pass
 * pause (50 ms) until the loop has returned.
 */
public final class ReadAnyCardFuture extends CompletableFuture<CardRead> {
    private static final Object LOOPS = new Object();
    private static final long REPEAT_MS = 50;
    private static ScheduledExecutorService repeater;

    private enum State { WAITING, IN_LIBRARY, DONE }

    private final int port;
    private final ReadAnyCardOptions options;
    private final CompletableFuture<Void> stopped = new CompletableFuture<>();
    private State state = State.WAITING;
    private boolean stopRequested;
    private ScheduledFuture<?> repeat;

    private ReadAnyCardFuture(int port, ReadAnyCardOptions options) {
        this.port = port;
        this.options = options;
    }

    static ReadAnyCardFuture start(int port, ReadAnyCardOptions options) {
        Ports.checkNumber(port);
        KpDev.library();
        Ports.claim(port, "a read-any-card loop");
        ReadAnyCardFuture future = new ReadAnyCardFuture(port, options);
        Thread thread = new Thread(future::run, "kpdev read-any-card COM" + port);
        thread.setDaemon(true);
        thread.start();
        return future;
    }

    /** Completes (never exceptionally) once the loop has returned and its port is free. */
    public CompletableFuture<Void> stopped() {
        return stopped;
    }

    @Override
    public boolean cancel(boolean mayInterruptIfRunning) {
        boolean cancelled = super.cancel(mayInterruptIfRunning);
        stop();
        return cancelled;
    }

    @Override
    public boolean complete(CardRead value) {
        boolean completed = super.complete(value);
        stop();
        return completed;
    }

    @Override
    public boolean completeExceptionally(Throwable failure) {
        boolean completed = super.completeExceptionally(failure);
        stop();
        return completed;
    }

    private synchronized void stop() {
        stopRequested = true;
        if (state != State.IN_LIBRARY || repeat != null) {
            return;
        }
        KpDev.library().KP_DEV_CancelReadAll();
        repeat = repeater().scheduleAtFixedRate(this::repeatCancel, REPEAT_MS, REPEAT_MS, TimeUnit.MILLISECONDS);
    }

    private synchronized void repeatCancel() {
        if (state == State.IN_LIBRARY) {
            KpDev.library().KP_DEV_CancelReadAll();
        }
    }

    private static synchronized ScheduledExecutorService repeater() {
        if (repeater == null) {
            repeater = Executors.newSingleThreadScheduledExecutor(task -> {
                Thread thread = new Thread(task, "kpdev read-any-card cancel");
                thread.setDaemon(true);
                return thread;
            });
        }
        return repeater;
    }

    private void run() {
        int result = Results.KP_DEV_NOTHING_YET;
        IntByReference kind = new IntByReference(0);
        byte[] text = new byte[2080];
        Throwable failure = null;
        boolean ran = false;
        synchronized (LOOPS) {
            synchronized (this) {
                state = stopRequested ? State.DONE : State.IN_LIBRARY;
                ran = state == State.IN_LIBRARY;
            }
            if (ran) {
                try {
                    result = Exports.KP_DEV_ReadAll_A(port, 0, options.libraryTimeout(), options.tryStoreCard() ? 1 : 0,
                                                      options.sector(), options.block(), options.keyType(),
                                                      options.keyHex(), options.tryContactBank() ? 1 : 0,
                                                      options.tryContactlessBank() ? 1 : 0, 0, kind, text);
                } catch (RuntimeException | Error e) {
                    failure = e;
                }
                synchronized (this) {
                    state = State.DONE;
                    if (repeat != null) {
                        repeat.cancel(false);
                    }
                }
            }
        }
        Ports.release(port);
        stopped.complete(null);
        finish(result, kind.getValue(), text, failure);
    }

    private void finish(int result, int kind, byte[] text, Throwable failure) {
        if (failure != null) {
            super.completeExceptionally(failure);
        } else if (result == Results.KP_DEV_OK) {
            try {
                super.complete(new CardRead(CardKind.of(kind), text));
            } catch (IllegalStateException e) {
                super.completeExceptionally(e);
            }
        } else if (result != Results.KP_DEV_NOTHING_YET) {
            super.completeExceptionally(new KpDevException("KP_DEV_ReadAll_A", result));
        } else {
            // Cancelled or completed from outside already, or the time ran out.
            super.completeExceptionally(new TimeoutException("no card was presented on COM" + port + " in time"));
        }
    }
}
