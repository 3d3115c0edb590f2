// What the fuzz targets share: the input read front to back as a script of
// operations, texts handed to the library in heap blocks of exactly their
// size, a socket pair standing in for a server, and the stop on the first
// broken rule.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qmsg.h"

namespace qapi::fuzz {

using Bytes = std::vector<uint8_t>;

// The input as a script: every read takes the next bytes; past the end it
// reads zeros, and the script ends before its next operation.
class Script {
public:
    Script(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
    uint32_t u32() { return static_cast<uint32_t>(u16() | static_cast<uint32_t>(u16()) << 16); }
    // The next `n` bytes, or as many as are left.
    Bytes bytes(size_t n) {
        const size_t take = n < size_ - at_ ? n : size_ - at_;
        Bytes out(data_ + at_, data_ + at_ + take);
        at_ += take;
        return out;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

// Bytes in a heap block of exactly their size, so that AddressSanitizer sees
// any read past them.
class Exact {
public:
    explicit Exact(const Bytes &from) : bytes_(new uint8_t[from.size() + 1]), size_(from.size()) {
        if (size_ != 0) std::memcpy(bytes_.get(), from.data(), size_);
    }
    const uint8_t *data() const { return bytes_.get(); }
    size_t size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    size_t size_;
};

// A text for an exported function: the script's next (length byte mod
// `most`) bytes and a NUL, in a block of exactly that size; or no text at
// all when the length byte is 255.
class Text {
public:
    Text(Script &s, size_t most) {
        const uint8_t length = s.byte();
        if (length == 255) return;
        const Bytes b = s.bytes(length % most);
        text_.reset(new char[b.size() + 1]);
        if (!b.empty()) std::memcpy(text_.get(), b.data(), b.size());
        text_[b.size()] = '\0';
    }
    const char *get() const { return text_.get(); }

private:
    std::unique_ptr<char[]> text_;
};

// Stops the run on the first broken rule, saying which; libFuzzer keeps the
// input that did it.
[[noreturn]] inline void broken(const std::string &what) {
    std::fprintf(stderr, "broken: %s\n", what.c_str());
    std::abort();
}
inline void require(bool holds, const char *what) {
    if (!holds) broken(what);
}
inline void require(const std::string &problem, const char *where) {
    if (!problem.empty()) broken(std::string(where) + ": " + problem);
}

// Once per run: time moves only with the script's ticks; a window for
// notifications.
inline QWindow manualClockAndWindow() {
    qmsgUseManualClock(1);
    return qmsgCreateWindow();
}

// Every message waiting on this thread, oldest first.
inline std::vector<QMessage> drain() {
    std::vector<QMessage> out;
    QMessage m;
    while (qmsgPeekMessage(&m)) out.push_back(m);
    return out;
}

// A connected pair of local sockets, both non-blocking: the library's end
// takes the place of a connection to the server, the other is the server's.
struct SocketPair {
    int library = -1;
    int server = -1;
    explicit SocketPair(int type) {
        int s[2];
        require(::socketpair(AF_UNIX, type, 0, s) == 0, "socketpair");
        for (int fd : s) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        library = s[0];
        server = s[1];
    }
    ~SocketPair() {
        if (server >= 0) ::close(server);
    }
    SocketPair(const SocketPair &) = delete;
    SocketPair &operator=(const SocketPair &) = delete;
    // The server goes away: its end closes.
    void closeServer() {
        if (server >= 0) ::close(server);
        server = -1;
    }
};

}  // namespace qapi::fuzz
