using System;
using System.Collections.Generic;

namespace Quentara.Qapi;

/// <summary>
/// The library refused an operation or a start (it returned 1, or no handle).
/// <see cref="Operation"/> names the library function ("QAPI_Client_answer"),
/// <see cref="Reason"/> says what makes it refuse.
/// </summary>
public sealed class QapiRefusedException : InvalidOperationException
{
    public QapiRefusedException(string operation, string reason) : base(operation + " refused: " + reason)
    {
        Operation = operation;
        Reason = reason;
    }

    public QapiRefusedException(string operation) : this(operation, RefusalReasons.For(operation))
    {
    }

    public string Operation { get; }

    public string Reason { get; }
}

/// <summary>What makes each function of the library refuse.</summary>
internal static class RefusalReasons
{
    private const string QueueFull = "or 63 requests wait already";
    private const string StationStart = "a live station has this identifier, 512 stations are live, or the station endpoint cannot be opened";
    private static readonly Dictionary<string, string> Reasons = Build();

    internal static string For(string operation) => Reasons.TryGetValue(operation, out string? reason) ? reason : "the library returned 1";

    private static string NotAllowed(string what) =>
        "the station is not registered, its last snapshot does not allow " + what + ", " + QueueFull;

    private static Dictionary<string, string> Build()
    {
        var reasons = new Dictionary<string, string>
        {
            ["QAPI_Stack_initialize"] = "the socket library failed to start",
            ["QAPI_Client_start"] = StationStart,
            ["QAPI_Cmdr_start"] = "the connection cannot be made, or 32 feeds are open",
            ["QAPI_Adjunct_start"] = "the host cannot be reached, or 8 links are open",
            ["QAPI_Client_newcall"] = NotAllowed("a new call (CanNewCall)"),
            ["QAPI_Client_digits"] = "the text holds no dial character, or " + NotAllowed("digits (CanDigits)"),
            ["QAPI_Client_transfer_undo"] = "the text holds no number, or " + NotAllowed("taking back (CanPickup)"),
            ["QAPI_Client_deflect"] = "the text holds no dial character, " + QueueFull,
            ["QAPI_Client_bdp_register"] = "512 extensions are watched",
            ["QAPI_Client_bdp_answer"] = "the extension is not watched or its last status is not 2, " + QueueFull,
            ["QAPI_Client_bdp_intrude"] = "the extension is not watched or its last status is not 3, " + QueueFull,
            ["QAPI_Client_resume"] = "the last park list holds no call under this key, " + QueueFull,
            ["QAPI_Adjunct_response"] = "the request is unknown, already answered or 5 seconds old, the link is not up, or the answer could not be sent",
        };
        string[,] keys =
        {
            { "answer", "CanAnswer" }, { "clear", "CanClear" }, { "hold", "CanHold" }, { "retrieve", "CanRetrieve" },
            { "callb", "CanCallback" }, { "suspend", "CanSuspend" }, { "conference", "CanConference" },
            { "transfer", "CanTransfer" }, { "record_start", "CanRecordStart" }, { "record_stop", "CanRecordStop" },
            { "mailbox", "CanMailbox" },
        };
        for (int i = 0; i < keys.GetLength(0); i++)
        {
            reasons["QAPI_Client_" + keys[i, 0]] = NotAllowed("it (" + keys[i, 1] + ")");
        }
        return reasons;
    }
}
