using System.Text;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>State of a feed in its status notification (QAPI_CMDR_RUNNING, QAPI_CMDR_FAILED).</summary>
public enum FeedState
{
    Running = 1,
    Failed = 2,
}

/// <summary>A feed's state as the library reported it (it reports a failure, once).</summary>
public sealed class FeedStatus : Notification
{
    internal FeedStatus(QapiObject source, int state, string? text) : base(source)
    {
        State = (FeedState)state;
        Text = text;
    }

    public override NotifyCode Code => NotifyCode.CmdrStatus;
    public FeedState State { get; }
    public string? Text { get; }
}

/// <summary>
/// One call record.  Kinds 1 and 2 ('B', 'C') carry <see cref="Text"/>, the
/// others the three dial texts; what a kind does not fill is "" (numbers -1).
/// The record keeps the payload's bytes; its texts are decoded when read.
/// </summary>
public sealed class CallRecord : Notification
{
    private readonly QapiCmdrRecordPayload _raw;
    private readonly Encoding _encoding;

    internal CallRecord(QapiObject source, in QapiCmdrRecordPayload raw, Encoding encoding) : base(source)
    {
        _raw = raw;
        _encoding = encoding;
    }

    public override NotifyCode Code => NotifyCode.CmdrRecord;

    public char KindLetter => (char)_raw.kindLetter;

    /// <summary>0 to 63: <see cref="KindLetter"/> - 'A'.</summary>
    public int Kind => _raw.kindLetter - 'A';
    public int Second => _raw.second;
    public int Minute => _raw.minute;
    public int Hour => _raw.hour;
    public int Day => _raw.day;
    public int Month => _raw.month;
    public int Year => _raw.year;
    public uint Duration => _raw.duration;
    public int NumberA => _raw.numberA;
    public int NumberB => _raw.numberB;
    public int NumberC => _raw.numberC;
    public string TextA => HasOneText ? string.Empty : Decode(0, 32);
    public string TextB => HasOneText ? string.Empty : Decode(32, 32);
    public string TextC => HasOneText ? string.Empty : Decode(64, 32);
    public string Text => HasOneText ? Decode(0, QapiCmdrDialTexts.Size) : string.Empty;
    public uint WordA => _raw.wordA;
    public uint WordB => _raw.wordB;
    public uint ValueA => _raw.valueA;
    public uint ValueB => _raw.valueB;
    public unsafe string AddressText
    {
        get
        {
            QapiCmdrRecordPayload raw = _raw;
            return TextCodec.FromNative(_encoding, raw.addressText, 48);
        }
    }
    public uint NumberD => _raw.numberD;
    public unsafe string ServerAddressText
    {
        get
        {
            QapiCmdrRecordPayload raw = _raw;
            return TextCodec.FromNative(_encoding, raw.serverAddressText, 48);
        }
    }

    private bool HasOneText => _raw.kindLetter is (byte)'B' or (byte)'C';

    private unsafe string Decode(int offset, int limit)
    {
        QapiCmdrRecordPayload raw = _raw;
        return TextCodec.FromNative(_encoding, raw.texts.textA + offset, limit);
    }
}
