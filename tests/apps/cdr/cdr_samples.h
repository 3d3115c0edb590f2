// Decoded call records for qapi-cdr's suites.
#pragma once

#include <cstring>
#include <string>

#include "cdr/row.h"

namespace qcdr::test {

inline QapiCmdrRecordPayload call(int32_t numberC, uint16_t minute = 30, uint32_t duration = 60) {
    QapiCmdrRecordPayload r{};
    r.kindLetter = 'F';
    r.year = 2024, r.month = 5, r.day = 17, r.hour = 10, r.minute = minute;
    r.duration = duration;
    r.numberA = 17, r.numberB = 4711, r.numberC = numberC;
    std::strcpy(r.texts.dial.textA, "4711");
    std::strcpy(r.texts.dial.textC, "0815");
    std::strcpy(r.addressText, "192.0.2.10");
    std::strcpy(r.serverAddressText, "127.0.0.1");
    r.valueB = 0xFFFFFFFF;
    return r;
}

inline QapiCmdrRecordPayload note(const char *text) {
    QapiCmdrRecordPayload r{};
    r.kindLetter = 'B';
    r.year = 2024, r.month = 5, r.day = 17, r.hour = 11;
    r.numberA = r.numberB = r.numberC = -1;
    std::strcpy(r.texts.text, text);
    std::strcpy(r.serverAddressText, "127.0.0.1");
    return r;
}

inline Row row(const QapiCmdrRecordPayload &r, uint32_t occurrence = 0) {
    Row out;
    out.record = r;
    out.server = "127.0.0.1:7001";
    out.receivedUs = 1715941800123000;
    out.key = recordKey(r, 7001);
    out.occurrence = occurrence;
    return out;
}

}  // namespace qcdr::test
