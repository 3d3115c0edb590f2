// The hosts file, read the way the resolver's "files" source reads it, but
// never handing on to a name server: a line is an address and the names
// that stand for it, '#' starts a comment.
//
// A hosts file can be long (a host that blocks advertising names through
// it holds hundreds of thousands of lines), and this host's address is
// looked up inside the library's tick.  So what a reading found is kept,
// and the file is read again only when it has changed; and a reading can go
// in slices, a bounded number of bytes per call, each call taking up where
// the one before stopped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qapi::plat {

// The IPv4 addresses (host order) the file gives a name, in file order;
// those beyond kMostNamedAddresses are not seen.
inline constexpr size_t kMostNamedAddresses = 16;
struct NamedAddresses {
    uint32_t list[kMostNamedAddresses];
    size_t count;
};

enum class HostsReading : uint8_t {
    Done,     // the addresses are those of the file as it stands
    Pending,  // the bytes allowed ran out first: ask again
};

class HostsFile {
public:
    // Longer lines are read up to here: names beyond are not seen.
    static constexpr size_t kLongestLine = 512;
    static constexpr size_t kLongestName = 80;

    // `path` must outlive the object.
    constexpr explicit HostsFile(const char *path) : path_(path) {}

    // The addresses the file gives `name` (compared without regard to
    // case).  A file that cannot be read gives none.  When the file and the
    // name are those of the last reading that was finished, nothing is read;
    // otherwise at most `mostBytes` more of the file are read, and Pending
    // means that the reading is not finished (`out` is then left alone).
    HostsReading addressesOf(const char *name, size_t mostBytes, NamedAddresses &out);

    // What tells one version of the file from another (widths that hold
    // what a 32-bit build's stat gives too).
    struct Identity {
        bool exists;
        uint64_t device, inode;
        int64_t size;
        int64_t modifiedSeconds, modifiedNanoseconds, changedSeconds, changedNanoseconds;
        bool operator==(const Identity &) const;
    };

private:
    Identity identityNow() const;
    bool readSlice(size_t mostBytes);
    void takeLine(const char *line, size_t length);
    void finish();

    const char *path_;
    // The last reading that was finished, and what it found.
    bool known_ = false;
    char knownName_[kLongestName + 1] = {};
    Identity knownFile_{};
    NamedAddresses knownAddresses_{};
    // The reading under way: the file as it stood when it began, how far it
    // got, the start of a line not yet ended, and what it found so far.
    bool reading_ = false;
    char name_[kLongestName + 1] = {};
    size_t nameLength_ = 0;
    Identity file_{};
    int64_t offset_ = 0;
    char line_[kLongestLine] = {};
    size_t lineLength_ = 0;
    NamedAddresses found_{};
    char chunk_[16384] = {};
};

}  // namespace qapi::plat
