// The library's messages and tick timer on the Windows API.  Notifications
// are posted with PostMessageA and PostThreadMessageA to the application's
// own windows and threads; the tick is a thread timer without a window
// (SetTimer(NULL, 0, period, callback)), so it fires inside the message loop
// of the thread that initialised the library, whichever loop that is.
#include <windows.h>

#include "../messaging.h"
#include "tick_clock.h"

namespace qapi::plat {
namespace {

// The library runs one timer at a time: its callback, and the manual clock of
// the tests.  A thread timer's procedure receives no context of its own.
struct TimerState {
    TimerId id = 0;
    void (*callback)(void) = nullptr;
    uint32_t period = 0;
    bool manual = false;
    bool inCallback = false;
    uint64_t manualNow = 0;
    uint64_t manualDue = 0;
};

TimerState timer;

void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
    if (timer.manual || id != timer.id || !timer.callback) return;
    timer.callback();
}

}  // namespace

int postToWindow(QapiWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return PostMessageA(window, message, wParam, lParam) ? 1 : 0;
}

size_t postManyToWindow(QapiWindow window, uint32_t message, uintptr_t wParam, const intptr_t *lParams,
                        size_t count) {
    size_t queued = 0;
    for (size_t i = 0; i < count; ++i) queued += postToWindow(window, message, wParam, lParams[i]) ? 1 : 0;
    return queued;
}

int postToThread(QapiThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return PostThreadMessageA(thread, message, wParam, lParam) ? 1 : 0;
}

TimerId startTimer(uint32_t periodMs, void (*callback)(void)) {
    const TimerId id = SetTimer(nullptr, 0, periodMs, onTimer);
    if (id == 0) return 0;
    timer.id = id;
    timer.callback = callback;
    timer.period = periodMs;
    timer.manualDue = timer.manualNow + periodMs;
    return id;
}

void stopTimer(TimerId id) {
    KillTimer(nullptr, id);
    if (id != timer.id) return;
    timer.id = 0;
    timer.callback = nullptr;
    timer.period = 0;
}

void useManualTimerClock(bool on) {
    timer.manual = on;
    timer.manualDue = timer.manualNow + timer.period;
}

void advanceTimerClock(uint32_t ms) {
    // Time stands still inside the callback, as it does for a real timer.
    if (!timer.manual || timer.inCallback) return;
    const uint64_t target = timer.manualNow + ms;
    while (timer.callback && timer.period != 0 && timer.manualDue <= target) {
        timer.manualNow = timer.manualDue;
        timer.manualDue += timer.period;
        timer.inCallback = true;
        timer.callback();
        timer.inCallback = false;
    }
    timer.manualNow = target;
}

}  // namespace qapi::plat
