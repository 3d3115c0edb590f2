using System;
using System.Collections.Generic;
using Quentara.Qapi.Native;

namespace Quentara.Qapi;

/// <summary>
/// Copies a notification out of the library's payload into an immutable
/// object.  Runs on the pump thread as the message is taken, long before the
/// library's rotating buffer can reuse the payload.  The static status texts
/// are decoded once per text and kept.
/// </summary>
internal sealed class NotificationDecoder
{
    private const int MaxCachedTexts = 64;
    private readonly TextCodec _codec;
    private readonly Dictionary<IntPtr, string> _staticTexts = new();

    internal NotificationDecoder(TextCodec codec) => _codec = codec;

    internal unsafe Notification Decode(QapiObject source, uint code, IntPtr value)
    {
        switch ((NotifyCode)code)
        {
            case NotifyCode.Key:
                byte key = (byte)value;
                return new Key(source, key == 255 ? null : (char)key);
            case NotifyCode.Digit:
                return new Digit(source, (char)(byte)value);
            case NotifyCode.Heartbeat:
                return new Heartbeat(source);
        }
        if (value == IntPtr.Zero)
        {
            return new UnknownNotification(source, (int)code, 0);
        }
        void* p = (void*)value;
        return (NotifyCode)code switch
        {
            NotifyCode.Snapshot => new Snapshot(source, in *(QapiStatusSnapshot*)p, StaticText(((QapiStatusSnapshot*)p)->statusText)),
            NotifyCode.Number => new Number(source, _codec.FromNative((byte*)p, QapiLineList.TextBlock)),
            NotifyCode.Text => new Text(source, _codec.FromNative((byte*)p, QapiLineList.TextBlock)),
            NotifyCode.Extension => new ExtensionStatus(source, in *(QapiExtensionStatus*)p),
            NotifyCode.CallList => new CallList(source, Lines((IntPtr*)p)),
            NotifyCode.ParkList => new ParkList(source, Lines((IntPtr*)p)),
            NotifyCode.CmdrStatus => new FeedStatus(source, ((QapiStatusPayload*)p)->state, StaticText(((QapiStatusPayload*)p)->statusText)),
            NotifyCode.CmdrRecord => new CallRecord(source, in *(QapiCmdrRecordPayload*)p, _codec.Encoding),
            NotifyCode.AdjunctStatus => new LinkStatus(source, ((QapiStatusPayload*)p)->state, StaticText(((QapiStatusPayload*)p)->statusText)),
            NotifyCode.RouteRequest => new RouteRequest(source, in *(QapiRouteRequestPayload*)p, _codec.Encoding),
            _ => new UnknownNotification(source, (int)code, (long)value),
        };
    }

    private unsafe string[] Lines(IntPtr* slots)
    {
        int count = 0;
        while (count < QapiLineList.Slots && slots[count] != IntPtr.Zero)
        {
            count++;
        }
        if (count == 0)
        {
            return Array.Empty<string>();
        }
        var lines = new string[count];
        for (int i = 0; i < count; i++)
        {
            lines[i] = _codec.FromNative((byte*)slots[i], QapiLineList.TextBlock);
        }
        return lines;
    }

    // Status texts are the library's static texts: a handful of addresses.
    private string? StaticText(IntPtr text)
    {
        if (text == IntPtr.Zero)
        {
            return null;
        }
        if (_staticTexts.TryGetValue(text, out string? known))
        {
            return known;
        }
        string decoded = _codec.FromPointer(text)!;
        if (_staticTexts.Count < MaxCachedTexts)
        {
            _staticTexts[text] = decoded;
        }
        return decoded;
    }
}
