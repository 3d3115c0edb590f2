// Deterministic random input for the robustness suites: a fixed-seed
// generator, the rounds to run in this build, and copies of the input in heap
// blocks of exactly its size, so that the sanitizer build sees any read past
// the bytes received.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace qapi::test {

// xorshift64*: the same sequence on every build.
struct Prng {
    uint64_t state;
    uint32_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<uint32_t>((state * 0x2545F4914F6CDD1DULL) >> 32);
    }
    uint32_t below(size_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
    bool percent(uint32_t p) { return below(100) < p; }
    uint8_t byte() { return static_cast<uint8_t>(next()); }
    template <class T, size_t N>
    T pick(const T (&from)[N]) {
        return from[below(N)];
    }
};

// `plain` rounds, an eighth under the sanitizers, an emulator and Windows
// (where each post is a call into Wine's server); QAPI_FUZZ_PERCENT scales
// them for a longer run by hand.
inline size_t fuzzRounds(size_t plain) {
#if defined(__SANITIZE_ADDRESS__) || defined(QAPI_TESTS_EMULATED) || defined(_WIN32)
    plain /= 8;
#endif
    const char *scale = std::getenv("QAPI_FUZZ_PERCENT");
    return scale ? plain * std::strtoul(scale, nullptr, 10) / 100 : plain;
}

// The bytes in a heap block of exactly their size.
struct ExactCopy {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
    explicit ExactCopy(const std::vector<uint8_t> &from)
        : bytes(new uint8_t[from.size()]), size(from.size()) {
        if (size != 0) std::memcpy(bytes.get(), from.data(), size);
    }
    const uint8_t *data() const { return bytes.get(); }
};

}  // namespace qapi::test
