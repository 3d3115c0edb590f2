/*
 * The payload records as a 32-bit Windows application reads them from
 * qapi.dll: every offset and size, checked by the compiler of the i686
 * build.  Pointers, handles, window handles and thread ids are 4 bytes.
 */
#include <stddef.h>

#include "qapi.h"

#define AT(record, field, offset) _Static_assert(offsetof(record, field) == (offset), #record "." #field)
#define SIZE(record, size) _Static_assert(sizeof(record) == (size), "sizeof " #record)

SIZE(QapiHandle, 4);
SIZE(QapiWindow, 4);
SIZE(QapiThreadId, 4);

AT(QapiStatusPayload, state, 0);
AT(QapiStatusPayload, statusText, 4);
SIZE(QapiStatusPayload, 8);

AT(QapiStatusSnapshot, regState, 0);
AT(QapiStatusSnapshot, statusText, 4);
AT(QapiStatusSnapshot, callState, 8);
AT(QapiStatusSnapshot, reserved1, 9);
AT(QapiStatusSnapshot, eventValue, 12);
AT(QapiStatusSnapshot, infoValue, 16);
AT(QapiStatusSnapshot, canNewcall, 20);
AT(QapiStatusSnapshot, canDigits, 21);
AT(QapiStatusSnapshot, isAlerting, 22);
AT(QapiStatusSnapshot, canAnswer, 23);
AT(QapiStatusSnapshot, canClear, 24);
AT(QapiStatusSnapshot, canHold, 25);
AT(QapiStatusSnapshot, canRetrieve, 26);
AT(QapiStatusSnapshot, canCallback, 27);
AT(QapiStatusSnapshot, canSuspend, 28);
AT(QapiStatusSnapshot, canConference, 29);
AT(QapiStatusSnapshot, canTransfer, 30);
AT(QapiStatusSnapshot, canRecordStart, 31);
AT(QapiStatusSnapshot, canRecordStop, 32);
AT(QapiStatusSnapshot, canMailbox, 33);
AT(QapiStatusSnapshot, canPickup, 34);
AT(QapiStatusSnapshot, indicator1, 35);
AT(QapiStatusSnapshot, indicator2, 36);
AT(QapiStatusSnapshot, indicator3, 37);
AT(QapiStatusSnapshot, reserved2, 38);
AT(QapiStatusSnapshot, stationId, 40);
AT(QapiStatusSnapshot, regValues, 44);
AT(QapiStatusSnapshot, regShort, 60);
AT(QapiStatusSnapshot, reserved3, 62);
SIZE(QapiStatusSnapshot, 64);

AT(QapiLineList, lines, 0);
SIZE(QapiLineList, 132);

AT(QapiExtensionStatus, extension, 0);
AT(QapiExtensionStatus, status, 4);
SIZE(QapiExtensionStatus, 8);

AT(QapiCmdrTexts, dial.textA, 0);
AT(QapiCmdrTexts, dial.textB, 32);
AT(QapiCmdrTexts, dial.textC, 64);
AT(QapiCmdrTexts, text, 0);
SIZE(QapiCmdrTexts, 96);

AT(QapiCmdrRecordPayload, kindLetter, 0);
AT(QapiCmdrRecordPayload, reserved1, 1);
AT(QapiCmdrRecordPayload, second, 2);
AT(QapiCmdrRecordPayload, minute, 4);
AT(QapiCmdrRecordPayload, hour, 6);
AT(QapiCmdrRecordPayload, day, 8);
AT(QapiCmdrRecordPayload, month, 10);
AT(QapiCmdrRecordPayload, year, 12);
AT(QapiCmdrRecordPayload, reserved2, 14);
AT(QapiCmdrRecordPayload, duration, 16);
AT(QapiCmdrRecordPayload, numberA, 20);
AT(QapiCmdrRecordPayload, numberB, 24);
AT(QapiCmdrRecordPayload, numberC, 28);
AT(QapiCmdrRecordPayload, texts, 32);
AT(QapiCmdrRecordPayload, wordA, 128);
AT(QapiCmdrRecordPayload, wordB, 132);
AT(QapiCmdrRecordPayload, valueA, 136);
AT(QapiCmdrRecordPayload, valueB, 140);
AT(QapiCmdrRecordPayload, addressText, 144);
AT(QapiCmdrRecordPayload, numberD, 192);
AT(QapiCmdrRecordPayload, reserved3, 196);
AT(QapiCmdrRecordPayload, serverAddressText, 212);
SIZE(QapiCmdrRecordPayload, 260);

AT(QapiRouteRequestPayload, handle, 0);
AT(QapiRouteRequestPayload, second, 4);
AT(QapiRouteRequestPayload, minute, 6);
AT(QapiRouteRequestPayload, hour, 8);
AT(QapiRouteRequestPayload, day, 10);
AT(QapiRouteRequestPayload, month, 12);
AT(QapiRouteRequestPayload, year, 14);
AT(QapiRouteRequestPayload, numberB, 16);
AT(QapiRouteRequestPayload, numberA, 20);
AT(QapiRouteRequestPayload, textA, 24);
AT(QapiRouteRequestPayload, textB, 56);
SIZE(QapiRouteRequestPayload, 88);
