// A spool: entries (bytes that mean nothing to it) that could not be
// delivered yet, in a local file, in the order they came, until the program
// has delivered them and consumes them.  Shared by the programs that must
// lose nothing they accepted while what they deliver to is away.
//
// - One process at a time: the file is locked while it is open.
// - An append is on the disk (fsync) before it returns, or it reports why
//   not and leaves the file as it was.
// - The file never grows past its bound (bytes); an append that would is
//   refused as full, as is one the disk has no room for.
// - Room can be reserved ahead of the end (allocated on the disk), so that
//   appends up to it cannot fail for want of space.
// - The oldest entries are read, delivered, then consumed: their bytes are
//   given back to the disk at once (a hole punched in the file, read as
//   padding), so that what they are delivered to on the same disk finds
//   room, and the file is emptied once none waits.  Where the file system
//   punches no holes they stay until then, and after a kill they are read
//   again (delivery must tolerate a repeat).
// - Damaged bytes (a write cut short by a kill, a damaged disk) cost only
//   the entries they hit: they are copied to FILE.damaged and counted, and
//   reading goes on at the next sound entry (framing.h).
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace qspool {

// How large the file and each entry may grow.
struct Bounds {
    uint64_t fileBytes = std::numeric_limits<uint64_t>::max();
    uint32_t largestEntry = 64 * 1024;
};

class Spool {
public:
    enum class Append { done, full, failed };

    // Opens (creating) and locks the file, and reads it through: the entries
    // that wait are counted, damaged bytes set aside.  Throws
    // std::runtime_error when it cannot be opened, locked or read, or another
    // process holds it.
    explicit Spool(std::string path, Bounds bounds = {});
    ~Spool();
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;

    const std::string &path() const { return path_; }
    bool empty() const { return waiting_ == 0; }
    size_t waiting() const { return waiting_; }
    // The file's bytes: the entries that wait, and those consumed since it
    // was last emptied.
    uint64_t bytes() const { return end_; }
    // Damaged bytes set aside in FILE.damaged since it was opened.
    uint64_t damagedBytes() const { return damaged_; }
    // Why the last append or read did not succeed.
    const std::string &error() const { return error_; }

    // The bytes an entry of `length` bytes takes in the file.
    static uint64_t framedBytes(size_t length);

    // Appends the entries after the others, all of them or none.
    Append append(const std::vector<std::string> &entries);
    // Keeps `bytes` allocated on the disk ahead of the end (within the
    // bound); true when they are.  Where the file system cannot allocate
    // ahead, true while its free space holds them.
    bool reserve(uint64_t bytes);

    // The oldest `most` entries that wait (fewer when fewer do).  Throws
    // std::runtime_error when the file cannot be read.
    std::vector<std::string> front(size_t most);
    // The first `count` entries that front() returned are delivered.
    void consume(size_t count);

private:
    // Counts [from, to) damaged and copies it aside; false when it could not.
    bool setAside(uint64_t from, uint64_t to, bool atEnd);
    std::string path_;
    Bounds bounds_;
    int fd_ = -1;
    uint64_t end_ = 0;       // the file's size: bytes up to the end of the last entry
    uint64_t read_ = 0;      // offset of the first entry that waits
    uint64_t reserved_ = 0;  // allocated up to here
    size_t waiting_ = 0;
    uint64_t damaged_ = 0;
    std::string error_;
    std::vector<uint64_t> frontEnds_;  // end offsets of the entries front() returned
};

}  // namespace qspool
