using System;
using System.Threading;
using System.Threading.Tasks;

namespace Quentara.Qapi;

/// <summary>
/// A station, feed or link: one handle of the library with a window of the
/// pump thread for its notifications.  Its events are raised on the
/// SynchronizationContext of the thread that created it, in order.  Disposing
/// it stops the handle: the notifications posted before are still raised,
/// none after, and its operations then throw <see cref="ObjectDisposedException"/>.
/// </summary>
public abstract class QapiObject : IAsyncDisposable
{
    private Task? _disposal;
    private volatile bool _stopping;
    private volatile bool _eventsClosed;

    private protected QapiObject(QapiStack stack, EventDispatcher dispatcher, IntPtr window)
    {
        Stack = stack;
        Dispatcher = dispatcher;
        Window = window;
    }

    /// <summary>Every notification of this object.</summary>
    public event EventHandler<NotificationEventArgs>? NotificationReceived;

    public QapiStack Stack { get; }

    /// <summary>False once disposal began, or once the stack was disposed.</summary>
    public bool IsLive => !_stopping;

    internal EventDispatcher Dispatcher { get; }

    internal IntPtr Window { get; }

    /// <summary>The library's handle, or zero (pump thread only).</summary>
    internal IntPtr Handle { get; set; }

    internal bool EventsClosed => _eventsClosed;

    internal virtual bool HasHandlers => NotificationReceived != null;

    /// <summary>Stops the handle; completes once every event queued before has been raised.</summary>
    public ValueTask DisposeAsync()
    {
        lock (Dispatcher)
        {
            _stopping = true;
            _disposal ??= Stack.OnPump(() => Stack.StopObject(this)).Unwrap().ContinueWith(
                t => _ = t.Exception, CancellationToken.None, TaskContinuationOptions.ExecuteSynchronously, TaskScheduler.Default);
            return new ValueTask(_disposal);
        }
    }

    internal void MarkStopping() => _stopping = true;

    internal void CloseEvents() => _eventsClosed = true;

    /// <summary>What the object learns from its notification before it is published (pump thread).</summary>
    internal virtual void Observe(Notification note)
    {
    }

    /// <summary>What the object does about its notification once it is published (pump thread).</summary>
    internal virtual void React(Notification note)
    {
    }

    /// <summary>Raises the events of a notification (the dispatcher's thread).</summary>
    internal virtual void Raise(Notification note) => NotificationReceived?.Invoke(this, new NotificationEventArgs(note));

    /// <summary>Stops the library's handle, if any (pump thread).</summary>
    internal abstract void StopNative();

    /// <summary>
    /// Runs an export on the pump thread with this object's handle: throws
    /// ObjectDisposedException once the object is stopped, and
    /// QapiRefusedException naming <paramref name="operation"/> when the
    /// library returns 1.
    /// </summary>
    private protected Task Call(string operation, Func<IntPtr, int> call)
    {
        if (_stopping)
        {
            return Task.FromException(new ObjectDisposedException(ToString()));
        }
        return Stack.OnPump(() =>
        {
            if (_stopping)
            {
                throw new ObjectDisposedException(ToString());
            }
            if (Handle == IntPtr.Zero || call(Handle) != 0)
            {
                throw new QapiRefusedException(operation);
            }
            return true;
        });
    }

    private protected static unsafe int WithText(byte[]? text, IntPtr handle, TextCall call)
    {
        fixed (byte* p = text)
        {
            return call(handle, p);
        }
    }

    private protected unsafe delegate int TextCall(IntPtr handle, byte* text);
}
