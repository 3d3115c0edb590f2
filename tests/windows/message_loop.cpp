#include "windows/message_loop.h"

#include "platform/win32/tick_clock.h"

namespace {

const char kWindowClass[] = "QapiTestWindow";

void registerWindowClass() {
    static const bool registered = [] {
        WNDCLASSA c{};
        c.lpfnWndProc = DefWindowProcA;
        c.hInstance = GetModuleHandleA(nullptr);
        c.lpszClassName = kWindowClass;
        return RegisterClassA(&c) != 0;
    }();
    (void)registered;
}

}  // namespace

QWindow qmsgCreateWindow() {
    registerWindowClass();
    return CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

void qmsgDestroyWindow(QWindow window) { DestroyWindow(window); }

QThreadId qmsgCurrentThreadId() {
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
    return GetCurrentThreadId();
}

int qmsgPeekMessage(QMessage *out) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_TIMER) {
            DispatchMessageA(&m);
            continue;
        }
        *out = QMessage{m.hwnd, m.message, m.wParam, m.lParam};
        return 1;
    }
    return 0;
}

int qmsgGetMessage(QMessage *out, int timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (qmsgPeekMessage(out)) return 1;
        DWORD wait = INFINITE;
        if (timeoutMs >= 0) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= static_cast<DWORD>(timeoutMs)) return 0;
            wait = static_cast<DWORD>(timeoutMs) - spent;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

void qmsgUseManualClock(int on) { qapi::plat::useManualTimerClock(on != 0); }

void qmsgAdvanceClock(uint32_t ms) { qapi::plat::advanceTimerClock(ms); }

int qmsgPostMessage(QWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return PostMessageA(window, message, wParam, lParam) ? 1 : 0;
}
