#include "support/backlog_writer.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace qapi::test {

BacklogWriter::BacklogWriter(plat::SocketHandle conn, const std::vector<uint8_t> &cycle, size_t total)
    : conn_(conn), cycle_(cycle), total_(total), writer_([this] { write(); }) {}

BacklogWriter::~BacklogWriter() {
    stop_ = true;
    writer_.join();
}

bool BacklogWriter::waitFull(plat::SocketHandle reader) const {
    int last = -1, same = 0;
    for (int i = 0; i < 10000 && !finished(); ++i) {
        pollfd room{conn_, POLLOUT, 0};
        int held = 0;
        ioctl(reader, FIONREAD, &held);
        const bool full = blocked_ && poll(&room, 1, 0) == 0;
        same = full && held == last ? same + 1 : 0;
        if (same >= 3) return true;
        last = held;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void BacklogWriter::write() {
    size_t at = 0;
    while (at < total_ && !stop_) {
        const size_t from = at % cycle_.size();
        const size_t length = std::min(total_ - at, cycle_.size() - from);
        const ssize_t n = send(conn_, cycle_.data() + from, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            written_ = at += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;
        blocked_ = true;
        pollfd room{conn_, POLLOUT, 0};
        poll(&room, 1, 20);
        blocked_ = false;
    }
}

}  // namespace qapi::test
