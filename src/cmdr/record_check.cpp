// The three integrity checks of a call record, one record at a time and for
// many records at once.
#include "cmdr/record.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qapi {

namespace {

// (v mod 256) mod 251: the sum wraps at 8 bits first, and a wrapped value
// needs at most one subtraction.
uint8_t reduce251(unsigned v) {
    v &= 0xFF;
    return static_cast<uint8_t>(v >= 251 ? v - 251 : v);
}

#if defined(__SSE2__)
// Sixteen records at once, one in each byte lane of a vector: the check sum's
// two chains are serial within a record, so the records run side by side.  A
// wrapped sum w reduces to min(w, w + 5 mod 256): w - 251 where w >= 251,
// else w itself.
constexpr size_t kLanes = 16;

// Bytes at..at+15 of the 16 rows, turned so that col[i] holds byte at+i of
// every row (lane k: row k).  Four rounds of interleaving register k with
// register k + 8 transpose the 16 x 16 bytes.
[[gnu::always_inline]] inline void interleave(const __m128i in[kLanes], __m128i out[kLanes]) {
    for (size_t k = 0; k < kLanes / 2; ++k) {
        out[2 * k] = _mm_unpacklo_epi8(in[k], in[k + kLanes / 2]);
        out[2 * k + 1] = _mm_unpackhi_epi8(in[k], in[k + kLanes / 2]);
    }
}
[[gnu::always_inline]] inline void transpose(const uint8_t *const row[kLanes], size_t at,
                                             __m128i col[kLanes]) {
    __m128i a[kLanes], b[kLanes];
    for (size_t k = 0; k < kLanes; ++k)
        a[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row[k] + at));
    interleave(a, b);
    interleave(b, a);
    interleave(a, b);
    interleave(b, col);
}

struct Sums {
    __m128i s0 = _mm_set1_epi8(1);
    __m128i s1 = _mm_setzero_si128();
    __m128i bytes = _mm_setzero_si128();  // the byte sum

    static __m128i reduce(__m128i w) { return _mm_min_epu8(w, _mm_add_epi8(w, _mm_set1_epi8(5))); }
    void checkSum(__m128i b) {
        s0 = reduce(_mm_add_epi8(s0, b));
        s1 = reduce(_mm_add_epi8(s1, s0));
    }
    void both(__m128i b) {
        bytes = _mm_add_epi8(bytes, b);
        checkSum(b);
    }
};

// Bit k set: record k (k < count) passes the three checks.
unsigned checkGroup(const uint8_t *records, size_t count) {
    const uint8_t *row[kLanes];
    for (size_t k = 0; k < kLanes; ++k) row[k] = records + (k < count ? k : 0) * kCmdrRecordSize;
    Sums sums;
    __m128i col[kLanes];
    // Loads of 16 bytes from 0 up to 143 (none reads past the record), then
    // the record's last 16 bytes, 138 to 153, of which 144 on are new.
    constexpr size_t kTail = kCmdrRecordSize - kLanes;
    constexpr size_t kWhole = (kTail / kLanes + 1) * kLanes;
    for (size_t at = 0; at < kWhole; at += kLanes) {
        transpose(row, at, col);
        for (const __m128i &b : col) sums.both(b);
    }
    transpose(row, kTail, col);
    for (size_t i = kWhole - kTail; i < rec::kByteSum - kTail; ++i) sums.both(col[i]);
    sums.checkSum(col[rec::kByteSum - kTail]);
    // A check sum of 0 is given as 0xFFFF.
    const __m128i zero = _mm_cmpeq_epi8(_mm_or_si128(sums.s0, sums.s1), _mm_setzero_si128());
    const __m128i ok = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(col[rec::kCheckLow - kTail], _mm_or_si128(sums.s0, zero)),
                      _mm_cmpeq_epi8(col[rec::kCheckHigh - kTail], _mm_or_si128(sums.s1, zero))),
        _mm_and_si128(_mm_cmpeq_epi8(col[rec::kByteSum - kTail], sums.bytes),
                      _mm_cmpeq_epi8(col[rec::kMarker - kTail], _mm_set1_epi8(static_cast<char>(0xFF)))));
    return static_cast<unsigned>(_mm_movemask_epi8(ok));
}
static_assert(rec::kMarker + 1 == rec::kByteSum && rec::kByteSum + 1 == rec::kCheckLow &&
              rec::kCheckLow + 1 == rec::kCheckHigh && rec::kCheckHigh + 1 == kCmdrRecordSize);
#endif

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

size_t cmdrCountValidRecords(const uint8_t *records, size_t count) {
    size_t first = 0;
#if defined(__SSE2__)
    // A lone record goes faster on its own.
    while (count - first >= 2) {
        const size_t n = count - first < kLanes ? count - first : kLanes;
        const unsigned valid = checkGroup(records + first * kCmdrRecordSize, n);
        for (size_t k = 0; k < n; ++k) {
            if (!(valid >> k & 1)) return first + k;
        }
        first += n;
    }
#endif
    while (first < count && cmdrRecordIsValid(records + first * kCmdrRecordSize)) ++first;
    return first;
}

}  // namespace qapi
