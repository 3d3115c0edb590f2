// The records of a datagram the simulator sends, one by one, for the tests
// to look at.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/bytes.h"

namespace qsim::test {

struct Seen {
    std::vector<uint8_t> bytes;
    uint32_t destination() const { return u32(0); }
    uint8_t type() const { return bytes.at(4); }
    uint8_t sub() const { return bytes.at(5); }
    uint8_t extra() const { return bytes.at(6); }
    uint8_t length() const { return bytes.at(7); }
    uint16_t u16(size_t at) const { return getU16(&bytes.at(at + 1) - 1); }
    uint32_t u32(size_t at) const { return getU32(&bytes.at(at + 3) - 3); }
};

// Cuts a datagram into records by their length bytes; a record running past
// the end is returned as far as it goes.
inline std::vector<Seen> split(const Bytes &datagram) {
    std::vector<Seen> out;
    for (size_t at = 0; at + 8 <= datagram.size();) {
        const size_t size = 4 + 4 * static_cast<size_t>(datagram[at + 7]);
        const size_t end = std::min(at + size, datagram.size());
        out.push_back(
            {Bytes(datagram.begin() + static_cast<long>(at), datagram.begin() + static_cast<long>(end))});
        at += size;
    }
    return out;
}

// The records of one type.
inline std::vector<Seen> ofType(const Bytes &datagram, uint8_t type) {
    std::vector<Seen> out;
    for (Seen &s : split(datagram)) {
        if (s.type() == type) out.push_back(std::move(s));
    }
    return out;
}

}  // namespace qsim::test
