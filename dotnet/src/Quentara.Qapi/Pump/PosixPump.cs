using System;
using System.ComponentModel;
using System.Runtime.InteropServices;
using Quentara.Qapi.Native;

namespace Quentara.Qapi.Pump;

/// <summary>
/// The pump on the Linux message layer: it waits in poll(2) on the thread's
/// queue descriptor (readable while a message waits or the tick is due) and
/// on an eventfd that other threads write when they hand it a call, and
/// takes messages with qmsgPeekMessage, which also runs the library's timer.
/// Calls never go through the library's queue, so a full queue cannot hold
/// them up.
/// </summary>
internal sealed unsafe class PosixPump : MessagePump
{
    private int _queueFd = -1;
    private int _wakeFd = -1;

    internal PosixPump(INotificationSink sink) : base(sink)
    {
    }

    internal override IntPtr CreateWindow() => (IntPtr)PosixImports.qmsgCreateWindow();

    internal override void DestroyWindow(IntPtr window) => PosixImports.qmsgDestroyWindow((uint)window);

    protected override int TakeMessages(int limit)
    {
        QMessage message;
        int taken = 0;
        while (taken < limit && PosixImports.qmsgPeekMessage(&message) == 1)
        {
            taken++;
            Sink.OnMessage((IntPtr)message.window, message.message, message.wParam, message.lParam);
        }
        return taken;
    }

    internal override void LibraryStarted() => _queueFd = PosixImports.qmsgQueueFd();

    internal override void UseManualClock(bool on) => PosixImports.qmsgUseManualClock(on ? 1 : 0);

    internal override void AdvanceClock(uint milliseconds) => PosixImports.qmsgAdvanceClock(milliseconds);

    protected override void OpenQueue()
    {
        _wakeFd = PosixImports.eventfd(0, PosixImports.EfdNonblock | PosixImports.EfdCloexec);
        if (_wakeFd < 0)
        {
            throw new Win32Exception(Marshal.GetLastWin32Error(), "eventfd");
        }
    }

    protected override void CloseQueue()
    {
        if (_wakeFd >= 0)
        {
            PosixImports.close(_wakeFd);
            _wakeFd = -1;
        }
    }

    protected override void Loop()
    {
        // Until the library is initialised (the first call) only calls are waited for.
        var fds = stackalloc PollFd[2];
        while (RunWork())
        {
            if (_queueFd >= 0 && DrainMessages(MessagesPerTurn) == MessagesPerTurn)
            {
                continue;
            }
            fds[0] = new PollFd { fd = _wakeFd, events = PosixImports.PollIn };
            fds[1] = new PollFd { fd = _queueFd, events = PosixImports.PollIn };
            if (PosixImports.poll(fds, _queueFd >= 0 ? 2u : 1u, -1) > 0 && fds[0].revents != 0)
            {
                ulong count;
                PosixImports.read(_wakeFd, &count, sizeof(ulong));
            }
        }
    }

    protected override void Signal()
    {
        ulong one = 1;
        PosixImports.write(_wakeFd, &one, sizeof(ulong));
    }
}
