#include "soak/late_reader.h"

#include "support/payload_image.h"

namespace qapi::soak {
namespace {

// Room kept from the start: more than a tick's payloads and messages.
constexpr size_t kBytes = 2 << 20;
constexpr size_t kMessages = 12000;

}  // namespace

LateReader::LateReader() {
    for (Batch &b : batches_) {
        b.taken.reserve(kMessages);
        b.bytes.resize(kBytes);
    }
    thread_ = std::thread([this] { run(); });
}

LateReader::~LateReader() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void LateReader::take(const QMessage &m, uint32_t tick) {
    Batch &b = *filling_;
    b.tick = tick;
    for (;;) {
        const size_t room = b.bytes.size() - b.used;
        const size_t size = test::payloadImage(m.wParam, m.lParam, b.bytes.data() + b.used, room);
        if (size == 0) return;  // a value, nothing to read again
        if (size <= room) {
            b.taken.push_back({m, b.used, size});
            b.used += size;
            return;
        }
        b.bytes.resize(b.bytes.size() * 2);  // on the main thread, between ticks
    }
}

void LateReader::handOver() {
    finish();
    Batch *next = filling_;
    filling_ = next == &batches_[0] ? &batches_[1] : &batches_[0];
    filling_->taken.clear();
    filling_->used = 0;
    read_ += next->taken.size();
    if (next->taken.empty()) {
        handed_ = nullptr;
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        handed_ = next;
        busy_ = true;
    }
    changed_.notify_all();
}

void LateReader::lastLook() {
    if (handed_) readAll(*handed_, lastDifferences_);
}

void LateReader::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !busy_; });
}

void LateReader::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return busy_ || quit_; });
        if (quit_) return;
        const Batch &batch = *handed_;
        lock.unlock();
        readAll(batch, readerDifferences_);  // while the library's tick runs
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void LateReader::readAll(const Batch &batch, Differences &found) {
    for (const Taken &t : batch.taken) {
        if (test::payloadShowsImage(t.message.wParam, t.message.lParam, batch.bytes.data() + t.at, t.size))
            continue;
        if (found.count++ == 0) {
            found.tick = batch.tick;
            found.code = t.message.wParam;
        }
    }
}

}  // namespace qapi::soak
