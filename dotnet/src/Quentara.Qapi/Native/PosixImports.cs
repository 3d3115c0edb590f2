using System.Runtime.InteropServices;

namespace Quentara.Qapi.Native;

/// <summary>QMessage of qmsg.h.</summary>
[StructLayout(LayoutKind.Sequential)]
internal struct QMessage
{
    public uint window;
    public uint message;
    public nuint wParam;
    public nint lParam;
}

/// <summary>pollfd of poll(2).</summary>
[StructLayout(LayoutKind.Sequential)]
internal struct PollFd
{
    public int fd;
    public short events;
    public short revents;
}

/// <summary>
/// The message layer of the Linux library (qmsg.h) and the few C library
/// calls with which the pump waits: poll on the thread's queue descriptor and
/// on an eventfd that wakes it for calls.
/// </summary>
internal static unsafe partial class PosixImports
{
    internal const short PollIn = 0x001;
    internal const int EfdNonblock = 0x800;
    internal const int EfdCloexec = 0x80000;
    private const string Libc = "libc";

#if NET8_0_OR_GREATER
    [LibraryImport(QapiExports.Library)] internal static partial uint qmsgCreateWindow();
    [LibraryImport(QapiExports.Library)] internal static partial void qmsgDestroyWindow(uint window);
    [LibraryImport(QapiExports.Library)] internal static partial int qmsgPeekMessage(QMessage* message);
    [LibraryImport(QapiExports.Library)] internal static partial int qmsgQueueFd();
    [LibraryImport(QapiExports.Library)] internal static partial void qmsgUseManualClock(int on);
    [LibraryImport(QapiExports.Library)] internal static partial void qmsgAdvanceClock(uint ms);
    [LibraryImport(Libc, SetLastError = true)] internal static partial int poll(PollFd* fds, nuint count, int timeoutMs);
    [LibraryImport(Libc, SetLastError = true)] internal static partial int eventfd(uint initial, int flags);
    [LibraryImport(Libc)] internal static partial nint read(int fd, void* buffer, nuint count);
    [LibraryImport(Libc)] internal static partial nint write(int fd, void* buffer, nuint count);
    [LibraryImport(Libc)] internal static partial int close(int fd);
#else
    [DllImport(QapiExports.Library)] internal static extern uint qmsgCreateWindow();
    [DllImport(QapiExports.Library)] internal static extern void qmsgDestroyWindow(uint window);
    [DllImport(QapiExports.Library)] internal static extern int qmsgPeekMessage(QMessage* message);
    [DllImport(QapiExports.Library)] internal static extern int qmsgQueueFd();
    [DllImport(QapiExports.Library)] internal static extern void qmsgUseManualClock(int on);
    [DllImport(QapiExports.Library)] internal static extern void qmsgAdvanceClock(uint ms);
    [DllImport(Libc, SetLastError = true)] internal static extern int poll(PollFd* fds, nuint count, int timeoutMs);
    [DllImport(Libc, SetLastError = true)] internal static extern int eventfd(uint initial, int flags);
    [DllImport(Libc)] internal static extern nint read(int fd, void* buffer, nuint count);
    [DllImport(Libc)] internal static extern nint write(int fd, void* buffer, nuint count);
    [DllImport(Libc)] internal static extern int close(int fd);
#endif
}
