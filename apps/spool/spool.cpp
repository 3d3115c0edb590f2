#include "spool/spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qcdr {
namespace {

constexpr char kMark[4] = {'Q', 'C', 'D', 'S'};
constexpr size_t kHeader = 12;  // mark, body length, CRC-32 of the body
constexpr uint8_t kVersion = 1;
constexpr uint32_t kLargestBody = 4096;

void put(std::string &out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
}

uint64_t get(const std::string &in, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{static_cast<unsigned char>(in[at + static_cast<size_t>(i)])} << (8 * i);
    return v;
}

std::runtime_error failure(const std::string &path, const std::string &what) {
    return std::runtime_error("spool " + path + ": " + what + ": " + std::strerror(errno));
}

// Reads exactly `length` bytes at `offset`; false at the end of the file.
bool readAt(int fd, uint64_t offset, size_t length, std::string &out) {
    out.resize(length);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The body of the entry at `offset`, and the offset after it; false when
// no whole, sound entry starts there.
bool readEntry(int fd, uint64_t offset, std::string &body, uint64_t &next) {
    std::string header;
    if (!readAt(fd, offset, kHeader, header) || std::memcmp(header.data(), kMark, 4) != 0) return false;
    const auto length = static_cast<uint32_t>(get(header, 4, 4));
    if (length > kLargestBody || !readAt(fd, offset + kHeader, length, body)) return false;
    if (crc32(body.data(), body.size()) != get(header, 8, 4)) return false;
    next = offset + kHeader + length;
    return true;
}

bool writeAll(int fd, const std::string &bytes, uint64_t offset) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

uint32_t crc32(const void *bytes, size_t length) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    const auto *p = static_cast<const uint8_t *>(bytes);
    for (size_t i = 0; i < length; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string spoolEntry(const Row &row) {
    std::string body;
    body += static_cast<char>(kVersion);
    put(body, row.occurrence, 4);
    put(body, static_cast<uint64_t>(row.receivedUs), 8);
    const size_t server = std::min<size_t>(row.server.size(), 1024);
    put(body, server, 2);
    body.append(row.server, 0, server);
    body.append(reinterpret_cast<const char *>(row.key.data()), row.key.size());
    body.append(reinterpret_cast<const char *>(&row.record), sizeof row.record);
    std::string entry(kMark, 4);
    put(entry, body.size(), 4);
    put(entry, crc32(body.data(), body.size()), 4);
    return entry + body;
}

bool spoolRow(const std::string &body, Row &row) {
    if (body.size() < 1 + 4 + 8 + 2 || static_cast<uint8_t>(body[0]) != kVersion) return false;
    const size_t server = static_cast<size_t>(get(body, 13, 2));
    if (body.size() != 15 + server + row.key.size() + sizeof row.record) return false;
    row.occurrence = static_cast<uint32_t>(get(body, 1, 4));
    row.receivedUs = static_cast<int64_t>(get(body, 5, 8));
    row.server = body.substr(15, server);
    std::memcpy(row.key.data(), body.data() + 15 + server, row.key.size());
    std::memcpy(&row.record, body.data() + 15 + server + row.key.size(), sizeof row.record);
    return true;
}

Spool::Spool(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) throw failure(path_, "cannot open");
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd_);
        errno = error;
        if (error == EWOULDBLOCK) throw std::runtime_error("spool " + path_ + " is in use by another qapi-cdr");
        throw failure(path_, "cannot lock");
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        ::close(fd_);
        throw failure(path_, "cannot read");
    }
    std::string body;
    uint64_t next = 0;
    while (end_ < static_cast<uint64_t>(st.st_size) && readEntry(fd_, end_, body, next)) {
        Row row;
        if (!spoolRow(body, row)) break;
        end_ = next;
        ++waiting_;
    }
    if (end_ == static_cast<uint64_t>(st.st_size)) return;
    // A write cut short (or a damaged disk): keep the bytes aside, and go on
    // from the last whole entry.
    damaged_ = static_cast<uint64_t>(st.st_size) - end_;
    std::string rest;
    const int aside = ::open((path_ + ".damaged").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const bool saved = aside >= 0 && readAt(fd_, end_, static_cast<size_t>(damaged_), rest) &&
                       ::write(aside, rest.data(), rest.size()) == static_cast<ssize_t>(rest.size()) &&
                       ::fsync(aside) == 0;
    if (aside >= 0) ::close(aside);
    if (!saved || ::ftruncate(fd_, static_cast<off_t>(end_)) != 0 || ::fsync(fd_) != 0) {
        ::close(fd_);
        throw failure(path_, "cannot set a damaged end aside");
    }
}

Spool::~Spool() {
    if (fd_ >= 0) ::close(fd_);
}

void Spool::append(const std::vector<Row> &rows) {
    if (rows.empty()) return;
    std::string bytes;
    for (const Row &row : rows) bytes += spoolEntry(row);
    if (!writeAll(fd_, bytes, end_) || ::fdatasync(fd_) != 0) {
        const int error = errno;
        // What the failed write left is cut off here, or else found
        // damaged on the next start.
        if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0) errno = error;
        errno = error;
        throw failure(path_, "cannot write");
    }
    end_ += bytes.size();
    waiting_ += rows.size();
}

std::vector<Row> Spool::front(size_t most) {
    std::vector<Row> rows;
    frontEnds_.clear();
    uint64_t at = read_;
    std::string body;
    while (rows.size() < std::min(most, waiting_)) {
        uint64_t next = 0;
        Row row;
        if (!readEntry(fd_, at, body, next) || !spoolRow(body, row)) throw failure(path_, "cannot read");
        rows.push_back(std::move(row));
        frontEnds_.push_back(next);
        at = next;
    }
    return rows;
}

void Spool::consume(size_t count) {
    if (count == 0 || count > frontEnds_.size()) return;
    read_ = frontEnds_[count - 1];
    waiting_ -= count;
    frontEnds_.clear();
    if (waiting_ > 0) return;
    if (::ftruncate(fd_, 0) == 0 && ::fsync(fd_) == 0) {
        end_ = read_ = 0;
    }
}

}  // namespace qcdr
