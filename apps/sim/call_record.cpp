#include "sim/call_record.h"

#include <algorithm>

namespace qsim::feed {
namespace {

constexpr size_t kDigitsA = 24, kDigitsB = 56, kDigitsC = 88, kText = 24, kTextBytes = 96;
constexpr size_t kDateTime = 120, kMarker = 150, kByteSum = 151, kCheck = 152;

void put32(Record &r, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) r[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint8_t wrap251(unsigned v) {
    v &= 0xFF;
    return static_cast<uint8_t>(v % 251);
}

}  // namespace

uint16_t fletcher251(const uint8_t *bytes, size_t length) {
    unsigned s0 = 1, s1 = 0;
    for (size_t i = 0; i < length; ++i) {
        s0 = wrap251(s0 + bytes[i]);
        s1 = wrap251(s1 + s0);
    }
    const unsigned check = s1 * 256 + s0;
    return check == 0 ? 0xFFFF : static_cast<uint16_t>(check);
}

uint8_t byteSum(const uint8_t *bytes, size_t length) {
    unsigned sum = 0;
    for (size_t i = 0; i < length; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

void seal(Record &r) {
    r[kMarker] = 0xFF;
    r[kByteSum] = byteSum(r.data(), kByteSum);
    const uint16_t check = fletcher251(r.data(), kCheck);
    r[kCheck] = static_cast<uint8_t>(check);
    r[kCheck + 1] = static_cast<uint8_t>(check >> 8);
}

Record encode(const CallRecord &c) {
    Record r{};
    put32(r, 0, static_cast<uint32_t>(c.numberA));
    put32(r, 4, static_cast<uint32_t>(c.numberB));
    put32(r, 8, static_cast<uint32_t>(c.numberC));
    put32(r, 12, c.numberD);
    r[16] = c.kind & 0x3F;
    if (c.kind == 1 || c.kind == 2) {
        std::copy_n(c.text.begin(), std::min(c.text.size(), kTextBytes), r.begin() + kText);
    } else {
        Bytes codes(kTextBytes);
        putDialCodes(codes, kDigitsA - kText, 32, c.digitsA);
        putDialCodes(codes, kDigitsB - kText, 32, c.digitsB);
        putDialCodes(codes, kDigitsC - kText, 32, c.digitsC);
        std::copy(codes.begin(), codes.end(), r.begin() + kText);
    }
    put32(r, kDateTime, c.when.packed());
    put32(r, 124, c.durationCount);
    put32(r, 128, c.valueA);
    put32(r, 132, c.valueB);
    put32(r, 136, c.address);
    r[140] = static_cast<uint8_t>(c.wordA);
    r[141] = static_cast<uint8_t>(c.wordA >> 8);
    r[142] = static_cast<uint8_t>(c.wordB);
    r[143] = static_cast<uint8_t>(c.wordB >> 8);
    seal(r);
    return r;
}

CallRecord sample(uint32_t index) {
    CallRecord c;
    c.when = DateTime{2024, 5, 17, 10 + (30 + index) / 60 % 14, (30 + index) % 60, 0};
    switch (index % 3) {
    case 0:  // a finished call with every field
        c.kind = 5;
        c.numberA = 17;
        c.numberB = 4711;
        c.numberC = static_cast<int32_t>(index + 1);
        c.numberD = 1000 + index;
        c.digitsA = "4711";
        c.digitsB = "17";
        c.digitsC = "0815";
        c.durationCount = 125 * (30 + index % 30);  // about a minute
        c.valueA = 3;
        c.valueB = 4;
        c.address = 0xC000020A;  // 192.0.2.10
        c.wordA = 1;
        c.wordB = 2;
        break;
    case 1:  // a note
        c.kind = 1;
        c.text = "Call record note " + std::to_string(index + 1);
        break;
    default:  // a call that was not answered
        c.kind = 3;
        c.numberA = 18;
        c.numberC = 4712;
        c.digitsA = "4712";
        c.digitsC = "18";
        break;
    }
    return c;
}

std::string describe(const CallRecord &c) {
    std::string line = "kind " + std::to_string(c.kind) + " " + c.when.text();
    if (c.kind == 1 || c.kind == 2) return line + " \"" + c.text + "\"";
    return line + " " + std::to_string(c.numberA) + " -> " + std::to_string(c.numberB) + " digits " +
           c.digitsA + "/" + c.digitsB + "/" + c.digitsC;
}

}  // namespace qsim::feed
