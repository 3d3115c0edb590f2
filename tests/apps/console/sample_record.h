// A call record of kind F with its dial-code texts, as the feed decodes one.
#pragma once

#include <cstring>

#include "qapi.h"

namespace qconsole {

inline QapiCmdrRecordPayload dialRecord() {
    QapiCmdrRecordPayload r{};
    r.kindLetter = 'F';
    r.year = 2024;
    r.month = 5;
    r.day = 17;
    r.hour = 10;
    r.minute = 30;
    r.second = 7;
    r.duration = 60;
    r.numberA = 17;
    r.numberB = 4711;
    r.numberC = -1;
    r.numberD = 1000;
    std::strcpy(r.texts.dial.textA, "4711");
    std::strcpy(r.texts.dial.textC, "0815");
    std::strcpy(r.addressText, "192.0.2.10");
    std::strcpy(r.serverAddressText, "::1");
    return r;
}

}  // namespace qconsole
