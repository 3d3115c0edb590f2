/* Compiled as C99 with -pedantic: the public headers are plain C. */
#include "qapi.h"
#include "qmsg.h"

int qapiCHeaderCheck(void);
int qapiCHeaderCheck(void) {
    QMessage m;
    QapiStatusPayload p;
    m.message = QAPI_NOTIFY_MSG;
    p.state = QAPI_NOTIFY_HEARTBEAT;
    return (int)(m.message + (uint32_t)p.state);
}
