using System;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>
/// A feed of call records: one TCP connection to the server, which the
/// library polls; every record arrives as <see cref="RecordReceived"/>.
/// </summary>
public sealed class CallRecordFeed : QapiConnection
{
    internal CallRecordFeed(QapiStack stack, EventDispatcher dispatcher, IntPtr window, string host, int port, ReconnectPolicy? reconnect)
        : base(stack, dispatcher, window, host, port, reconnect)
    {
    }

    /// <summary>Each call record, in the order the server sent them.</summary>
    public event EventHandler<CallRecordEventArgs>? RecordReceived;

    internal override string StartFunction => "QAPI_Cmdr_start";

    internal override bool HasHandlers => base.HasHandlers || RecordReceived != null;

    private protected override ConnectionState ConnectedOnStart => ConnectionState.Connected;

    internal override void React(Notification note)
    {
        if (note is CallRecord)
        {
            Working();
        }
        else if (note is FeedStatus { State: FeedState.Failed } failed)
        {
            Failed(failed.Text);
        }
    }

    internal override void Raise(Notification note)
    {
        base.Raise(note);
        if (note is CallRecord record)
        {
            RecordReceived?.Invoke(this, new CallRecordEventArgs(record));
        }
    }

    private protected override unsafe IntPtr StartNative(byte[] host, uint port)
    {
        fixed (byte* h = host)
        {
            return LibraryResolver.IsWindows
                ? QapiExports.QAPI_Cmdr_start_win32(Window, h, port)
                : QapiExports.QAPI_Cmdr_start_posix((uint)Window, h, port);
        }
    }

    private protected override void StopNative(IntPtr handle) => QapiExports.QAPI_Cmdr_stop(handle);
}
