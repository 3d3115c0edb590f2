// The three integrity checks of a call record.
#include "cmdr/record.h"

namespace qapi {

namespace {

// (v mod 256) mod 251: the sum wraps at 8 bits first, and a wrapped value
// needs at most one subtraction.
uint8_t reduce251(unsigned v) {
    v &= 0xFF;
    return static_cast<uint8_t>(v >= 251 ? v - 251 : v);
}

}  // namespace

uint16_t cmdrFletcher251(const uint8_t *bytes, size_t length) {
    // Each addition wraps at 8 bits before the reduction modulo 251: the
    // server computes it so, and the check bytes must match that form.
    uint8_t s0 = 1;
    uint8_t s1 = 0;
    for (size_t i = 0; i < length; ++i) {
        s0 = reduce251(s0 + bytes[i]);
        s1 = reduce251(s1 + s0);
    }
    const uint16_t check = static_cast<uint16_t>(s1 * 256 + s0);
    return check == 0 ? 0xFFFF : check;
}

uint8_t cmdrSumBytes(const uint8_t *bytes, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

bool cmdrRecordIsValid(const uint8_t *record) {
    const uint16_t check = cmdrFletcher251(record, rec::kCheckLow);
    return record[rec::kCheckLow] == (check & 0xFF) && record[rec::kCheckHigh] == (check >> 8) &&
           cmdrSumBytes(record, rec::kByteSum) == record[rec::kByteSum] &&
           record[rec::kMarker] == rec::kMarkerValue;
}

}  // namespace qapi
