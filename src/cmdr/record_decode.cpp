// Decoding of a valid call record into the payload of NotifyCode 101.
#include "cmdr/address_text.h"
#include "cmdr/feed.h"
#include "cmdr/record.h"
#include "core/date_word.h"
#include "core/notify.h"
#include "core/scratch.h"
#include "core/wire.h"
#include "dial/dial_codes.h"

namespace qapi {
namespace {

// The packed date and time; out-of-range fields take a valid value, the
// others are left alone.
void writeDateTime(uint32_t packed, CmdrRecordPayload &out) {
    DateFields d = unpackDateWord(packed);
    if (d.month == 0 || d.month > 12) d.month = 1;
    if (d.day == 0) d.day = 1;
    if (d.hour > 23) d.hour = 0;
    if (d.minute > 59) d.minute = 0;
    if (d.second > 59) d.second = 0;
    out.second = d.second;
    out.minute = d.minute;
    out.hour = d.hour;
    out.day = d.day;
    out.month = d.month;
    out.year = d.year;
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

uint32_t cmdrDurationOf(uint32_t c) {
    // 2c/125 = 2q + 2r/125 with c = 125q + r; the remainder part is rounded
    // half up as (4r + 125) / 250, which stays far from overflow.
    const uint32_t q = c / 125;
    const uint32_t r = c % 125;
    return 2 * q + (4 * r + 125) / 250;
}

void cmdrDecodeRecord(const uint8_t *record, const uint8_t *serverAddress, RemoteFamily serverFamily,
                      CmdrRecordPayload &out) {
    const unsigned kind = record[rec::kKind] & 0x3F;
    out.kindLetter = static_cast<uint8_t>('A' + kind);
    writeDateTime(readU32le(record + rec::kDateTime), out);
    cmdrFormatAddress(serverAddress, serverFamily, out.serverAddressText);

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
        out.duration = cmdrDurationOf(readU32le(record + rec::kDurationCount));
        out.wordA = wordA;
        out.wordB = wordB;
        out.valueA = readU32le(record + rec::kValueA);
        out.valueB = readU32le(record + rec::kValueB);
        cmdrFormatIpv4(readU32le(record + rec::kAddress), out.addressText);
        out.numberD = readU32le(record + rec::kNumberD);
        break;
    }
}

void cmdrPostRecords(const CmdrFeed &feed, const uint8_t *records, size_t count) {
    intptr_t payloads[kFeedBufferRecords];
    for (size_t done = 0; done < count;) {
        const size_t n = count - done < kFeedBufferRecords ? count - done : kFeedBufferRecords;
        for (size_t k = 0; k < n; ++k) {
            auto *payload = cutScratchFor<CmdrRecordPayload>();
            cmdrDecodeRecord(records + (done + k) * kCmdrRecordSize, feed.endpoint.remoteAddress,
                             feed.endpoint.remoteFamily, *payload);
            payloads[k] = reinterpret_cast<intptr_t>(payload);
        }
        postManyToWindow(feed.window, QAPI_NOTIFY_CMDR_RECORD, payloads, n);
        done += n;
    }
}

void cmdrPostRecord(const CmdrFeed &feed, const uint8_t *record) { cmdrPostRecords(feed, record, 1); }

}  // namespace qapi
