using System;

namespace Quentara.Qapi;

/// <summary>Where a feed's or link's connection stands, as the binding follows it.</summary>
public enum ConnectionState
{
    /// <summary>A link waits for the server's first answer; a feed is being started again.</summary>
    Connecting,

    /// <summary>A feed is connected; a link is up.</summary>
    Connected,

    /// <summary>The connection failed or could not be made; with reconnection on, the next try is <see cref="ConnectionStateChanged.RetryIn"/> away.</summary>
    Disconnected,

    /// <summary>Disposed.</summary>
    Stopped,
}

/// <summary>
/// A change of a feed's or link's <see cref="ConnectionState"/>: the binding's
/// own notification, raised as StateChanged and written to the channel like
/// the library's.
/// </summary>
public sealed class ConnectionStateChanged : Notification
{
    internal ConnectionStateChanged(QapiObject source, ConnectionState state, ConnectionState previous, TimeSpan? retryIn,
        string? reason) : base(source)
    {
        State = state;
        Previous = previous;
        RetryIn = retryIn;
        Reason = reason;
    }

    public override NotifyCode Code => 0;
    public ConnectionState State { get; }
    public ConnectionState Previous { get; }

    /// <summary>When reconnecting: the time until the next try.</summary>
    public TimeSpan? RetryIn { get; }

    /// <summary>The library's status text, or what failed.</summary>
    public string? Reason { get; }
}
