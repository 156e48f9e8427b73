using System;
using System.Threading;
using System.Threading.Tasks;

namespace Kpdev
{
    // One KP_DEV_ReadAll_A call on a thread of its own, as a task.
    //
    // The library's cancel, KP_DEV_CancelReadAll, reaches whatever loop is
    // running in the process, so loops run one at a time (Loops) and a
    // cancel is passed on only while this run's loop is in the library. A
    // cancel made before the library's call started does not end it: a
    // cancel that lands between this run's start and that moment would be
    // lost, so it is repeated every pass pause (50 ms) until the loop has
    // returned.
    internal sealed class ReadAnyCardRun
    {
        static readonly object Loops = new object();
        const int RepeatMs = 50;

        enum State
        {
            Waiting,
            InLibrary,
            Done,
        }

        readonly int port;
        readonly ReadAnyCardOptions options;
        readonly CancellationToken cancellation;
        readonly TaskCompletionSource<CardRead> outcome = new TaskCompletionSource<CardRead>();
        readonly object gate = new object();
        State state = State.Waiting;
        bool cancelled;
        Timer repeat;
        CancellationTokenRegistration registration;

        public ReadAnyCardRun(int port, ReadAnyCardOptions options, CancellationToken cancellation)
        {
            Ports.CheckNumber(port);
            options.Validate();
            this.port = port;
            this.options = options;
            this.cancellation = cancellation;
        }

        public Task<CardRead> Start()
        {
            if (cancellation.IsCancellationRequested)
            {
                outcome.SetCanceled();
                return outcome.Task;
            }
            Ports.Claim(port, "a read-any-card loop");
            registration = cancellation.Register(Cancel);
            var thread = new Thread(Run) { IsBackground = true, Name = "kpdev read-any-card COM" + port };
            thread.Start();
            return outcome.Task;
        }

        void Cancel()
        {
            lock (gate)
            {
                cancelled = true;
                if (state != State.InLibrary || repeat != null)
                    return;
                Native.KP_DEV_CancelReadAll();
                repeat = new Timer(_ => Repeat(), null, RepeatMs, RepeatMs);
            }
        }

        void Repeat()
        {
            lock (gate)
                if (state == State.InLibrary)
                    Native.KP_DEV_CancelReadAll();
        }

        void Run()
        {
            int result = Results.KP_DEV_NOTHING_YET;
            int kind = 0;
            var text = new byte[2080];
            Exception failure = null;
            lock (Loops)
            {
                lock (gate)
                    state = cancelled ? State.Done : State.InLibrary;
                if (state == State.InLibrary)
                {
                    try
                    {
                        result = Exports.KP_DEV_ReadAll_A(
                            port, 0, options.TimeoutMs, options.TryStoreCard ? 1 : 0, options.Sector, options.Block,
                            options.KeyType, Hex.Of(options.Key), options.TryContactBank ? 1 : 0,
                            options.TryContactlessBank ? 1 : 0, 0, ref kind, text);
                    }
                    catch (Exception e)
                    {
                        failure = e;
                    }
                    lock (gate)
                    {
                        state = State.Done;
                        if (repeat != null)
                            repeat.Dispose();
                    }
                }
            }
            registration.Dispose();
            Ports.Release(port);
            Finish(result, kind, text, failure);
        }

        void Finish(int result, int kind, byte[] text, Exception failure)
        {
            if (failure != null)
                outcome.SetException(failure);
            else if (result == Results.KP_DEV_OK)
            {
                try
                {
                    outcome.SetResult(new CardRead((CardKind)kind, text));
                }
                catch (FormatException e)
                {
                    outcome.SetException(e);
                }
            }
            else if (result != Results.KP_DEV_NOTHING_YET)
                outcome.SetException(new KpDevException("KP_DEV_ReadAll_A", result));
            else if (cancelled)
                outcome.SetCanceled();
            else
                outcome.SetException(new TimeoutException("no card was presented on COM" + port + " in time"));
        }
    }
}
