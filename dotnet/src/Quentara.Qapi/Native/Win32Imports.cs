using System.Runtime.InteropServices;

namespace Quentara.Qapi.Native;

/// <summary>MSG of winuser.h.</summary>
[StructLayout(LayoutKind.Sequential)]
internal struct Win32Message
{
    public nint hwnd;
    public uint message;
    public nuint wParam;
    public nint lParam;
    public uint time;
    public int x;
    public int y;
    public uint privateValue;
}

/// <summary>
/// The Windows calls of the pump: message-only windows ("STATIC" class, no
/// window procedure of ours), the thread's message loop, and the posts that
/// wake it for calls.
/// </summary>
internal static unsafe partial class Win32Imports
{
    internal const nint HwndMessage = -3;
    internal const uint WmApp = 0x8000;
    private const string User32 = "user32.dll";
    private const string Kernel32 = "kernel32.dll";

#if NET8_0_OR_GREATER
    [LibraryImport(User32, SetLastError = true)]
    internal static partial nint CreateWindowExW(uint exStyle, char* className, char* windowName, uint style, int x, int y,
        int width, int height, nint parent, nint menu, nint instance, nint param);
    [LibraryImport(User32)] internal static partial int DestroyWindow(nint window);
    [LibraryImport(User32)] internal static partial int GetMessageW(Win32Message* message, nint window, uint first, uint last);
    [LibraryImport(User32)] internal static partial nint DispatchMessageW(Win32Message* message);
    [LibraryImport(User32)] internal static partial int PostMessageW(nint window, uint message, nuint wParam, nint lParam);
    [LibraryImport(Kernel32, SetLastError = true)] internal static partial nint LoadLibraryW(char* path);
#else
    [DllImport(User32, SetLastError = true)]
    internal static extern nint CreateWindowExW(uint exStyle, char* className, char* windowName, uint style, int x, int y,
        int width, int height, nint parent, nint menu, nint instance, nint param);
    [DllImport(User32)] internal static extern int DestroyWindow(nint window);
    [DllImport(User32)] internal static extern int GetMessageW(Win32Message* message, nint window, uint first, uint last);
    [DllImport(User32)] internal static extern nint DispatchMessageW(Win32Message* message);
    [DllImport(User32)] internal static extern int PostMessageW(nint window, uint message, nuint wParam, nint lParam);
    [DllImport(Kernel32, SetLastError = true)] internal static extern nint LoadLibraryW(char* path);
#endif
}
