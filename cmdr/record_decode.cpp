// Decoding of a valid call record into the payload of NotifyCode 101.
#include "cmdr/address_text.h"
#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "core/notify.h"
#include "core/scratch.h"
#include "core/wire.h"
#include "dial/dial_codes.h"

namespace qapi {
namespace {

// Fields of the packed date and time word.
struct DateField {
    unsigned shift;
    uint32_t mask;
};
constexpr DateField kSecond{0, 0x3F};
constexpr DateField kMinute{6, 0x3F};
constexpr DateField kHour{12, 0x1F};
constexpr DateField kDay{17, 0x1F};
constexpr DateField kMonth{22, 0x0F};
constexpr DateField kYear{26, 0x3F};

uint32_t field(uint32_t word, DateField f) { return (word >> f.shift) & f.mask; }

uint32_t withField(uint32_t word, DateField f, uint32_t value) {
    return (word & ~(f.mask << f.shift)) | ((value & f.mask) << f.shift);
}

// Out-of-range fields take a valid value; the others are left alone.
uint32_t normalisedDateTime(uint32_t w) {
    if (field(w, kMonth) == 0 || field(w, kMonth) > 12) w = withField(w, kMonth, 1);
    if (field(w, kDay) == 0) w = withField(w, kDay, 1);
    if (field(w, kHour) > 23) w = withField(w, kHour, 0);
    if (field(w, kMinute) > 59) w = withField(w, kMinute, 0);
    if (field(w, kSecond) > 59) w = withField(w, kSecond, 0);
    return w;
}

void writeDateTime(uint32_t packed, CmdrRecordPayload &out) {
    const uint32_t w = normalisedDateTime(packed);
    out.second = static_cast<uint16_t>(field(w, kSecond));
    out.minute = static_cast<uint16_t>(field(w, kMinute));
    out.hour = static_cast<uint16_t>(field(w, kHour));
    out.day = static_cast<uint16_t>(field(w, kDay));
    out.month = static_cast<uint16_t>(field(w, kMonth));
    out.year = static_cast<uint16_t>(2000 + field(w, kYear));
}

// The dial characters of a field up to its first non-dial code.  The area's
// last byte is always the NUL, so a 32-code field gives at most 31 characters.
template <size_t N>
void writeDialText(const uint8_t *codes, size_t count, char (&area)[N]) {
    dialCodesToBlankEnded(codes, count < N - 1 ? count : N - 1, area);
}

// The one text of kinds 1 and 2: up to its first NUL, at most 95 characters.
void writeRecordText(const uint8_t *record, char (&text)[rec::kTextLength]) {
    const uint8_t *from = record + rec::kText;
    for (size_t i = 0; i < rec::kTextLength && from[i] != 0; ++i) text[i] = static_cast<char>(from[i]);
    text[rec::kTextLength - 1] = '\0';
}

}  // namespace

uint32_t durationOf(uint32_t c) {
    // 2c/125 = 2q + 2r/125 with c = 125q + r; the remainder part is rounded
    // half up as (4r + 125) / 250, which stays far from overflow.
    const uint32_t q = c / 125;
    const uint32_t r = c % 125;
    return 2 * q + (4 * r + 125) / 250;
}

void decodeCmdrRecord(const uint8_t *record, const uint8_t *serverAddress, RemoteFamily serverFamily,
                      CmdrRecordPayload &out) {
    const unsigned kind = record[rec::kKind] & 0x3F;
    out.kindLetter = static_cast<uint8_t>('A' + kind);
    writeDateTime(readU32le(record + rec::kDateTime), out);
    formatAddress(serverAddress, serverFamily, out.serverAddressText);

    const int32_t numberA = readI32le(record + rec::kNumberA);
    const int32_t numberB = readI32le(record + rec::kNumberB);
    const int32_t numberC = readI32le(record + rec::kNumberC);
    const uint16_t wordA = readU16le(record + rec::kWordA);
    const uint16_t wordB = readU16le(record + rec::kWordB);
    out.numberA = numberA;
    out.numberB = -1;
    out.numberC = numberC;
    switch (kind) {
    case 1:
        out.numberA = -1;
        out.numberC = -1;
        writeRecordText(record, out.texts.text);
        break;
    case 2:
        writeRecordText(record, out.texts.text);
        out.wordB = wordB;
        break;
    case 3:
        writeDialText(record + rec::kDigitsA, rec::kDigitsCodes, out.texts.dial.textA);
        writeDialText(record + rec::kDigitsC, rec::kDigitsCCodes, out.texts.dial.textC);
        break;
    case 4:
        out.numberC = -1;
        out.wordA = wordA;
        out.wordB = wordB;
        break;
    default:
        out.numberB = numberB;
        writeDialText(record + rec::kDigitsA, rec::kDigitsCodes, out.texts.dial.textA);
        writeDialText(record + rec::kDigitsB, rec::kDigitsCodes, out.texts.dial.textB);
        writeDialText(record + rec::kDigitsC, rec::kDigitsCCodes, out.texts.dial.textC);
        out.duration = durationOf(readU32le(record + rec::kDurationCount));
        out.wordA = wordA;
        out.wordB = wordB;
        out.valueA = readU32le(record + rec::kValueA);
        out.valueB = readU32le(record + rec::kValueB);
        formatIpv4(readU32le(record + rec::kAddress), out.addressText);
        out.numberD = readU32le(record + rec::kNumberD);
        break;
    }
}

void cmdrDecodeRecord(const CmdrFeed &feed, const uint8_t *record) {
    auto *payload = cutScratchFor<CmdrRecordPayload>();
    decodeCmdrRecord(record, feed.endpoint.remoteAddress, feed.endpoint.remoteFamily, *payload);
    postToWindow(feed.window, QAPI_NOTIFY_CMDR_RECORD, reinterpret_cast<intptr_t>(payload));
}

}  // namespace qapi
