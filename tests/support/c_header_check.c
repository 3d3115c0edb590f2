/* Compiled as C99 with -pedantic: the public headers are plain C. */
#include "qapi.h"
#include "qmsg.h"

int qapiCHeaderCheck(void);
int qapiCHeaderCheck(void) {
    QMessage m;
    QapiStatusPayload p;
    QapiRouteRequestPayload r;
    m.message = QAPI_NOTIFY_MSG;
    p.state = QAPI_NOTIFY_HEARTBEAT;
    r.handle = QAPI_ADJUNCT_UP;
    r.textA[0] = '\0';
    return (int)(m.message + (uint32_t)p.state + r.handle + (uint32_t)sizeof r.textB);
}
