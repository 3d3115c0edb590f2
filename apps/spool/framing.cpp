#include "spool/framing.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qspool {
namespace {

constexpr char kMark[4] = {'Q', 'S', 'P', '2'};
constexpr char kFirstMark[4] = {'Q', 'C', 'D', 'S'};

void put32(std::string &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

uint32_t get32(std::string_view in, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t{static_cast<unsigned char>(in[at + i])} << (8 * i);
    return v;
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

std::string frame(std::string_view entry) {
    std::string out(kMark, 4);
    out.reserve(kHeaderBytes + entry.size());
    put32(out, static_cast<uint32_t>(entry.size()));
    put32(out, crc32(entry.data(), entry.size()));
    put32(out, crc32(out.data(), out.size()));
    out += entry;
    return out;
}

std::optional<Header> readHeader(std::string_view bytes, uint64_t available, uint32_t largest) {
    Header h;
    if (bytes.size() >= kHeaderBytes && std::memcmp(bytes.data(), kMark, 4) == 0 &&
        crc32(bytes.data(), 12) == get32(bytes, 12)) {
        h.headerBytes = kHeaderBytes;
    } else if (bytes.size() >= kFirstHeaderBytes && std::memcmp(bytes.data(), kFirstMark, 4) == 0) {
        h.headerBytes = kFirstHeaderBytes;
        largest = std::min(largest, kFirstLargestEntry);
    } else {
        return std::nullopt;
    }
    h.length = get32(bytes, 4);
    h.crc = get32(bytes, 8);
    if (h.length > largest || h.headerBytes + uint64_t{h.length} > available) return std::nullopt;
    return h;
}

}  // namespace qspool
