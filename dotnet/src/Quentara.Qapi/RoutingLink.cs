using System;
using System.Threading.Tasks;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>
/// A routing adjunct link: the server asks over it where calls are to be
/// routed (<see cref="RouteRequested"/>); answer each within 5 seconds with
/// <see cref="RespondAsync"/>.
/// </summary>
public sealed unsafe class RoutingLink : QapiConnection
{
    internal RoutingLink(QapiStack stack, EventDispatcher dispatcher, IntPtr window, string host, int port, ReconnectPolicy? reconnect)
        : base(stack, dispatcher, window, host, port, reconnect)
    {
    }

    /// <summary>Each route request.</summary>
    public event EventHandler<RouteRequestEventArgs>? RouteRequested;

    internal override string StartFunction => "QAPI_Adjunct_start";

    internal override bool HasHandlers => base.HasHandlers || RouteRequested != null;

    private protected override ConnectionState ConnectedOnStart => ConnectionState.Connecting;

    /// <summary>
    /// Answers route request <paramref name="handle"/> (<see cref="RouteRequest.Handle"/>) with the dial
    /// characters of <paramref name="digits"/> (null: none) and <paramref name="value"/>.
    /// </summary>
    public Task RespondAsync(uint handle, string? digits, int value = 0)
    {
        byte[]? bytes = Stack.Codec.ToNative(digits);
        return Call("QAPI_Adjunct_response", h => WithText(bytes, h, (link, text) => Respond(link, handle, text, value)));
    }

    internal override void React(Notification note)
    {
        if (note is LinkStatus status)
        {
            if (status.State == LinkState.Up)
            {
                Working();
            }
            else if (status.State == LinkState.Failed)
            {
                Failed(status.Text);
            }
        }
    }

    internal override void Raise(Notification note)
    {
        base.Raise(note);
        if (note is RouteRequest request)
        {
            RouteRequested?.Invoke(this, new RouteRequestEventArgs(request));
        }
    }

    private protected override unsafe IntPtr StartNative(byte[] host, uint port)
    {
        fixed (byte* h = host)
        {
            return LibraryResolver.IsWindows
                ? QapiExports.QAPI_Adjunct_start_win32(Window, h, port)
                : QapiExports.QAPI_Adjunct_start_posix((uint)Window, h, port);
        }
    }

    private protected override void StopNative(IntPtr handle) => QapiExports.QAPI_Adjunct_stop(handle);

    private static unsafe int Respond(IntPtr link, uint handle, byte* digits, int value) =>
        QapiExports.QAPI_Adjunct_response(link, handle, digits, value);
}
