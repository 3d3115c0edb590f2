// Read in pieces through a fixed buffer: no heap, however long the file.
#include "hosts_file.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace qapi::plat {
namespace {

// Longer lines are read up to here: names beyond are not seen.
constexpr size_t kLongestLine = 512;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

struct Search {
    const char *name;
    size_t nameLength;
    bool (*accept)(uint32_t, const void *);
    const void *context;
};

// The next word of line[at, end), as [start, at) after the call.
bool nextWord(const char *line, size_t end, size_t &at, size_t &start) {
    while (at < end && isBlank(line[at])) ++at;
    start = at;
    while (at < end && !isBlank(line[at])) ++at;
    return at > start;
}

// True when the line gives the name an accepted IPv4 address.
bool lineGives(const char *line, size_t length, const Search &search, uint32_t *address) {
    const void *hash = std::memchr(line, '#', length);
    const size_t end = hash ? static_cast<size_t>(static_cast<const char *>(hash) - line) : length;
    size_t at = 0, start = 0;
    if (!nextWord(line, end, at, start) || at - start >= INET_ADDRSTRLEN) return false;
    char text[INET_ADDRSTRLEN];
    std::memcpy(text, line + start, at - start);
    text[at - start] = '\0';
    in_addr parsed{};
    if (::inet_pton(AF_INET, text, &parsed) != 1) return false;  // an IPv6 line, or none
    const uint32_t candidate = ntohl(parsed.s_addr);
    while (nextWord(line, end, at, start)) {
        if (at - start == search.nameLength && ::strncasecmp(line + start, search.name, search.nameLength) == 0) {
            if (!search.accept(candidate, search.context)) return false;
            *address = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

bool hostsFileAddress(const char *path, const char *name, bool (*accept)(uint32_t address, const void *context),
                      const void *context, uint32_t *address) {
    const Search search{name, std::strlen(name), accept, context};
    if (search.nameLength == 0) return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[4096];
    char line[kLongestLine];
    size_t length = 0;
    bool found = false;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n && !found; ++i) {
            if (chunk[i] != '\n') {
                if (length < sizeof line) line[length++] = chunk[i];
                continue;
            }
            found = lineGives(line, length, search, address);
            length = 0;
        }
        if (found) break;
    }
    // A last line without its newline.
    if (!found && length > 0) found = lineGives(line, length, search, address);
    ::close(fd);
    return found;
}

}  // namespace qapi::plat
