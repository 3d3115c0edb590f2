/* Compiled as C99 with -pedantic: the public headers are plain C. */
#include "qapi.h"
#include "qmsg.h"

int qapiCHeaderCheck(void);
int qapiCHeaderCheck(void) {
    QMessage m;
    QapiStatusPayload p;
    QapiCmdrRecordPayload r;
    QapiRouteRequestPayload route;
    QapiHandle (*startFeed)(QWindow, const char *, uint32_t) = QAPI_Cmdr_start;
    int (*stopFeed)(QapiHandle) = QAPI_Cmdr_stop;
    m.message = QAPI_NOTIFY_MSG;
    p.state = QAPI_NOTIFY_HEARTBEAT;
    r.kindLetter = 'A';
    r.texts.dial.textA[0] = r.texts.text[95] = r.serverAddressText[0] = 0;
    route.handle = QAPI_ADJUNCT_UP;
    route.textA[0] = '\0';
    return (int)(m.message + (uint32_t)p.state + r.kindLetter + route.handle +
                 (uint32_t)sizeof route.textB) +
           (startFeed != 0) + (stopFeed != 0);
}
