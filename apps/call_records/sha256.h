// SHA-256 (FIPS 180-4), for the records' keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qrecords {

class Sha256 {
public:
    Sha256();
    Sha256 &add(const void *bytes, size_t length);
    Sha256 &add(std::string_view bytes) { return add(bytes.data(), bytes.size()); }
    std::array<uint8_t, 32> finish();

private:
    void block(const uint8_t *b);
    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buffer_{};
    size_t used_ = 0;
    uint64_t length_ = 0;
};

}  // namespace qrecords
