#include "bridge/run_marker.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qbridge {
namespace {

constexpr char kMagic[4] = {'Q', 'B', 'R', '1'};
constexpr size_t kSize = 4 + 3 * 8 + 8;

uint64_t check(const unsigned char *bytes, size_t n) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

void put(unsigned char *at, uint64_t v) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t get(const unsigned char *at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t{at[i]} << (8 * i);
    return v;
}

}  // namespace

RunMarker::RunMarker(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path_ + ": " + std::strerror(errno));
    unsigned char bytes[kSize];
    if (::pread(fd_, bytes, kSize, 0) == static_cast<ssize_t>(kSize) && std::memcmp(bytes, kMagic, 4) == 0 &&
        get(bytes + 28) == check(bytes, 28)) {
        previous_ = RunMark{static_cast<int64_t>(get(bytes + 4)), get(bytes + 12), get(bytes + 20)};
    }
}

RunMarker::~RunMarker() {
    if (fd_ >= 0) ::close(fd_);
}

void RunMarker::mark(const RunMark &m) {
    if (m.epoch == last_.epoch && m.lastSeq == last_.lastSeq && m.safeSeq == last_.safeSeq) return;
    unsigned char bytes[kSize];
    std::memcpy(bytes, kMagic, 4);
    put(bytes + 4, static_cast<uint64_t>(m.epoch));
    put(bytes + 12, m.lastSeq);
    put(bytes + 20, m.safeSeq);
    put(bytes + 28, check(bytes, 28));
    if (::pwrite(fd_, bytes, kSize, 0) == static_cast<ssize_t>(kSize)) last_ = m;
}

}  // namespace qbridge
