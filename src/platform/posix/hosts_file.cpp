// Read in slices through a fixed buffer: no heap, however long the file.
// Large-file calls in a 32-bit build too: there a plain stat fails for a file
// whose inode number needs 64 bits.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif
#include "hosts_file.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qapi::plat {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The next word of line[at, end), as [start, at) after the call.
bool nextWord(const char *line, size_t end, size_t &at, size_t &start) {
    while (at < end && isBlank(line[at])) ++at;
    start = at;
    while (at < end && !isBlank(line[at])) ++at;
    return at > start;
}

HostsFile::Identity identityOf(const struct stat &s) {
    return {true,
            static_cast<uint64_t>(s.st_dev),
            static_cast<uint64_t>(s.st_ino),
            static_cast<int64_t>(s.st_size),
            static_cast<int64_t>(s.st_mtim.tv_sec),
            static_cast<int64_t>(s.st_mtim.tv_nsec),
            static_cast<int64_t>(s.st_ctim.tv_sec),
            static_cast<int64_t>(s.st_ctim.tv_nsec)};
}

}  // namespace

bool HostsFile::Identity::operator==(const Identity &o) const {
    if (exists != o.exists) return false;
    return !exists || (device == o.device && inode == o.inode && size == o.size &&
                       modifiedSeconds == o.modifiedSeconds && modifiedNanoseconds == o.modifiedNanoseconds &&
                       changedSeconds == o.changedSeconds && changedNanoseconds == o.changedNanoseconds);
}

HostsFile::Identity HostsFile::identityNow() const {
    struct stat s {};
    return ::stat(path_, &s) == 0 ? identityOf(s) : Identity{};
}

HostsReading HostsFile::addressesOf(const char *name, size_t mostBytes, NamedAddresses &out) {
    const size_t length = ::strnlen(name, kLongestName + 1);
    if (length == 0 || length > kLongestName) {
        out.count = 0;
        return HostsReading::Done;
    }
    const Identity now = identityNow();
    // A file that changed, or another name, begins the reading again.
    if (reading_ && (!(now == file_) || std::strcmp(name_, name) != 0)) reading_ = false;
    if (!reading_) {
        if (known_ && now == knownFile_ && std::strcmp(knownName_, name) == 0) {
            out = knownAddresses_;
            return HostsReading::Done;
        }
        std::memcpy(name_, name, length + 1);
        nameLength_ = length;
        file_ = now;
        offset_ = 0;
        lineLength_ = 0;
        found_.count = 0;
        reading_ = true;
    }
    if (!now.exists || readSlice(mostBytes)) {
        finish();
        out = knownAddresses_;
        return HostsReading::Done;
    }
    return HostsReading::Pending;
}

// Reads on from offset_, at most `mostBytes`; true when the reading has
// come to the end of the file (or to what it may find).
bool HostsFile::readSlice(size_t mostBytes) {
    const int fd = ::open(path_, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;  // gone since: the next look-up sees the change
    struct stat s {};
    if (::fstat(fd, &s) == 0 && !(identityOf(s) == file_)) {
        // Replaced between the look at its name and the open: read what
        // was opened, from its start.
        file_ = identityOf(s);
        offset_ = 0;
        lineLength_ = 0;
        found_.count = 0;
    }
    bool end = false;
    while (mostBytes > 0 && !end && found_.count < kMostNamedAddresses) {
        const size_t ask = mostBytes < sizeof chunk_ ? mostBytes : sizeof chunk_;
        const ssize_t n = ::pread(fd, chunk_, ask, static_cast<off_t>(offset_));
        if (n < 0 && errno == EINTR) continue;
        end = n < static_cast<ssize_t>(ask);  // a regular file reads short only at its end
        if (n <= 0) break;
        offset_ += n;
        mostBytes -= static_cast<size_t>(n);
        const char *at = chunk_;
        const char *const stop = chunk_ + n;
        while (at < stop) {
            const auto *newline =
                static_cast<const char *>(std::memchr(at, '\n', static_cast<size_t>(stop - at)));
            const char *lineEnd = newline ? newline : stop;
            const auto bytes = static_cast<size_t>(lineEnd - at);
            if (newline && lineLength_ == 0) {
                takeLine(at, bytes < kLongestLine ? bytes : kLongestLine);  // whole in this chunk
            } else {
                const size_t room = kLongestLine - lineLength_;
                std::memcpy(line_ + lineLength_, at, bytes < room ? bytes : room);
                lineLength_ += bytes < room ? bytes : room;
                if (newline) {
                    takeLine(line_, lineLength_);
                    lineLength_ = 0;
                }
            }
            at = newline ? newline + 1 : stop;
        }
    }
    ::close(fd);
    end = end || found_.count == kMostNamedAddresses;
    // A last line without its newline.
    if (end && lineLength_ > 0) {
        takeLine(line_, lineLength_);
        lineLength_ = 0;
    }
    return end;
}

// Takes the address of a line that gives the name one, once.
void HostsFile::takeLine(const char *line, size_t length) {
    const void *hash = std::memchr(line, '#', length);
    const size_t end = hash ? static_cast<size_t>(static_cast<const char *>(hash) - line) : length;
    size_t at = 0, start = 0;
    if (!nextWord(line, end, at, start) || at - start >= INET_ADDRSTRLEN) return;
    const size_t addressAt = start, addressLength = at - start;
    while (nextWord(line, end, at, start)) {
        if (at - start != nameLength_ || ::strncasecmp(line + start, name_, nameLength_) != 0) continue;
        char text[INET_ADDRSTRLEN];
        std::memcpy(text, line + addressAt, addressLength);
        text[addressLength] = '\0';
        in_addr parsed{};
        if (::inet_pton(AF_INET, text, &parsed) != 1) return;  // an IPv6 line, or none
        const uint32_t address = ntohl(parsed.s_addr);
        for (size_t i = 0; i < found_.count; ++i) {
            if (found_.list[i] == address) return;
        }
        if (found_.count < kMostNamedAddresses) found_.list[found_.count++] = address;
        return;
    }
}

void HostsFile::finish() {
    std::memcpy(knownName_, name_, sizeof knownName_);
    knownFile_ = file_;
    knownAddresses_ = found_;
    known_ = true;
    reading_ = false;
}

}  // namespace qapi::plat
