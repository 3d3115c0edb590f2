using System;
using System.ComponentModel;
using System.Runtime.InteropServices;
using Quentara.Qapi.Native;

namespace Quentara.Qapi.Pump;

/// <summary>
/// The pump on Windows: a message loop (GetMessage, DispatchMessage) on a
/// thread of its own, which no modal loop of the application can eat into.
/// Each handle's notifications go to a message-only window of this thread;
/// the library's timer (SetTimer on this thread) runs in DispatchMessage.  A
/// call wakes the loop with a message to the pump's own window; should the
/// queue be full, the call still runs after the next message or tick.
/// </summary>
internal sealed unsafe class Win32Pump : MessagePump
{
    private const uint WakeMessage = Win32Imports.WmApp + 1;
    private IntPtr _pumpWindow;

    internal Win32Pump(INotificationSink sink) : base(sink)
    {
    }

    internal override IntPtr CreateWindow()
    {
        fixed (char* className = "STATIC")
        fixed (char* name = "")
        {
            IntPtr window = Win32Imports.CreateWindowExW(0, className, name, 0, 0, 0, 0, 0, Win32Imports.HwndMessage, 0, 0, 0);
            if (window == IntPtr.Zero)
            {
                throw new Win32Exception(Marshal.GetLastWin32Error(), "CreateWindowEx");
            }
            return window;
        }
    }

    internal override void DestroyWindow(IntPtr window) => Win32Imports.DestroyWindow(window);

    protected override int TakeMessages(int limit)
    {
        // Windows has no descriptor to test: what waits now is taken by
        // posting a marker to the pump window and handling every message
        // before it.
        const uint Marker = Win32Imports.WmApp + 2;
        if (Win32Imports.PostMessageW(_pumpWindow, Marker, 0, 0) == 0)
        {
            return 0;
        }
        Win32Message message;
        int taken = 0;
        while (Win32Imports.GetMessageW(&message, 0, 0, 0) > 0)
        {
            if (message.hwnd == _pumpWindow && message.message == Marker)
            {
                break;
            }
            taken++;
            Handle(&message);
        }
        return taken;
    }

    protected override void OpenQueue() => _pumpWindow = CreateWindow();

    protected override void CloseQueue()
    {
        if (_pumpWindow != IntPtr.Zero)
        {
            Win32Imports.DestroyWindow(_pumpWindow);
            _pumpWindow = IntPtr.Zero;
        }
    }

    protected override void Loop()
    {
        Win32Message message;
        while (RunWork() && Win32Imports.GetMessageW(&message, 0, 0, 0) > 0)
        {
            Handle(&message);
        }
    }

    protected override void Signal() => Win32Imports.PostMessageW(_pumpWindow, WakeMessage, 0, 0);

    private void Handle(Win32Message* message)
    {
        if (message->message == NotifyMessage && message->hwnd != IntPtr.Zero)
        {
            Sink.OnMessage(message->hwnd, message->message, message->wParam, message->lParam);
        }
        else if (message->hwnd != _pumpWindow)
        {
            Win32Imports.DispatchMessageW(message);
        }
    }
}
