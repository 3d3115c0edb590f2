using System.Collections.Generic;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>Registration state of a station (QapiRegState).</summary>
public enum RegState
{
    Registering = 0,
    Registered = 1,
    Failed = 2,
}

/// <summary>
/// A station's status as it stood when the library posted it; the Can*
/// properties say which operations the station allows now.
/// </summary>
public sealed class Snapshot : Notification
{
    private readonly QapiStatusSnapshot _raw;

    internal Snapshot(QapiObject source, in QapiStatusSnapshot raw, string? statusText) : base(source)
    {
        _raw = raw;
        _raw.statusText = 0;
        StatusText = statusText;
    }

    public override NotifyCode Code => NotifyCode.Snapshot;

    public RegState RegState => (RegState)_raw.regState;

    /// <summary>The library's status text ("Quentara is not responding" ...), or null.</summary>
    public string? StatusText { get; }

    public int CallState => _raw.callState;
    public int EventValue => _raw.eventValue;
    public int InfoValue => _raw.infoValue;
    public bool CanNewCall => _raw.canNewcall != 0;
    public bool CanDigits => _raw.canDigits != 0;

    /// <summary>True while the station rings.</summary>
    public bool IsAlerting => _raw.isAlerting != 0;
    public bool CanAnswer => _raw.canAnswer != 0;
    public bool CanClear => _raw.canClear != 0;
    public bool CanHold => _raw.canHold != 0;
    public bool CanRetrieve => _raw.canRetrieve != 0;
    public bool CanCallback => _raw.canCallback != 0;
    public bool CanSuspend => _raw.canSuspend != 0;
    public bool CanConference => _raw.canConference != 0;
    public bool CanTransfer => _raw.canTransfer != 0;
    public bool CanRecordStart => _raw.canRecordStart != 0;
    public bool CanRecordStop => _raw.canRecordStop != 0;
    public bool CanMailbox => _raw.canMailbox != 0;
    public bool CanPickup => _raw.canPickup != 0;
    public int Indicator1 => _raw.indicator1;
    public int Indicator2 => _raw.indicator2;
    public int Indicator3 => _raw.indicator3;
    public int StationId => _raw.stationId;

    /// <summary>The four values of the registration, not interpreted.</summary>
    public unsafe IReadOnlyList<int> RegValues
    {
        get
        {
            QapiStatusSnapshot raw = _raw;
            return new[] { raw.regValues[0], raw.regValues[1], raw.regValues[2], raw.regValues[3] };
        }
    }

    public int RegShort => _raw.regShort;
}

/// <summary>A key that the server reported; <see cref="Character"/> is null when it was no dial key.</summary>
public sealed class Key : Notification
{
    internal Key(QapiObject source, char? character) : base(source) => Character = character;

    public override NotifyCode Code => NotifyCode.Key;
    public char? Character { get; }
}

/// <summary>A digit the server reported; the dialed text follows as <see cref="Text"/>.</summary>
public sealed class Digit : Notification
{
    internal Digit(QapiObject source, char character) : base(source) => Character = character;

    public override NotifyCode Code => NotifyCode.Digit;
    public char Character { get; }
}

/// <summary>A number the server sent.</summary>
public sealed class Number : Notification
{
    internal Number(QapiObject source, string value) : base(source) => Value = value;

    public override NotifyCode Code => NotifyCode.Number;
    public string Value { get; }
}

/// <summary>A display text, or the digits dialed so far.</summary>
public sealed class Text : Notification
{
    internal Text(QapiObject source, string value) : base(source) => Value = value;

    public override NotifyCode Code => NotifyCode.Text;
    public string Value { get; }
}

/// <summary>The status a watched extension reported: 2 its call can be answered, 3 it can be intruded on.</summary>
public sealed class ExtensionStatus : Notification
{
    internal ExtensionStatus(QapiObject source, in QapiExtensionStatus raw) : base(source)
    {
        Extension = raw.extension;
        Status = raw.status;
    }

    public override NotifyCode Code => NotifyCode.Extension;
    public int Extension { get; }
    public int Status { get; }
}

/// <summary>The lines of a call list or a park list, in order.</summary>
public abstract class LineListNotification : Notification
{
    private protected LineListNotification(QapiObject source, IReadOnlyList<string> lines) : base(source) => Lines = lines;

    public IReadOnlyList<string> Lines { get; }
}

/// <summary>The station's call list, one line per call.</summary>
public sealed class CallList : LineListNotification
{
    internal CallList(QapiObject source, IReadOnlyList<string> lines) : base(source, lines)
    {
    }

    public override NotifyCode Code => NotifyCode.CallList;
}

/// <summary>The parked calls; the first word of a line is the key that <see cref="QapiStation.ResumeAsync"/> takes.</summary>
public sealed class ParkList : LineListNotification
{
    internal ParkList(QapiObject source, IReadOnlyList<string> lines) : base(source, lines)
    {
    }

    public override NotifyCode Code => NotifyCode.ParkList;
}

/// <summary>Once a second per station.</summary>
public sealed class Heartbeat : Notification
{
    internal Heartbeat(QapiObject source) : base(source)
    {
    }

    public override NotifyCode Code => NotifyCode.Heartbeat;
}
