// The server's side of a stream with a backlog, written as a real server
// writes it: from a thread of its own, without blocking, whenever the
// connection takes more.  What one read at the other end finds depends then
// on what the connection holds.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace qapi::test {

class BacklogWriter {
public:
    // Writes `total` bytes into the connected `conn`: `cycle` over and over.
    BacklogWriter(plat::SocketHandle conn, const std::vector<uint8_t> &cycle, size_t total);
    ~BacklogWriter();
    BacklogWriter(const BacklogWriter &) = delete;
    BacklogWriter &operator=(const BacklogWriter &) = delete;

    // Waits (bounded) until the connection takes nothing more: the writer
    // waits for room, and what `reader` (the other end) holds has settled.
    // False when the whole backlog is written, or the wait ran out.
    bool waitFull(plat::SocketHandle reader) const;
    bool finished() const { return written_ == total_; }

private:
    void write();

    plat::SocketHandle conn_;
    const std::vector<uint8_t> &cycle_;
    const size_t total_;
    std::atomic<size_t> written_{0};
    std::atomic<bool> blocked_{false}, stop_{false};
    std::thread writer_;
};

}  // namespace qapi::test
