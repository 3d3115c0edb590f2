#include "core/notify.h"

#include "core/scratch.h"

namespace qapi {

int postNotify(const NotifyTarget &target, NotifyCode code, intptr_t param) {
    if (target.window != 0) return qmsgPostMessage(target.window, QAPI_NOTIFY_MSG, code, param);
    if (target.thread != 0) return qmsgPostThreadMessage(target.thread, QAPI_NOTIFY_MSG, code, param);
    return 0;
}

int postToWindow(QWindow window, NotifyCode code, intptr_t param) {
    return qmsgPostMessage(window, QAPI_NOTIFY_MSG, code, param);
}

void postStatus(QWindow window, NotifyCode code, int32_t state, const char *statusText) {
    if (window == 0) return;
    // Arena blocks start on 4-byte boundaries, but the payload holds a
    // pointer, which a 64-bit build aligns to 8: cut the slack and align
    // inside the block (a 32-bit build cuts exactly 8 bytes).
    constexpr size_t kAlign = alignof(StatusPayload);
    static_assert(kAlign >= 4 && (kAlign & (kAlign - 1)) == 0);
    uintptr_t at = reinterpret_cast<uintptr_t>(cutScratch(sizeof(StatusPayload) + kAlign - 4));
    at = (at + kAlign - 1) & ~static_cast<uintptr_t>(kAlign - 1);
    auto *payload = reinterpret_cast<StatusPayload *>(at);
    payload->state = state;
    payload->statusText = statusText;
    postToWindow(window, code, reinterpret_cast<intptr_t>(payload));
}

}  // namespace qapi
