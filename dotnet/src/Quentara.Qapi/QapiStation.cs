using System;
using System.Threading.Tasks;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>
/// A station client: registers station <see cref="StationId"/> with the call
/// server, keeps it registered and reports what happens to it.  Every
/// operation returns when the library has queued (or refused) its request;
/// the outcome arrives as snapshots.
/// </summary>
public sealed unsafe class QapiStation : QapiObject
{
    private volatile Snapshot? _snapshot;

    internal QapiStation(QapiStack stack, EventDispatcher dispatcher, IntPtr window, IntPtr handle, int stationId)
        : base(stack, dispatcher, window)
    {
        Handle = handle;
        StationId = stationId;
    }

    /// <summary>Each snapshot: registration, call state, the operations allowed now, indicators.</summary>
    public event EventHandler<SnapshotChangedEventArgs>? SnapshotChanged;

    /// <summary>Each status of a watched extension.</summary>
    public event EventHandler<ExtensionStatusEventArgs>? ExtensionStatusChanged;

    /// <summary>The call list after each change.</summary>
    public event EventHandler<LinesEventArgs>? CallListChanged;

    /// <summary>The park list, once and after each change.</summary>
    public event EventHandler<LinesEventArgs>? ParkListChanged;

    /// <summary>The identifier the station was started with (-1: the server's choice, see <see cref="Snapshot"/>).</summary>
    public int StationId { get; }

    /// <summary>The last snapshot the library posted, or null before the first.</summary>
    public Snapshot? Snapshot => _snapshot;

    internal override bool HasHandlers =>
        base.HasHandlers || SnapshotChanged != null || ExtensionStatusChanged != null || CallListChanged != null || ParkListChanged != null;

    public override string ToString() => "QapiStation(" + StationId + ")";

    /// <summary>Starts a call, dialing <paramref name="digits"/> (null: none).  Needs <see cref="Qapi.Snapshot.CanNewCall"/>.</summary>
    public Task NewCallAsync(string? digits = null) => CallWithText("QAPI_Client_newcall", digits, (h, t) => QapiExports.QAPI_Client_newcall(h, t));

    /// <summary>Dials further digits; those within about 0.4 s travel together.  Needs CanDigits.</summary>
    public Task DigitsAsync(string digits) => CallWithText("QAPI_Client_digits", Required(digits), (h, t) => QapiExports.QAPI_Client_digits(h, t));

    public Task AnswerAsync() => Call("QAPI_Client_answer", h => QapiExports.QAPI_Client_answer(h));
    public Task ClearAsync() => Call("QAPI_Client_clear", h => QapiExports.QAPI_Client_clear(h));
    public Task HoldAsync() => Call("QAPI_Client_hold", h => QapiExports.QAPI_Client_hold(h));
    public Task RetrieveAsync() => Call("QAPI_Client_retrieve", h => QapiExports.QAPI_Client_retrieve(h));

    /// <summary>The callback key (QAPI_Client_callb).</summary>
    public Task CallbackAsync() => Call("QAPI_Client_callb", h => QapiExports.QAPI_Client_callb(h));
    public Task SuspendAsync() => Call("QAPI_Client_suspend", h => QapiExports.QAPI_Client_suspend(h));
    public Task ConferenceAsync() => Call("QAPI_Client_conference", h => QapiExports.QAPI_Client_conference(h));
    public Task TransferAsync() => Call("QAPI_Client_transfer", h => QapiExports.QAPI_Client_transfer(h));
    public Task RecordStartAsync() => Call("QAPI_Client_record_start", h => QapiExports.QAPI_Client_record_start(h));
    public Task RecordStopAsync() => Call("QAPI_Client_record_stop", h => QapiExports.QAPI_Client_record_stop(h));
    public Task MailboxAsync() => Call("QAPI_Client_mailbox", h => QapiExports.QAPI_Client_mailbox(h));

    /// <summary>Takes back the call of the call list numbered <paramref name="number"/> ("0042").  Needs CanPickup.</summary>
    public Task TransferUndoAsync(string number) =>
        CallWithText("QAPI_Client_transfer_undo", Required(number), (h, t) => QapiExports.QAPI_Client_transfer_undo(h, t));

    /// <summary>Deflects the present call to <paramref name="digits"/>; allowed in any state.</summary>
    public Task DeflectAsync(string digits) => CallWithText("QAPI_Client_deflect", Required(digits), (h, t) => QapiExports.QAPI_Client_deflect(h, t));

    /// <summary>Watches <paramref name="extension"/>: its statuses arrive as <see cref="ExtensionStatusChanged"/>.</summary>
    public Task WatchAsync(int extension) => Call("QAPI_Client_bdp_register", h => QapiExports.QAPI_Client_bdp_register(h, extension, 1));

    /// <summary>Stops watching <paramref name="extension"/>.</summary>
    public Task UnwatchAsync(int extension) => Call("QAPI_Client_bdp_register", h => QapiExports.QAPI_Client_bdp_register(h, extension, 0));

    /// <summary>Answers the call of a watched extension whose last status is 2.</summary>
    public Task PickupAsync(int extension) => Call("QAPI_Client_bdp_answer", h => QapiExports.QAPI_Client_bdp_answer(h, extension));

    /// <summary>Intrudes on the call of a watched extension whose last status is 3.</summary>
    public Task IntrudeAsync(int extension) => Call("QAPI_Client_bdp_intrude", h => QapiExports.QAPI_Client_bdp_intrude(h, extension));

    /// <summary>Takes the parked call whose key (the first word of its park-list line) is <paramref name="key"/>.</summary>
    public Task ResumeAsync(int key) => Call("QAPI_Client_resume", h => QapiExports.QAPI_Client_resume(h, key));

    internal override void Observe(Notification note)
    {
        if (note is Snapshot snapshot)
        {
            _snapshot = snapshot;
        }
    }

    internal override void Raise(Notification note)
    {
        base.Raise(note);
        switch (note)
        {
            case Snapshot snapshot:
                SnapshotChanged?.Invoke(this, new SnapshotChangedEventArgs(snapshot));
                break;
            case ExtensionStatus status:
                ExtensionStatusChanged?.Invoke(this, new ExtensionStatusEventArgs(status));
                break;
            case CallList calls:
                CallListChanged?.Invoke(this, new LinesEventArgs(calls));
                break;
            case ParkList parked:
                ParkListChanged?.Invoke(this, new LinesEventArgs(parked));
                break;
        }
    }

    internal override void StopNative()
    {
        if (Handle != IntPtr.Zero)
        {
            QapiExports.QAPI_Client_stop(Handle);
            Handle = IntPtr.Zero;
        }
    }

    private static string Required(string text) => text ?? throw new ArgumentNullException(nameof(text));

    private Task CallWithText(string operation, string? text, TextCall call)
    {
        byte[]? bytes = Stack.Codec.ToNative(text);
        return Call(operation, h => WithText(bytes, h, call));
    }
}
