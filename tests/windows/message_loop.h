// The suites' message functions on Windows: the names of qmsg.h over the
// real message queue that the library posts to.  Windows are message-only
// windows of the calling thread; the manual clock is the library's internal
// timer clock (platform/win32/tick_clock.h).
#pragma once

#include <windows.h>

#include <cstdint>

using QWindow = HWND;
using QThreadId = DWORD;

struct QMessage {
    QWindow window;  // null for a thread message
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

QWindow qmsgCreateWindow();
void qmsgDestroyWindow(QWindow window);
// Gives the calling thread a message queue, so that thread messages reach it.
QThreadId qmsgCurrentThreadId();
// 1 = a message was taken, 0 = none (within timeoutMs; < 0 waits for ever).
// Timer messages are dispatched on the way, so the tick runs as in any
// application's loop.
int qmsgGetMessage(QMessage *out, int timeoutMs);
int qmsgPeekMessage(QMessage *out);
// Non-zero when queued (PostMessageA), 0 when refused.
int qmsgPostMessage(QWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void qmsgUseManualClock(int on);
void qmsgAdvanceClock(uint32_t ms);
