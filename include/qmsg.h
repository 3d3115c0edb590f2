/*
 * qmsg.h - the message layer through which QapiDll talks to its application.
 *
 * The library posts every notification as a message to a window or to a
 * thread, and runs its 100 ms timer inside the message loop of the thread
 * that initialised it.  On Windows the real platform provides this model; on
 * other systems this layer does.
 *
 * Rules:
 *  - a post returns non-zero when queued and 0 when refused (unknown window
 *    or thread, or the target queue holds 10,000 messages); it never blocks
 *    and never runs the receiver's code;
 *  - posting to window 0 queues on the poster's own thread with window 0, as
 *    does a thread message;
 *  - messages to one target arrive in the order posted; any thread may post;
 *  - timer callbacks run only on the thread that created the timer, inside
 *    qmsgGetMessage / qmsgPeekMessage (real clock) or qmsgAdvanceClock
 *    (manual clock), never during another callback.
 *
 * A program that runs its own event loop (epoll, poll, select, asyncio, GLib
 * ...) instead of waiting in qmsgGetMessage watches the thread's queue
 * descriptor and takes what waits with qmsgPeekMessage:
 *
 *     int fd = qmsgQueueFd();          -- on the thread whose queue it is
 *     ...add fd to the loop, for reading...
 *     when fd is readable:
 *         QMessage m;
 *         while (qmsgPeekMessage(&m)) handle(&m);
 *
 * qmsgPeekMessage fires the thread's due timers and takes its messages, so
 * the library's 100 ms timer runs there too.  Taking one message per wake-up
 * also works (the descriptor stays readable while more wait), except with an
 * edge-triggered loop, which must take until qmsgPeekMessage returns 0.
 *
 * Plain C, usable from C99 and C++.
 */
#ifndef QMSG_H
#define QMSG_H

#include <stdint.h>

#if defined(_WIN32)
#define QMSG_EXPORT __declspec(dllexport)
#else
#define QMSG_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t QWindow;   /* 0 = none */
typedef uint32_t QThreadId; /* 0 = none */

typedef struct QMessage {
    QWindow window; /* 0 for a thread message */
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
} QMessage;

/* Windows belong to the thread that creates them: posts land in its queue. */
QMSG_EXPORT QWindow qmsgCreateWindow(void);
QMSG_EXPORT void qmsgDestroyWindow(QWindow window);

/* The calling thread's id; never 0.  Calling it gives the thread a queue. */
QMSG_EXPORT QThreadId qmsgCurrentThreadId(void);

QMSG_EXPORT int qmsgPostMessage(QWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
QMSG_EXPORT int qmsgPostThreadMessage(QThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam);

/* 1 = a message was taken, 0 = timed out.  timeoutMs < 0 waits for ever. */
QMSG_EXPORT int qmsgGetMessage(QMessage *out, int timeoutMs);
/* 1 = a message was taken, 0 = none waiting.  Never waits. */
QMSG_EXPORT int qmsgPeekMessage(QMessage *out);

/*
 * The calling thread's queue descriptor: readable exactly while a message
 * waits for the thread or one of its timers is due (on the real clock; with
 * the manual clock on, only qmsgAdvanceClock fires timers and they never make
 * it readable).  Never read, write or close it: the layer keeps it in step
 * and closes it when the thread ends.  The same descriptor on every call; -1
 * when the system refused the descriptors.  It costs nothing to a thread
 * that never asks for it.
 */
QMSG_EXPORT int qmsgQueueFd(void);

/* Milliseconds until the calling thread's next timer is due, 0 when one is
 * due now, -1 when the thread has none (counted on the manual clock while it
 * is on).  For loops that wait with a time-out of their own instead of
 * watching the descriptor for timers. */
QMSG_EXPORT int qmsgNextTimeout(void);

/* Periodic timer of the calling thread; returns its id, never 0. */
QMSG_EXPORT uint32_t qmsgSetTimer(uint32_t periodMs, void (*callback)(void));
QMSG_EXPORT void qmsgKillTimer(uint32_t timerId);

/* With the manual clock on, time moves only through qmsgAdvanceClock, which
 * fires the calling thread's due timers in order, synchronously: for tests,
 * and for a program that decides itself when the library's tick may run
 * (qapi-cdr runs it only while a tick's records have somewhere to go).  The
 * clock is the process's: every thread's timers follow it. */
QMSG_EXPORT void qmsgUseManualClock(int on);
QMSG_EXPORT void qmsgAdvanceClock(uint32_t ms);

#ifdef __cplusplus
}
#endif

#endif /* QMSG_H */
