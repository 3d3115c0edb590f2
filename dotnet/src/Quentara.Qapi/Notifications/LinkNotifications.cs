using System.Text;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>State of a routing link (QapiAdjunctState).</summary>
public enum LinkState
{
    Connecting = 0,
    Up = 1,
    Failed = 2,
}

/// <summary>A link's state as the library reported it: up, or failed.</summary>
public sealed class LinkStatus : Notification
{
    internal LinkStatus(QapiObject source, int state, string? text) : base(source)
    {
        State = (LinkState)state;
        Text = text;
    }

    public override NotifyCode Code => NotifyCode.AdjunctStatus;
    public LinkState State { get; }
    public string? Text { get; }
}

/// <summary>
/// A question where to route a call: answer it with
/// <see cref="RoutingLink.RespondAsync"/>(<see cref="Handle"/>, ...) within 5
/// seconds.  The date is the server's as sent (a month or day of 0 stays 0).
/// </summary>
public sealed class RouteRequest : Notification
{
    private readonly QapiRouteRequestPayload _raw;
    private readonly Encoding _encoding;

    internal RouteRequest(QapiObject source, in QapiRouteRequestPayload raw, Encoding encoding) : base(source)
    {
        _raw = raw;
        _encoding = encoding;
    }

    public override NotifyCode Code => NotifyCode.RouteRequest;
    public uint Handle => _raw.handle;
    public int Second => _raw.second;
    public int Minute => _raw.minute;
    public int Hour => _raw.hour;
    public int Day => _raw.day;
    public int Month => _raw.month;
    public int Year => _raw.year;
    public int NumberB => _raw.numberB;
    public int NumberA => _raw.numberA;
    public unsafe string TextA
    {
        get
        {
            QapiRouteRequestPayload raw = _raw;
            return TextCodec.FromNative(_encoding, raw.textA, 32);
        }
    }
    public unsafe string TextB
    {
        get
        {
            QapiRouteRequestPayload raw = _raw;
            return TextCodec.FromNative(_encoding, raw.textB, 32);
        }
    }
}
