// Thread message queues and windows of the POSIX message layer.
//
// Every thread that uses the layer owns one fixed-size queue (allocated once,
// when the thread first uses the layer); a window is only a name for the
// queue of the thread that created it.  Posting copies one QMessage into the
// target ring under the lock and never waits.
#include <chrono>
#include <unordered_map>

#include "../messaging.h"
#include "msg_internal.h"

namespace qapi::plat {
namespace {

struct Registry {
    std::unordered_map<QThreadId, ThreadQueue *> threads;
    std::unordered_map<QWindow, QThreadId> windows;
    QThreadId nextThreadId = 1;
    QWindow nextWindow = 1;
};

Registry &registry() {
    static Registry r;
    return r;
}

// Owns the calling thread's queue; unregisters it (and the thread's windows
// and timers) when the thread ends, so later posts to it are refused.
struct QueueHolder {
    ThreadQueue queue;
    bool registered = false;

    ~QueueHolder() {
        if (!registered) return;
        std::lock_guard<std::mutex> lock(msgMutex());
        Registry &r = registry();
        r.threads.erase(queue.id);
        for (auto it = r.windows.begin(); it != r.windows.end();) {
            it = it->second == queue.id ? r.windows.erase(it) : std::next(it);
        }
        dropThreadTimers(queue.id);
        closeSignal(queue);
    }
};

thread_local QueueHolder tlsQueue;

bool push(ThreadQueue &q, const QMessage &m) {
    if (q.count >= kQueueCapacity) return false;
    q.ring[(q.first + q.count) % kQueueCapacity] = m;
    if (++q.count == 1 && q.signal.event >= 0) raiseMessageSignal(q);
    q.wake.notify_one();
    return true;
}

bool pop(ThreadQueue &q, QMessage *out) {
    if (q.count == 0) return false;
    if (out) *out = q.ring[q.first];
    q.first = (q.first + 1) % kQueueCapacity;
    if (--q.count == 0 && q.signal.event >= 0) lowerMessageSignal(q);
    return true;
}

void timersChanged(ThreadQueue &q) {
    q.wake.notify_one();
    rearmTimerSignal(q);
}

ThreadQueue *queueOf(QThreadId id) {
    auto it = registry().threads.find(id);
    return it == registry().threads.end() ? nullptr : it->second;
}

// Waits for a message on the calling thread, running its due timers, until
// `deadline` (steady milliseconds; UINT64_MAX = for ever).
int waitMessage(QMessage *out, uint64_t deadline) {
    ThreadQueue &q = currentQueue();
    std::unique_lock<std::mutex> lock(msgMutex());
    for (;;) {
        if (pop(q, out)) return 1;
        if (!manualClock() && !inTimerCallback()) {
            if (void (*callback)(void) = takeDueTimer(q.id, steadyMs())) {
                rearmTimerSignal(q);
                lock.unlock();
                inTimerCallback() = true;
                callback();
                inTimerCallback() = false;
                lock.lock();
                continue;
            }
        }
        const uint64_t now = steadyMs();
        uint64_t wakeAt = deadline;
        if (!manualClock() && !inTimerCallback()) {
            const uint64_t due = nextTimerDue(q.id);
            if (due < wakeAt) wakeAt = due;
        }
        if (wakeAt == deadline && now >= deadline) return 0;
        if (wakeAt == UINT64_MAX) {
            q.wake.wait(lock);
        } else if (wakeAt > now) {
            q.wake.wait_for(lock, std::chrono::milliseconds(wakeAt - now));
        }
    }
}

}  // namespace

std::mutex &msgMutex() {
    static std::mutex m;
    return m;
}

ThreadQueue &currentQueue() {
    QueueHolder &h = tlsQueue;
    if (!h.registered) {
        std::lock_guard<std::mutex> lock(msgMutex());
        h.queue.ring = std::make_unique<QMessage[]>(kQueueCapacity);
        h.queue.id = registry().nextThreadId++;
        registry().threads[h.queue.id] = &h.queue;
        h.registered = true;
    }
    return h.queue;
}

size_t postManyToWindow(QapiWindow window, uint32_t message, uintptr_t wParam, const intptr_t *lParams,
                        size_t count) {
    // Window 0: the poster's own queue, made before the lock is taken.
    ThreadQueue *q = window == 0 ? &currentQueue() : nullptr;
    std::lock_guard<std::mutex> lock(msgMutex());
    if (!q) {
        auto it = registry().windows.find(window);
        if (it == registry().windows.end()) return 0;
        q = queueOf(it->second);
    }
    size_t queued = 0;
    for (size_t i = 0; q && i < count; ++i)
        queued += push(*q, QMessage{window, message, wParam, lParams[i]}) ? 1 : 0;
    return queued;
}

void timersChanged(QThreadId thread) {
    if (ThreadQueue *q = queueOf(thread)) timersChanged(*q);
}

void allTimersChanged() {
    for (auto &entry : registry().threads) timersChanged(*entry.second);
}

}  // namespace qapi::plat

using namespace qapi::plat;

extern "C" {

QWindow qmsgCreateWindow(void) {
    const QThreadId owner = currentQueue().id;
    std::lock_guard<std::mutex> lock(msgMutex());
    Registry &r = registry();
    QWindow w = r.nextWindow++;
    if (w == 0) w = r.nextWindow++;
    r.windows[w] = owner;
    return w;
}

void qmsgDestroyWindow(QWindow window) {
    std::lock_guard<std::mutex> lock(msgMutex());
    registry().windows.erase(window);
}

QThreadId qmsgCurrentThreadId(void) { return currentQueue().id; }

int qmsgPostMessage(QWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return postManyToWindow(window, message, wParam, &lParam, 1) == 1 ? 1 : 0;
}

int qmsgPostThreadMessage(QThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> lock(msgMutex());
    ThreadQueue *q = queueOf(thread);
    return q && push(*q, QMessage{0, message, wParam, lParam}) ? 1 : 0;
}

int qmsgGetMessage(QMessage *out, int timeoutMs) {
    // The wait always runs on the real clock; with the manual clock on, no
    // timer fires here.
    const uint64_t deadline = timeoutMs < 0 ? UINT64_MAX : steadyMs() + static_cast<uint64_t>(timeoutMs);
    return waitMessage(out, deadline);
}

int qmsgPeekMessage(QMessage *out) { return waitMessage(out, 0); }

}  // extern "C"
