// The library's messages and tick timer on the message layer of qmsg.h.
#include "../messaging.h"

namespace qapi::plat {

int postToWindow(QapiWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return qmsgPostMessage(window, message, wParam, lParam);
}

int postToThread(QapiThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return qmsgPostThreadMessage(thread, message, wParam, lParam);
}

TimerId startTimer(uint32_t periodMs, void (*callback)(void)) { return qmsgSetTimer(periodMs, callback); }

void stopTimer(TimerId timer) { qmsgKillTimer(static_cast<uint32_t>(timer)); }

}  // namespace qapi::plat
