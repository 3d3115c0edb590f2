#include "spool/spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "spool/framing.h"
#include "spool/reader.h"

namespace qspool {
namespace {

std::string why(const std::string &path, const std::string &what) {
    return "spool " + path + ": " + what + ": " + std::strerror(errno);
}

bool writeAll(int fd, const char *bytes, size_t length, uint64_t offset) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Copies [from, to) of `fd` to the end of `path`, on the disk.
bool copyOut(int fd, uint64_t from, uint64_t to, const std::string &path) {
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out < 0) return false;
    std::string chunk;
    bool ok = true;
    for (uint64_t at = from; ok && at < to;) {
        chunk.resize(static_cast<size_t>(std::min<uint64_t>(to - at, 64 * 1024)));
        const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0 && ::write(out, chunk.data(), static_cast<size_t>(n)) == n;
        at += ok ? static_cast<uint64_t>(n) : 0;
    }
    ok = ok && ::fsync(out) == 0;
    const int error = errno;
    ::close(out);
    errno = error;
    return ok;
}

}  // namespace

uint64_t Spool::framedBytes(size_t length) { return kHeaderBytes + length; }

Spool::Spool(std::string path, Bounds bounds) : path_(std::move(path)), bounds_(bounds) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) throw std::runtime_error(why(path_, "cannot open"));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        const std::string text = why(path_, "cannot lock");
        ::close(fd_);
        throw std::runtime_error(held ? "spool " + path_ + " is in use by another process" : text);
    }
    try {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) throw std::runtime_error(why(path_, "cannot read"));
        end_ = static_cast<uint64_t>(st.st_size);
        // Every entry is counted; damaged bytes are set aside where they lie,
        // and the file ends after its last sound entry.
        Reader reader(fd_, end_, bounds_.largestEntry);
        uint64_t last = 0;
        bool kept = true;  // every damaged byte after the last entry is copied aside
        for (uint64_t at = 0;;) {
            const Reader::Item item = reader.next(at);
            if (item.kind == Reader::Item::Kind::end) break;
            if (item.kind == Reader::Item::Kind::entry) {
                ++waiting_;
                last = item.next;
                kept = true;
            } else {
                kept = setAside(item.at, item.next, item.next == end_) && kept;
            }
            at = item.next;
        }
        if (last < end_ && kept) {
            if (::ftruncate(fd_, static_cast<off_t>(last)) != 0 || ::fsync(fd_) != 0)
                throw std::runtime_error(why(path_, "cannot cut off its damaged end"));
            end_ = last;
        }
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

Spool::~Spool() {
    if (fd_ >= 0) ::close(fd_);
}

bool Spool::setAside(uint64_t from, uint64_t to, bool atEnd) {
    damaged_ += to - from;
    // Where they cannot be copied (a full disk), they stay: reading passes
    // them, and the next start tries again.
    if (!copyOut(fd_, from, to, path_ + ".damaged")) return false;
    if (atEnd) return true;  // cut off by the caller
    // Zeros are padding: later readings pass them without a word.
    const std::string zeros(static_cast<size_t>(std::min<uint64_t>(to - from, 64 * 1024)), '\0');
    bool cleared = true;
    for (uint64_t at = from; cleared && at < to; at += zeros.size())
        cleared =
            writeAll(fd_, zeros.data(), static_cast<size_t>(std::min<uint64_t>(to - at, zeros.size())), at);
    if (cleared) ::fdatasync(fd_);
    return true;
}

Spool::Append Spool::append(const std::vector<std::string> &entries) {
    error_.clear();
    if (entries.empty()) return Append::done;
    std::string bytes;
    for (const std::string &e : entries) {
        if (e.size() > bounds_.largestEntry) {
            error_ = "spool " + path_ + ": an entry of " + std::to_string(e.size()) +
                     " bytes is larger than " + std::to_string(bounds_.largestEntry);
            return Append::failed;
        }
        bytes += frame(e);
    }
    if (bytes.size() > bounds_.fileBytes || end_ > bounds_.fileBytes - bytes.size()) {
        error_ = "spool " + path_ + " is full (" + std::to_string(bounds_.fileBytes) + " bytes)";
        return Append::full;
    }
    if (!writeAll(fd_, bytes.data(), bytes.size(), end_) || ::fdatasync(fd_) != 0) {
        const int error = errno;
        error_ = why(path_, "cannot write");
        // What the failed write left is cut off here, or else found damaged
        // on the next start.
        if (::ftruncate(fd_, static_cast<off_t>(end_)) == 0) reserved_ = end_;
        return error == ENOSPC || error == EDQUOT ? Append::full : Append::failed;
    }
    end_ += bytes.size();
    waiting_ += entries.size();
    return Append::done;
}

bool Spool::reserve(uint64_t bytes) {
    if (bytes > bounds_.fileBytes || end_ > bounds_.fileBytes - bytes) return false;
    if (reserved_ >= end_ + bytes) return true;
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(end_), static_cast<off_t>(bytes)) == 0) {
        reserved_ = end_ + bytes;
        return true;
    }
    if (errno == EOPNOTSUPP || errno == ENOSYS) {
        struct statvfs fs {};
        return ::fstatvfs(fd_, &fs) == 0 && uint64_t{fs.f_bavail} * fs.f_frsize >= bytes;
    }
    // What a failed allocation took is given back to the disk: a truncation
    // frees what lies beyond the end.
    if (::ftruncate(fd_, static_cast<off_t>(end_)) == 0) reserved_ = end_;
    return false;
}

std::vector<std::string> Spool::front(size_t most) {
    std::vector<std::string> entries;
    frontEnds_.clear();
    Reader reader(fd_, end_, bounds_.largestEntry);
    uint64_t at = read_;
    while (entries.size() < most) {
        Reader::Item item;
        try {
            item = reader.next(at);
        } catch (const std::runtime_error &e) {
            throw std::runtime_error("spool " + path_ + ": " + e.what());
        }
        if (item.kind == Reader::Item::Kind::end) {
            waiting_ = entries.size();  // fewer than counted: damaged since
            break;
        }
        if (item.kind == Reader::Item::Kind::damaged) {
            setAside(item.at, item.next, false);
        } else {
            entries.push_back(std::move(item.entry));
            frontEnds_.push_back(item.next);
        }
        at = item.next;
    }
    return entries;
}

void Spool::consume(size_t count) {
    if (count == 0 || count > frontEnds_.size()) return;
    const uint64_t from = read_;
    read_ = frontEnds_[count - 1];
    waiting_ -= std::min(count, waiting_);
    frontEnds_.clear();
    if (waiting_ > 0) {
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                    static_cast<off_t>(read_ - from));
        return;
    }
    if (::ftruncate(fd_, 0) != 0) return;
    ::fsync(fd_);
    end_ = read_ = reserved_ = 0;
}

}  // namespace qspool
