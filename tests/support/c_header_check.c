/* Compiled as C99 with -pedantic: the public headers are plain C. */
#include "qapi.h"
#include "qmsg.h"

int qapiCHeaderCheck(void);
int qapiCHeaderCheck(void) {
    QMessage m;
    QapiStatusPayload p;
    QapiStatusSnapshot s;
    QapiLineList l;
    QapiCmdrRecordPayload r;
    QapiRouteRequestPayload route;
    QapiHandle (*start)(QWindow, int32_t) = QAPI_Client_start;
    QapiHandle (*startThread)(QThreadId, int32_t) = QAPI_Client_start_Thread;
    int (*stop)(QapiHandle) = QAPI_Client_stop;
    QapiHandle (*startFeed)(QWindow, const char *, uint32_t) = QAPI_Cmdr_start;
    int (*stopFeed)(QapiHandle) = QAPI_Cmdr_stop;
    m.message = QAPI_NOTIFY_MSG;
    p.state = QAPI_NOTIFY_HEARTBEAT;
    s.regState = QAPI_REG_REGISTERED;
    s.canAnswer = 1;
    l.lines[QAPI_LINE_LIST_SLOTS - 1] = 0;
    r.kindLetter = 'A';
    r.texts.dial.textA[0] = r.texts.text[95] = r.serverAddressText[0] = 0;
    route.handle = QAPI_ADJUNCT_UP;
    route.textA[0] = '\0';
    return (int)(m.message + (uint32_t)p.state + (uint32_t)s.regState + s.canAnswer + r.kindLetter +
                 route.handle + (uint32_t)sizeof route.textB) +
           (l.lines[QAPI_LINE_LIST_SLOTS - 1] == 0) + (start != 0) + (startThread != 0) + (stop != 0) +
           (startFeed != 0) + (stopFeed != 0);
}
