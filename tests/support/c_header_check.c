/* Compiled as C99 with -pedantic: the public headers are plain C. */
#include "qapi.h"

int qapiCHeaderCheck(void);
int qapiCHeaderCheck(void) {
    QapiStatusPayload p;
    QapiStatusSnapshot s;
    QapiLineList l;
    QapiCmdrRecordPayload r;
    QapiRouteRequestPayload route;
    QapiExtensionStatus watched;
    int(QAPI_CALL * texts[4])(QapiHandle, const char *) = {QAPI_Client_newcall, QAPI_Client_digits,
                                                           QAPI_Client_transfer_undo, QAPI_Client_deflect};
    int(QAPI_CALL * keys[11])(QapiHandle) = {
        QAPI_Client_answer,       QAPI_Client_clear,       QAPI_Client_hold,       QAPI_Client_retrieve,
        QAPI_Client_callb,        QAPI_Client_suspend,     QAPI_Client_conference, QAPI_Client_transfer,
        QAPI_Client_record_start, QAPI_Client_record_stop, QAPI_Client_mailbox};
    int(QAPI_CALL * watch)(QapiHandle, int32_t, int32_t) = QAPI_Client_bdp_register;
    int(QAPI_CALL * byValue[3])(QapiHandle, int32_t) = {QAPI_Client_bdp_answer, QAPI_Client_bdp_intrude,
                                                        QAPI_Client_resume};
    QapiHandle(QAPI_CALL * start)(QapiWindow, int32_t) = QAPI_Client_start;
    QapiHandle(QAPI_CALL * startThread)(QapiThreadId, int32_t) = QAPI_Client_start_Thread;
    int(QAPI_CALL * stop)(QapiHandle) = QAPI_Client_stop;
    QapiHandle(QAPI_CALL * startFeed)(QapiWindow, const char *, uint32_t) = QAPI_Cmdr_start;
    int(QAPI_CALL * stopFeed)(QapiHandle) = QAPI_Cmdr_stop;
    p.state = QAPI_NOTIFY_HEARTBEAT;
    s.regState = QAPI_REG_REGISTERED;
    s.canAnswer = 1;
    l.lines[QAPI_LINE_LIST_SLOTS - 1] = 0;
    r.kindLetter = 'A';
    r.texts.dial.textA[0] = r.texts.text[95] = r.serverAddressText[0] = 0;
    route.handle = QAPI_ADJUNCT_UP;
    route.textA[0] = '\0';
    watched.extension = 100;
    watched.status = QAPI_NOTIFY_EXTENSION;
    return (int)(QAPI_NOTIFY_MSG + (uint32_t)p.state + (uint32_t)s.regState + s.canAnswer + r.kindLetter +
                 route.handle + (uint32_t)sizeof route.textB) +
           (l.lines[QAPI_LINE_LIST_SLOTS - 1] == 0) + (start != 0) + (startThread != 0) + (stop != 0) +
           (startFeed != 0) + (stopFeed != 0) + (texts[3] != 0) + (keys[10] != 0) + (watch != 0) +
           (byValue[2] != 0) + watched.extension + watched.status;
}
