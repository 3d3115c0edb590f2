/*
 * qapi.h - QapiDll, the client library of the Quentara call server.
 *
 * An application initialises the library once on a thread that runs a
 * message loop (see qmsg.h), starts handles for the stations, call-record
 * feeds and routing adjunct links it wants, and receives everything the
 * library has to say as messages numbered QAPI_NOTIFY_MSG.  wParam carries a
 * QapiNotifyCode; lParam a small integer or a pointer to a payload record.
 *
 * Payload records are cut from a rotating 512 KiB buffer inside the library:
 * read or copy them while handling the message and never free them.
 *
 * Exported functions return 0 for accepted and 1 for refused; start
 * functions return a handle or NULL.
 *
 * Plain C, usable from C99 and C++.
 */
#ifndef QAPI_H
#define QAPI_H

#include <stdint.h>

#include "qmsg.h"

#if defined(_WIN32)
#define QAPI_EXPORT __declspec(dllexport)
#else
#define QAPI_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The one message number of every notification. */
#define QAPI_NOTIFY_MSG 49000u

/* wParam of QAPI_NOTIFY_MSG. */
typedef enum QapiNotifyCode {
    QAPI_NOTIFY_SNAPSHOT = 1,          /* station: QapiStatusSnapshot*            */
    QAPI_NOTIFY_KEY = 2,               /* station: dial character, 255 = none     */
    QAPI_NOTIFY_DIGIT = 3,             /* station: dial character                 */
    QAPI_NOTIFY_NUMBER = 4,            /* station: const char* number text        */
    QAPI_NOTIFY_TEXT = 5,              /* station: const char* dialed/display text*/
    QAPI_NOTIFY_EXTENSION = 6,         /* station: QapiExtensionStatus*           */
    QAPI_NOTIFY_CALL_LIST = 7,         /* station: QapiLineList* of calls         */
    QAPI_NOTIFY_PARK_LIST = 8,         /* station: QapiLineList* of parked calls  */
    QAPI_NOTIFY_CMDR_STATUS = 100,     /* feed: QapiStatusPayload*                */
    QAPI_NOTIFY_CMDR_RECORD = 101,     /* feed: QapiCmdrRecordPayload*            */
    QAPI_NOTIFY_ADJUNCT_STATUS = 200,  /* link: QapiStatusPayload*                */
    QAPI_NOTIFY_ROUTE_REQUEST = 201,   /* link: QapiRouteRequestPayload*          */
    QAPI_NOTIFY_HEARTBEAT = 1000       /* station: 0, once a second per client    */
} QapiNotifyCode;

/* Handles are the addresses of the library's records; treat them as opaque. */
typedef void *QapiHandle;

/* Payload of QAPI_NOTIFY_CMDR_STATUS and QAPI_NOTIFY_ADJUNCT_STATUS. */
typedef struct QapiStatusPayload {
    int32_t state;          /* the feed's or link's state                   */
    const char *statusText; /* static text owned by the library, or NULL    */
} QapiStatusPayload;

/*
 * Starts the library on the calling thread, which must run a message loop
 * and make every later call.  port: the UDP port of the station protocol
 * (low 16 bits).  Calling it again drops every handle and takes the new port.
 * Returns 0 when ready, 1 when the socket library failed to start.
 */
QAPI_EXPORT int QAPI_Stack_initialize(uint32_t port);

/* Stops the library: frees every handle and closes every socket. */
QAPI_EXPORT void QAPI_Stack_release(void);

#ifdef __cplusplus
}
#endif

#endif /* QAPI_H */
