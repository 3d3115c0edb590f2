// A table of live handles: N slots of record pointers.  A handle is the
// address of its record, and it is live exactly while the record stands in a
// slot.  A new record takes the lowest free slot, and every walk goes from
// slot 0 upward.  The table creates its records with new (std::nothrow), zero-
// initialised.
//
// A stopped record (stopped on its own or by a release) is not freed at
// once: it is cleared and held until kHeldStarts more records of the table
// have started, so that the allocator cannot give its address to one of
// them and a handle the application kept after the stop reaches nothing.
// The held records outlive a release and a new initialise.
//
// A record type T says whether a record in the table may be used:
//     bool live() const;  // its kind word is right and it has someone to notify
#pragma once

#include <cstddef>
#include <new>

namespace qapi {

inline constexpr size_t kHeldStarts = 64;

template <class T, size_t N>
class HandleTable {
public:
    static constexpr size_t kCapacity = N;

    HandleTable() = default;
    HandleTable(const HandleTable &) = delete;
    HandleTable &operator=(const HandleTable &) = delete;
    // The held records go with the table (the process's tables last until
    // it exits); live ones are the owner's to release first.
    ~HandleTable() {
        while (heldCount_ > 0) freeOldest();
    }

    // Creates a record for the lowest free slot and hands it to `open`
    // (bool open(T &)).  When `open` returns true the record takes the slot;
    // when it returns false the record is deleted and nothing is created.  A
    // slot for which no memory can be had is passed over for the next free
    // one.  Returns the record, or null when nothing was created.
    template <class Open>
    T *start(Open open) {
        freeHeldPast(starts_);
        for (T *&slot : slots_) {
            if (slot) continue;
            T *record = new (std::nothrow) T{};
            if (!record) continue;
            if (!open(*record)) {
                delete record;
                return nullptr;
            }
            slot = record;
            ++starts_;
            return record;
        }
        return nullptr;
    }

    // The live record that `handle` names, or null.  The handle is compared
    // with the slots before anything is read: a stopped or foreign pointer is
    // refused unread.
    T *find(const void *handle) const { return liveAt(slotOf(handle)); }

    // Stops the live record that `handle` names: empties its slot, hands the
    // record to `close` (void close(T &)) and holds it.  False, changing
    // nothing, when `handle` names no live record.
    template <class Close>
    bool stop(const void *handle, Close close) {
        const size_t slot = slotOf(handle);
        T *record = liveAt(slot);
        if (!record) return false;
        slots_[slot] = nullptr;
        close(*record);
        hold(record);
        return true;
    }
    bool stop(const void *handle) {
        return stop(handle, [](T &) {});
    }

    // Empties every slot in slot order; each record goes to `close` once its
    // slot is already empty, and is then held.
    template <class Close>
    void releaseAll(Close close) {
        for (T *&slot : slots_) {
            T *record = slot;
            if (!record) continue;
            slot = nullptr;
            close(*record);
            hold(record);
        }
    }
    void releaseAll() {
        releaseAll([](T &) {});
    }

    // Hands every record to `step` (void step(T &)), in slot order.
    template <class Step>
    void forEach(Step step) const {
        for (T *record : slots_) {
            if (record) step(*record);
        }
    }

    // The slot holding `handle`, or N; compares addresses only.
    size_t slotOf(const void *handle) const {
        if (!handle) return N;
        size_t slot = 0;
        while (slot < N && slots_[slot] != handle) ++slot;
        return slot;
    }

    // The record in `slot` (below N), or null.
    T *const &operator[](size_t slot) const { return slots_[slot]; }
    // Every slot in order, empty ones (null) included.
    T *const *begin() const { return slots_; }
    T *const *end() const { return slots_ + N; }

    // Records stopped and not yet freed.
    size_t held() const { return heldCount_; }

private:
    // Records stopped since kHeldStarts starts ago: at most every record
    // live then and every one started since, and one more for safety.
    static constexpr size_t kHeldCapacity = N + kHeldStarts + 1;

    // Clears a stopped record (its kind word included) and keeps it.
    void hold(T *record) {
        *record = T{};
        if (heldCount_ == kHeldCapacity) freeOldest();
        const size_t at = (heldFirst_ + heldCount_) % kHeldCapacity;
        held_[at] = record;
        heldAtStart_[at] = starts_;
        ++heldCount_;
    }
    // Frees the held records that kHeldStarts starts have passed since their
    // stop, before the start numbered `startsSoFar` + 1 takes memory.
    void freeHeldPast(size_t startsSoFar) {
        while (heldCount_ > 0 && startsSoFar - heldAtStart_[heldFirst_] >= kHeldStarts) freeOldest();
    }
    void freeOldest() {
        delete held_[heldFirst_];
        held_[heldFirst_] = nullptr;
        heldFirst_ = (heldFirst_ + 1) % kHeldCapacity;
        --heldCount_;
    }

    // The live record in `slot`, or null (also for N).
    T *liveAt(size_t slot) const { return slot < N && slots_[slot]->live() ? slots_[slot] : nullptr; }

    T *slots_[N] = {};
    T *held_[kHeldCapacity] = {};
    size_t heldAtStart_[kHeldCapacity] = {};  // starts_ when each was stopped
    size_t heldFirst_ = 0, heldCount_ = 0;
    size_t starts_ = 0;  // records started so far
};

}  // namespace qapi
