#include "core/notify.h"

#include "core/budget.h"
#include "core/scratch.h"
#include "platform/messaging.h"

namespace qapi {

int postNotify(const NotifyTarget &target, NotifyCode code, intptr_t param) {
    if (targetIsEmpty(target)) return 0;
    budgetCountPosts(1);
    if (target.window != 0) return plat::postToWindow(target.window, QAPI_NOTIFY_MSG, code, param);
    if (target.thread != 0) return plat::postToThread(target.thread, QAPI_NOTIFY_MSG, code, param);
    return 0;
}

int postToWindow(QapiWindow window, NotifyCode code, intptr_t param) {
    budgetCountPosts(1);
    return plat::postToWindow(window, QAPI_NOTIFY_MSG, code, param);
}

size_t postManyToWindow(QapiWindow window, NotifyCode code, const intptr_t *params, size_t count) {
    budgetCountPosts(static_cast<uint32_t>(count));
    return plat::postManyToWindow(window, QAPI_NOTIFY_MSG, code, params, count);
}

void postStatus(QapiWindow window, NotifyCode code, int32_t state, const char *statusText) {
    if (window == 0) return;
    auto *payload = cutScratchFor<StatusPayload>();
    payload->state = state;
    payload->statusText = statusText;
    postToWindow(window, code, reinterpret_cast<intptr_t>(payload));
}

}  // namespace qapi
