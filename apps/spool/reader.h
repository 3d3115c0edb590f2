// Reads a spool file's entries in order through a buffer: padding skipped,
// and where damaged bytes start, the next sound entry found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qspool {

class Reader {
public:
    // The file's first `end` bytes; entries up to `largest` bytes.
    Reader(int fd, uint64_t end, uint32_t largest);

    struct Item {
        enum class Kind { entry, damaged, end } kind = Kind::end;
        uint64_t at = 0;    // where it starts, after any padding
        uint64_t next = 0;  // where what follows it starts
        std::string entry;
    };
    // What comes at `at`: an entry, damaged bytes up to the next sound entry
    // (or the end), or the end.  Throws std::runtime_error when the file
    // cannot be read.
    Item next(uint64_t at);

private:
    // At least min(want, end - at) of the file's bytes from `at`.
    std::string_view window(uint64_t at, size_t want);
    bool entryAt(uint64_t at, Item &item);
    int fd_;
    uint64_t end_;
    uint32_t largest_;
    std::string buffer_;
    uint64_t bufferAt_ = 0;
};

}  // namespace qspool
