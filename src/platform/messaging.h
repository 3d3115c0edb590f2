// How the library reaches its application: messages posted to the
// application's windows and threads, and the periodic timer that runs the
// tick on the thread that initialised the library, inside that thread's
// message loop.  Windows provides both itself (win32/); elsewhere the message
// layer of qmsg.h does (posix/).
#pragma once

#include <cstddef>
#include <cstdint>

#include "qapi.h"

namespace qapi::plat {

// A post never blocks and never runs the receiver's code.  Non-zero when
// queued, 0 when refused (unknown target, full queue).
int postToWindow(QapiWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
int postToThread(QapiThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Posts `count` messages to one window, lParams[i] the i-th, in order, as
// postToWindow would one by one (where the platform allows, with one lookup
// of the window); returns how many were queued.
size_t postManyToWindow(QapiWindow window, uint32_t message, uintptr_t wParam, const intptr_t *lParams,
                        size_t count);

// A periodic timer of the calling thread whose callback runs inside that
// thread's message loop.  0 = no timer.
using TimerId = uintptr_t;
TimerId startTimer(uint32_t periodMs, void (*callback)(void));
void stopTimer(TimerId timer);

}  // namespace qapi::plat
