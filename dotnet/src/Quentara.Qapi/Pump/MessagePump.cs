using System;
using System.Collections.Concurrent;
using System.Threading;
using System.Threading.Tasks;
using Quentara.Qapi.Native;

namespace Quentara.Qapi.Pump;

/// <summary>Receives the library's notifications on the pump thread.</summary>
internal interface INotificationSink
{
    /// <summary>A message taken from the pump thread's queue (window, message number, wParam, lParam).</summary>
    void OnMessage(IntPtr window, uint message, nuint wParam, IntPtr lParam);

    /// <summary>The messages taken in one go, or the calls run in one turn, are through.</summary>
    void BatchTaken();
}

/// <summary>
/// The thread that owns the library: it initialises it, runs its 100 ms
/// tick in its message loop, takes every notification the moment it is
/// posted, and runs every call that other threads hand it, one at a time.
/// Nothing the application supplies ever runs here, so a call made from an
/// event handler cannot deadlock it.  The platform gives the loop: the
/// message layer's queue descriptor on Linux, a message-only window and
/// GetMessage on Windows.
/// </summary>
internal abstract class MessagePump
{
    /// <summary>The most messages taken in one go before waiting calls get their turn.</summary>
    internal const int MessagesPerTurn = 1024;

    internal const uint NotifyMessage = 49000;

    private readonly ConcurrentQueue<PumpWork> _work = new();
    private readonly TaskCompletionSource<bool> _ended = new(TaskCreationOptions.RunContinuationsAsynchronously);
    private readonly TaskCompletionSource<bool> _ready = new(TaskCreationOptions.RunContinuationsAsynchronously);
    private int _wakePending;
    private Thread? _thread;
    private volatile bool _stopping;

    protected MessagePump(INotificationSink sink) => Sink = sink;

    protected INotificationSink Sink { get; }

    /// <summary>Completes when the pump thread has ended.</summary>
    internal Task Ended => _ended.Task;

    internal bool OnPumpThread => Thread.CurrentThread == _thread;

    internal static MessagePump Create(INotificationSink sink) =>
        LibraryResolver.IsWindows ? new Win32Pump(sink) : new PosixPump(sink);

    /// <summary>Starts the thread and its queue; the library is not touched yet.</summary>
    internal Task StartAsync()
    {
        _thread = new Thread(Run) { IsBackground = true, Name = "Qapi pump" };
        _thread.Start();
        return _ready.Task;
    }

    /// <summary>Runs <paramref name="call"/> on the pump thread.</summary>
    internal Task<T> Invoke<T>(Func<T> call)
    {
        var work = new PumpWork<T>(call);
        Enqueue(work);
        return work.Task;
    }

    internal Task Invoke(Action call) => Invoke(() =>
    {
        call();
        return true;
    });

    /// <summary>Ends the loop after the call that says so (on the pump thread).</summary>
    internal void Stop() => _stopping = true;

    /// <summary>Creates a window of the pump thread for one handle's notifications.</summary>
    internal abstract IntPtr CreateWindow();

    internal abstract void DestroyWindow(IntPtr window);

    /// <summary>Takes what waits in the queue now (at most <paramref name="limit"/> messages), running due timers as it goes.</summary>
    internal int DrainMessages(int limit)
    {
        int taken = TakeMessages(limit);
        Sink.BatchTaken();
        return taken;
    }

    /// <summary>The library is initialised: its queue can be watched (pump thread).</summary>
    internal virtual void LibraryStarted()
    {
    }

    /// <summary>The message layer's manual clock (Linux only, for tests and measurements).</summary>
    internal virtual void UseManualClock(bool on)
    {
        if (on)
        {
            throw new PlatformNotSupportedException("the manual clock is the Linux message layer's");
        }
    }

    internal virtual void AdvanceClock(uint milliseconds) => throw new PlatformNotSupportedException("the manual clock is the Linux message layer's");

    /// <summary>What <see cref="DrainMessages"/> does on this platform.</summary>
    protected abstract int TakeMessages(int limit);

    protected abstract void OpenQueue();

    protected abstract void CloseQueue();

    /// <summary>Waits for messages, timers or calls, handling what arrives, until a call stops the pump.</summary>
    protected abstract void Loop();

    /// <summary>Makes the waiting loop look at the calls (any thread).</summary>
    protected abstract void Signal();

    protected bool Stopping => _stopping;

    /// <summary>Runs the waiting calls; false once one of them stopped the pump.</summary>
    protected bool RunWork()
    {
        Volatile.Write(ref _wakePending, 0);
        while (!_stopping && _work.TryDequeue(out PumpWork? work))
        {
            work.Run();
        }
        Sink.BatchTaken();
        return !_stopping;
    }

    protected bool HasWork => !_work.IsEmpty;

    private void Enqueue(PumpWork work)
    {
        _work.Enqueue(work);
        if (_ended.Task.IsCompleted)
        {
            AbandonWaiting();
        }
        else if (Interlocked.Exchange(ref _wakePending, 1) == 0)
        {
            Signal();
        }
    }

    private void Run()
    {
        try
        {
            OpenQueue();
        }
        catch (Exception e)
        {
            _ready.TrySetException(e);
            _ended.TrySetResult(true);
            return;
        }
        _ready.TrySetResult(true);
        try
        {
            Loop();
        }
        finally
        {
            CloseQueue();
            _ended.TrySetResult(true);
            AbandonWaiting();
        }
    }

    private void AbandonWaiting()
    {
        while (_work.TryDequeue(out PumpWork? work))
        {
            work.Abandon();
        }
    }
}
