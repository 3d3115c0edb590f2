using System.Runtime.InteropServices;

namespace Quentara.Qapi.Native;

/// <summary>
/// The 29 exports of the library, called only on the pump thread.  Texts are
/// NUL-terminated bytes (see <see cref="TextCodec"/>).  Windows takes HWND
/// windows, the Linux library the message layer's 32-bit window ids: the
/// start functions have one entry of each kind.  On 32-bit Windows every
/// export is __stdcall, which is the platform default of both import kinds.
/// </summary>
internal static unsafe partial class QapiExports
{
    internal const string Library = "qapi";

#if NET8_0_OR_GREATER
    [LibraryImport(Library)] internal static partial int QAPI_Stack_initialize(uint port);
    [LibraryImport(Library)] internal static partial void QAPI_Stack_release();
    [LibraryImport(Library, EntryPoint = "QAPI_Client_start")] internal static partial nint QAPI_Client_start_posix(uint window, int stationId);
    [LibraryImport(Library, EntryPoint = "QAPI_Client_start")] internal static partial nint QAPI_Client_start_win32(nint window, int stationId);
    [LibraryImport(Library)] internal static partial int QAPI_Client_stop(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_newcall(nint client, byte* digits);
    [LibraryImport(Library)] internal static partial int QAPI_Client_digits(nint client, byte* digits);
    [LibraryImport(Library)] internal static partial int QAPI_Client_answer(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_clear(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_hold(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_retrieve(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_callb(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_suspend(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_conference(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_transfer(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_record_start(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_record_stop(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_mailbox(nint client);
    [LibraryImport(Library)] internal static partial int QAPI_Client_transfer_undo(nint client, byte* number);
    [LibraryImport(Library)] internal static partial int QAPI_Client_deflect(nint client, byte* digits);
    [LibraryImport(Library)] internal static partial int QAPI_Client_bdp_register(nint client, int extension, int on);
    [LibraryImport(Library)] internal static partial int QAPI_Client_bdp_answer(nint client, int extension);
    [LibraryImport(Library)] internal static partial int QAPI_Client_bdp_intrude(nint client, int extension);
    [LibraryImport(Library)] internal static partial int QAPI_Client_resume(nint client, int key);
    [LibraryImport(Library, EntryPoint = "QAPI_Cmdr_start")] internal static partial nint QAPI_Cmdr_start_posix(uint window, byte* host, uint port);
    [LibraryImport(Library, EntryPoint = "QAPI_Cmdr_start")] internal static partial nint QAPI_Cmdr_start_win32(nint window, byte* host, uint port);
    [LibraryImport(Library)] internal static partial int QAPI_Cmdr_stop(nint feed);
    [LibraryImport(Library, EntryPoint = "QAPI_Adjunct_start")] internal static partial nint QAPI_Adjunct_start_posix(uint window, byte* host, uint port);
    [LibraryImport(Library, EntryPoint = "QAPI_Adjunct_start")] internal static partial nint QAPI_Adjunct_start_win32(nint window, byte* host, uint port);
    [LibraryImport(Library)] internal static partial int QAPI_Adjunct_stop(nint link);
    [LibraryImport(Library)] internal static partial int QAPI_Adjunct_response(nint link, uint handle, byte* digits, int value);
#else
    [DllImport(Library)] internal static extern int QAPI_Stack_initialize(uint port);
    [DllImport(Library)] internal static extern void QAPI_Stack_release();
    [DllImport(Library, EntryPoint = "QAPI_Client_start")] internal static extern nint QAPI_Client_start_posix(uint window, int stationId);
    [DllImport(Library, EntryPoint = "QAPI_Client_start")] internal static extern nint QAPI_Client_start_win32(nint window, int stationId);
    [DllImport(Library)] internal static extern int QAPI_Client_stop(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_newcall(nint client, byte* digits);
    [DllImport(Library)] internal static extern int QAPI_Client_digits(nint client, byte* digits);
    [DllImport(Library)] internal static extern int QAPI_Client_answer(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_clear(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_hold(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_retrieve(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_callb(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_suspend(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_conference(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_transfer(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_record_start(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_record_stop(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_mailbox(nint client);
    [DllImport(Library)] internal static extern int QAPI_Client_transfer_undo(nint client, byte* number);
    [DllImport(Library)] internal static extern int QAPI_Client_deflect(nint client, byte* digits);
    [DllImport(Library)] internal static extern int QAPI_Client_bdp_register(nint client, int extension, int on);
    [DllImport(Library)] internal static extern int QAPI_Client_bdp_answer(nint client, int extension);
    [DllImport(Library)] internal static extern int QAPI_Client_bdp_intrude(nint client, int extension);
    [DllImport(Library)] internal static extern int QAPI_Client_resume(nint client, int key);
    [DllImport(Library, EntryPoint = "QAPI_Cmdr_start")] internal static extern nint QAPI_Cmdr_start_posix(uint window, byte* host, uint port);
    [DllImport(Library, EntryPoint = "QAPI_Cmdr_start")] internal static extern nint QAPI_Cmdr_start_win32(nint window, byte* host, uint port);
    [DllImport(Library)] internal static extern int QAPI_Cmdr_stop(nint feed);
    [DllImport(Library, EntryPoint = "QAPI_Adjunct_start")] internal static extern nint QAPI_Adjunct_start_posix(uint window, byte* host, uint port);
    [DllImport(Library, EntryPoint = "QAPI_Adjunct_start")] internal static extern nint QAPI_Adjunct_start_win32(nint window, byte* host, uint port);
    [DllImport(Library)] internal static extern int QAPI_Adjunct_stop(nint link);
    [DllImport(Library)] internal static extern int QAPI_Adjunct_response(nint link, uint handle, byte* digits, int value);
#endif
}
