namespace Quentara.Qapi;

/// <summary>The notification codes of the library (wParam of its message).</summary>
public enum NotifyCode
{
    Snapshot = 1,
    Key = 2,
    Digit = 3,
    Number = 4,
    Text = 5,
    Extension = 6,
    CallList = 7,
    ParkList = 8,
    CmdrStatus = 100,
    CmdrRecord = 101,
    AdjunctStatus = 200,
    RouteRequest = 201,
    Heartbeat = 1000,
}

/// <summary>
/// Something the library reported, copied out of its payload on the pump
/// thread the moment it was taken: immutable, valid however long it is kept
/// and on any thread.  <see cref="Source"/> is the station, feed or link it
/// came from.  Field names are the payload's (qapi.h) in .NET's casing.
/// </summary>
public abstract class Notification
{
    private protected Notification(QapiObject source) => Source = source;

    /// <summary>The station, feed or link the notification came from.</summary>
    public QapiObject Source { get; }

    /// <summary>The library's code for it (<see cref="ConnectionStateChanged"/>, which the binding makes, has none: 0).</summary>
    public abstract NotifyCode Code { get; }
}

/// <summary>A notification code this binding does not know, or one whose payload pointer was null.</summary>
public sealed class UnknownNotification : Notification
{
    internal UnknownNotification(QapiObject source, int code, long value) : base(source)
    {
        RawCode = code;
        Value = value;
    }

    public override NotifyCode Code => (NotifyCode)RawCode;

    public int RawCode { get; }

    /// <summary>lParam as posted.</summary>
    public long Value { get; }
}
