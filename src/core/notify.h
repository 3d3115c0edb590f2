// Notifications: every message the library posts carries QAPI_NOTIFY_MSG, a
// QapiNotifyCode in wParam and an integer or payload pointer in lParam.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qapi.h"

namespace qapi {

using NotifyCode = QapiNotifyCode;
using StatusPayload = QapiStatusPayload;

// Who receives a handle's notifications.  A station client has one of the
// two; a feed or adjunct link a window only.
struct NotifyTarget {
    QapiWindow window;
    QapiThreadId thread;
};

inline bool targetIsEmpty(const NotifyTarget &t) { return t.window == 0 && t.thread == 0; }

// Station client notifications: to the window if there is one, else to the
// thread, else nowhere (returns 0).  A refused post is lost without report.
int postNotify(const NotifyTarget &target, NotifyCode code, intptr_t param);
// Feed and adjunct notifications go to the window only, even window 0 (which
// the platform delivers to the posting thread's own queue).
int postToWindow(QapiWindow window, NotifyCode code, intptr_t param);
// Several notifications of one code to one window, in order; how many were
// queued.
size_t postManyToWindow(QapiWindow window, NotifyCode code, const intptr_t *params, size_t count);
// Cuts an 8-byte StatusPayload, fills it and posts it when the window is set.
void postStatus(QapiWindow window, NotifyCode code, int32_t state, const char *statusText);

}  // namespace qapi
