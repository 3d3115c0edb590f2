// What a run of the bridge leaves for the next one: its epoch, the last
// sequence number it gave, and up to which number every event was
// confirmed or on the disk.  Written in place on every change (without
// waiting for the disk: a killed process leaves it in the page cache), so
// that a run after a crash can announce the events that may be missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qbridge {

struct RunMark {
    int64_t epoch = 0;
    uint64_t lastSeq = 0;  // the last number given
    uint64_t safeSeq = 0;  // every event up to it confirmed, spooled or counted lost
};

class RunMarker {
public:
    // Opens (creating) the file; throws std::runtime_error when it cannot.
    explicit RunMarker(std::string path);
    ~RunMarker();
    RunMarker(const RunMarker &) = delete;
    RunMarker &operator=(const RunMarker &) = delete;

    // What the previous run left, if anything readable.
    const std::optional<RunMark> &previous() const { return previous_; }
    // Records this run's state (a write only when it changed).
    void mark(const RunMark &mark);

private:
    std::string path_;
    int fd_ = -1;
    std::optional<RunMark> previous_;
    RunMark last_;
};

}  // namespace qbridge
