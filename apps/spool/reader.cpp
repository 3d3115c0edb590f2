#include "spool/reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "spool/framing.h"

namespace qspool {
namespace {

constexpr size_t kChunk = 64 * 1024;

}  // namespace

Reader::Reader(int fd, uint64_t end, uint32_t largest) : fd_(fd), end_(end), largest_(largest) {}

std::string_view Reader::window(uint64_t at, size_t want) {
    want = static_cast<size_t>(std::min<uint64_t>(want, end_ - at));
    if (at < bufferAt_ || at + want > bufferAt_ + buffer_.size()) {
        const auto length = static_cast<size_t>(std::min<uint64_t>(std::max(want, kChunk), end_ - at));
        buffer_.resize(length);
        size_t done = 0;
        while (done < length) {
            const ssize_t n =
                ::pread(fd_, buffer_.data() + done, length - done, static_cast<off_t>(at + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
            if (n == 0) break;  // shorter than it was: what is there
            done += static_cast<size_t>(n);
        }
        buffer_.resize(done);
        bufferAt_ = at;
    }
    return std::string_view(buffer_).substr(static_cast<size_t>(at - bufferAt_));
}

bool Reader::entryAt(uint64_t at, Item &item) {
    const std::optional<Header> h = readHeader(window(at, kHeaderBytes), end_ - at, largest_);
    if (!h) return false;
    const size_t total = h->headerBytes + h->length;
    const std::string_view bytes = window(at, total);
    if (bytes.size() < total || crc32(bytes.data() + h->headerBytes, h->length) != h->crc) return false;
    item.entry.assign(bytes.substr(h->headerBytes, h->length));
    item.next = at + total;
    return true;
}

Reader::Item Reader::next(uint64_t at) {
    Item item;
    for (;;) {  // padding
        if (at >= end_) {
            item.at = item.next = end_;
            return item;
        }
        const std::string_view bytes = window(at, 1);
        if (bytes.empty()) {  // the file is shorter than it was
            item.at = item.next = at;
            return item;
        }
        const size_t zeros = std::min(bytes.find_first_not_of('\0'), bytes.size());
        at += zeros;
        if (zeros < bytes.size()) break;
        // Consumed entries leave holes: on to the next data at once.
        const off_t data = ::lseek(fd_, static_cast<off_t>(at), SEEK_DATA);
        if (data > static_cast<off_t>(at))
            at = static_cast<uint64_t>(data);
        else if (data < 0 && errno == ENXIO)
            at = end_;
    }
    item.at = at;
    if (entryAt(at, item)) {
        item.kind = Item::Kind::entry;
        return item;
    }
    // Damaged: every later position where a mark starts is tried.
    item.kind = Item::Kind::damaged;
    item.entry.clear();
    for (uint64_t q = at + 1; q < end_;) {
        const std::string_view bytes = window(q, kHeaderBytes);
        if (bytes.empty()) break;
        const size_t k = bytes.find('Q');
        if (k == std::string_view::npos) {
            q += bytes.size();
            continue;
        }
        Item found;
        if (entryAt(q + k, found)) {
            item.next = q + k;
            return item;
        }
        q += k + 1;
    }
    item.next = end_;
    return item;
}

}  // namespace qspool
