using System;
using System.Threading;
using Microsoft.Extensions.Logging;

namespace Quentara.Qapi;

/// <summary>
/// A feed or link: a handle connected to the server at <see cref="Host"/> and
/// <see cref="Port"/>, whose <see cref="State"/> the binding follows.  The
/// library gives up on a connection that fails; with a
/// <see cref="ReconnectPolicy"/> the binding stops the failed handle and
/// starts a new one after a back-off, and reports every change as
/// <see cref="StateChanged"/> (and as a <see cref="ConnectionStateChanged"/>
/// in the stack's channel).
/// </summary>
public abstract class QapiConnection : QapiObject
{
    private readonly byte[] _host;
    private Timer? _retry;
    private int _attempt;
    private volatile int _state = (int)ConnectionState.Connecting;
    private ConnectionState _announced = ConnectionState.Connecting;
    private string? _reason;

    private protected QapiConnection(QapiStack stack, EventDispatcher dispatcher, IntPtr window, string host, int port,
        ReconnectPolicy? reconnect) : base(stack, dispatcher, window)
    {
        Host = host;
        Port = port;
        Reconnect = reconnect;
        _host = stack.Codec.ToNative(host)!;
    }

    /// <summary>Each change of <see cref="State"/>.</summary>
    public event EventHandler<ConnectionStateEventArgs>? StateChanged;

    public string Host { get; }

    public int Port { get; }

    /// <summary>The reconnection, or null when a failure is final (the library's own way).</summary>
    public ReconnectPolicy? Reconnect { get; }

    public ConnectionState State => (ConnectionState)_state;

    internal abstract string StartFunction { get; }

    internal override bool HasHandlers => base.HasHandlers || StateChanged != null;

    public override string ToString() => GetType().Name + "(" + Host + ", " + Port + ")";

    /// <summary>Starts the library's handle (pump thread); false when the library refused.</summary>
    internal bool Connect()
    {
        Handle = StartNative(_host, (uint)Port);
        if (Handle == IntPtr.Zero)
        {
            return false;
        }
        SetState(ConnectedOnStart, null);
        return true;
    }

    /// <summary>After the first start (pump thread): publishes the state it reached, or begins the retries.</summary>
    internal void Started(bool connected)
    {
        if (connected)
        {
            Publish();
        }
        else
        {
            Failed("the connection could not be made (" + StartFunction + ")");
        }
    }

    internal override void Raise(Notification note)
    {
        base.Raise(note);
        if (note is ConnectionStateChanged change)
        {
            StateChanged?.Invoke(this, new ConnectionStateEventArgs(change));
        }
    }

    internal override void StopNative()
    {
        _retry?.Dispose();
        _retry = null;
        StopHandle();
        SetState(ConnectionState.Stopped, null);
        Publish();
    }

    /// <summary>The state a successful start reaches: a feed is connected, a link waits for the server.</summary>
    private protected abstract ConnectionState ConnectedOnStart { get; }

    private protected abstract IntPtr StartNative(byte[] host, uint port);

    private protected abstract void StopNative(IntPtr handle);

    /// <summary>The connection works (a record came, the link is up): the back-off starts from the beginning.</summary>
    private protected void Working()
    {
        _attempt = 0;
        if (State != ConnectionState.Connected)
        {
            SetState(ConnectionState.Connected, null);
            Publish();
        }
    }

    /// <summary>The library reported the connection failed (pump thread).</summary>
    private protected void Failed(string? reason)
    {
        if (Reconnect == null)
        {
            SetState(ConnectionState.Disconnected, reason);
            Publish();
            return;
        }
        StopHandle();
        TimeSpan wait = Reconnect.DelayFor(_attempt++);
        SetState(ConnectionState.Disconnected, reason);
        Stack.Logger.LogInformation("{Connection}: {Reason}; next try in {Seconds} s", this, reason, wait.TotalSeconds);
        Publish(wait);
        _retry?.Dispose();
        _retry = new Timer(_ => Stack.OnPump(Retry).Ignore(), null, wait, Timeout.InfiniteTimeSpan);
    }

    private bool Retry()
    {
        if (!IsLive || Handle != IntPtr.Zero)
        {
            return false;
        }
        SetState(ConnectionState.Connecting, null);
        Publish();
        Started(Connect());
        return Handle != IntPtr.Zero;
    }

    private void StopHandle()
    {
        if (Handle != IntPtr.Zero)
        {
            StopNative(Handle);
            Handle = IntPtr.Zero;
        }
    }

    private void SetState(ConnectionState state, string? reason)
    {
        _state = (int)state;
        _reason = reason;
    }

    // Publishes the change since the last one published (pump thread).
    private void Publish(TimeSpan? retryIn = null)
    {
        if (State == _announced && retryIn == null)
        {
            return;
        }
        var change = new ConnectionStateChanged(this, State, _announced, retryIn, _reason);
        _announced = State;
        Stack.Publish(this, change);
    }
}
