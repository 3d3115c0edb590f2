// A reader of payloads on a thread of its own, one tick late, as an
// application that hands its messages to another thread may read them.  The
// main thread, as it drains a tick's messages, keeps an image of each
// payload (taken at once) and hands them over as the next tick begins: the
// reader reads every one again while that tick runs, and once it is over
// the main thread reads them a last time.  Before the tick after that, the
// main thread waits for the reader.  A payload that no longer shows its
// image is a difference.  The reader allocates nothing: no tick may see an
// allocation of its.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "qmsg.h"

namespace qapi::soak {

class LateReader {
public:
    LateReader();
    ~LateReader();
    LateReader(const LateReader &) = delete;
    LateReader &operator=(const LateReader &) = delete;

    // Main thread, for every message drained after tick `tick`: the image of
    // its payload, now.
    void take(const QMessage &m, uint32_t tick);
    // Main thread, right before the next tick: waits for the reader to finish
    // what it was handed before, then hands it what was taken since.
    void handOver();
    // Main thread, right after that tick: reads what it handed over once more.
    void lastLook();
    // Main thread, at the end: waits for the reader.
    void finish();

    uint64_t payloadsRead() const { return read_; }
    // Readings that found a payload changed, on the reader's thread and in
    // the last looks; the first of them: the tick after which it was drained
    // and its notification code.
    uint64_t differences() const { return readerDifferences_.count + lastDifferences_.count; }
    uint32_t firstDifferenceTick() const { return first().tick; }
    uintptr_t firstDifferenceCode() const { return first().code; }

private:
    struct Taken {
        QMessage message;
        size_t at, size;  // of its image in the batch's bytes
    };
    struct Batch {
        std::vector<Taken> taken;
        std::vector<uint8_t> bytes;
        size_t used = 0;
        uint32_t tick = 0;
    };
    struct Differences {
        uint64_t count = 0;
        uint32_t tick = 0;
        uintptr_t code = 0;
    };

    void run();
    static void readAll(const Batch &batch, Differences &found);
    const Differences &first() const {
        const bool reader = readerDifferences_.count != 0 &&
                            (lastDifferences_.count == 0 || readerDifferences_.tick <= lastDifferences_.tick);
        return reader ? readerDifferences_ : lastDifferences_;
    }

    Batch batches_[2];
    Batch *filling_ = &batches_[0];
    Batch *handed_ = nullptr;  // the reader's, until it is done
    std::mutex mutex_;
    std::condition_variable changed_;
    bool busy_ = false, quit_ = false;
    uint64_t read_ = 0;
    Differences readerDifferences_, lastDifferences_;
    std::thread thread_;
};

}  // namespace qapi::soak
