// Posting rules of the notifications.
#include <gtest/gtest.h>

#include "core/notify.h"
#include "core/scratch.h"
#include "support/test_support.h"

namespace qapi {
namespace {

TEST(Notify, StationTargetsTakeTheWindowFirstThenTheThreadElseNothing) {
    const QWindow w = qmsgCreateWindow();
    const QThreadId self = qmsgCurrentThreadId();
    EXPECT_EQ(postNotify({w, self}, QAPI_NOTIFY_HEARTBEAT, 0), 1);
    EXPECT_EQ(postNotify({0, self}, QAPI_NOTIFY_DIGIT, '7'), 1);
    EXPECT_EQ(postNotify({0, 0}, QAPI_NOTIFY_KEY, 1), 0);
    const auto got = test::drainMessages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].window, w);
    EXPECT_EQ(got[0].message, QAPI_NOTIFY_MSG);
    EXPECT_EQ(got[0].wParam, static_cast<uintptr_t>(QAPI_NOTIFY_HEARTBEAT));
    EXPECT_EQ(got[1].window, QWindow{});  // a thread message carries no window
    EXPECT_EQ(got[1].wParam, static_cast<uintptr_t>(QAPI_NOTIFY_DIGIT));
    EXPECT_EQ(got[1].lParam, '7');
    qmsgDestroyWindow(w);
}

TEST(Notify, StatusGoesToTheWindowOnlyWithStateAndText) {
    static const char kText[] = "status";
    const QWindow w = qmsgCreateWindow();
    postStatus(w, QAPI_NOTIFY_ADJUNCT_STATUS, 3, kText);
    postStatus(0, QAPI_NOTIFY_ADJUNCT_STATUS, 4, kText);  // no window: nothing posted
    const auto got = test::drainMessages();
    ASSERT_EQ(got.size(), 1u);
    const auto *p = reinterpret_cast<const StatusPayload *>(got[0].lParam);
    EXPECT_EQ(got[0].wParam, static_cast<uintptr_t>(QAPI_NOTIFY_ADJUNCT_STATUS));
    EXPECT_EQ(p->state, 3);
    EXPECT_EQ(p->statusText, kText);
    qmsgDestroyWindow(w);
}

TEST(Notify, StatusPayloadIsAlignedForItsPointerWhereverTheArenaStands) {
    const QWindow w = qmsgCreateWindow();
    for (size_t shift = 0; shift < 2; ++shift) {
        cutScratch(4 * shift);  // leave the arena on each 4-byte phase
        postStatus(w, QAPI_NOTIFY_CMDR_STATUS, 2, "x");
        const auto got = test::drainMessages();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(static_cast<uintptr_t>(got[0].lParam) % alignof(StatusPayload), 0u);
    }
    qmsgDestroyWindow(w);
}

}  // namespace
}  // namespace qapi
