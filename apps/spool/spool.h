// The records that the database could not take yet, in a local file, in
// the order they came: each entry framed by a mark, its length and a CRC-32,
// and every append on the disk (fsync) before it returns.  An entry cut
// short by a kill is found on opening; it and whatever follows are copied
// aside (FILE.damaged) and cut off, so that later entries follow whole ones.
// One collector at a time: the file is locked while it is open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cdr/row.h"

namespace qcdr {

class Spool {
public:
    // Throws std::runtime_error when the file cannot be opened, read or
    // locked.
    explicit Spool(std::string path);
    ~Spool();
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;

    const std::string &path() const { return path_; }
    bool empty() const { return waiting_ == 0; }
    size_t waiting() const { return waiting_; }
    // What opening found damaged, in bytes (0: nothing).
    uint64_t damagedBytes() const { return damaged_; }

    // Throws std::runtime_error when the entries are not all on the disk;
    // the file then ends where it ended before.
    void append(const std::vector<Row> &rows);
    // The first `most` entries that wait, oldest first.
    std::vector<Row> front(size_t most);
    // The first `count` entries are in the database: they wait no more, and
    // the file is emptied once none waits.
    void consume(size_t count);

private:
    std::string path_;
    int fd_ = -1;
    uint64_t end_ = 0;    // bytes of whole entries in the file
    uint64_t read_ = 0;   // offset of the first entry that waits
    size_t waiting_ = 0;
    uint64_t damaged_ = 0;
    std::vector<uint64_t> frontEnds_;  // end offsets of the entries front() returned
};

// The entry of a row, and the row of an entry's body (false when it is none).
std::string spoolEntry(const Row &row);
bool spoolRow(const std::string &body, Row &row);
uint32_t crc32(const void *bytes, size_t length);

}  // namespace qcdr
