using System.Runtime.InteropServices;

namespace Quentara.Qapi.Native;

// The payload records of qapi.h, field for field under their C names, in the
// C compiler's natural layout: pointers (nint) are 4 bytes in a 32-bit
// process and 8 in a 64-bit one, and the fields after them move with them.
// The tests hold every offset and size against the C compiler's, for both.

[StructLayout(LayoutKind.Sequential)]
internal struct QapiStatusPayload
{
    public int state;
    public nint statusText;
}

[StructLayout(LayoutKind.Sequential)]
internal unsafe struct QapiStatusSnapshot
{
    public int regState;
    public nint statusText;
    public byte callState;
    public fixed byte reserved1[3];
    public int eventValue;
    public int infoValue;
    public byte canNewcall;
    public byte canDigits;
    public byte isAlerting;
    public byte canAnswer;
    public byte canClear;
    public byte canHold;
    public byte canRetrieve;
    public byte canCallback;
    public byte canSuspend;
    public byte canConference;
    public byte canTransfer;
    public byte canRecordStart;
    public byte canRecordStop;
    public byte canMailbox;
    public byte canPickup;
    public byte indicator1;
    public byte indicator2;
    public byte indicator3;
    public fixed byte reserved2[2];
    public int stationId;
    public fixed int regValues[4];
    public short regShort;
    public fixed byte reserved3[2];
}

[StructLayout(LayoutKind.Sequential)]
internal struct QapiExtensionStatus
{
    public int extension;
    public int status;
}

/// <summary>QapiLineList: 33 text pointers, NULL after the last line.</summary>
internal static class QapiLineList
{
    public const int Slots = 33;
    public const int TextBlock = 128;
}

/// <summary>The dial-text member of the QapiCmdrTexts union; its other member is one text of 96 bytes at the same place.</summary>
[StructLayout(LayoutKind.Sequential)]
internal unsafe struct QapiCmdrDialTexts
{
    public const int Size = 96;
    public fixed byte textA[32];
    public fixed byte textB[32];
    public fixed byte textC[32];
}

[StructLayout(LayoutKind.Sequential)]
internal unsafe struct QapiCmdrRecordPayload
{
    public byte kindLetter;
    public byte reserved1;
    public ushort second;
    public ushort minute;
    public ushort hour;
    public ushort day;
    public ushort month;
    public ushort year;
    public ushort reserved2;
    public uint duration;
    public int numberA;
    public int numberB;
    public int numberC;
    public QapiCmdrDialTexts texts;
    public uint wordA;
    public uint wordB;
    public uint valueA;
    public uint valueB;
    public fixed byte addressText[48];
    public uint numberD;
    public fixed byte reserved3[16];
    public fixed byte serverAddressText[48];
}

[StructLayout(LayoutKind.Sequential)]
internal unsafe struct QapiRouteRequestPayload
{
    public uint handle;
    public ushort second;
    public ushort minute;
    public ushort hour;
    public ushort day;
    public ushort month;
    public ushort year;
    public int numberB;
    public int numberA;
    public fixed byte textA[32];
    public fixed byte textB[32];
}
