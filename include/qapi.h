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

/* ------------------------------------------------------------------------
 * Station clients
 *
 * A station client registers one telephone station with the call server,
 * keeps it registered and reports what happens to it.  Its notifications go
 * to the window or the thread given at its start.
 * ---------------------------------------------------------------------- */

/* QapiStatusSnapshot.regState */
typedef enum QapiRegState {
    QAPI_REG_REGISTERING = 0,
    QAPI_REG_REGISTERED = 1,
    QAPI_REG_FAILED = 2
} QapiRegState;

/*
 * Payload of QAPI_NOTIFY_SNAPSHOT: the station's status as it stood when the
 * notification was posted.  The permission bytes (canNewcall to canPickup)
 * are 0 or 1 and say which operations the station allows now.  In a 32-bit
 * build the record is 64 bytes with the offsets given; in a 64-bit build
 * statusText widens to 8 bytes and the later fields move with it.
 */
typedef struct QapiStatusSnapshot {
    int32_t regState;        /*  0: QapiRegState                                */
    const char *statusText;  /*  4: static text owned by the library, or NULL    */
    uint8_t callState;       /*  8: station call state                           */
    uint8_t reserved1[3];    /*  9: always 0                                     */
    int32_t eventValue;      /* 12: value of the last value event of this state  */
    int32_t infoValue;       /* 16: last information value                       */
    uint8_t canNewcall;      /* 20 */
    uint8_t canDigits;       /* 21 */
    uint8_t isAlerting;      /* 22: 1 while the station rings                    */
    uint8_t canAnswer;       /* 23 */
    uint8_t canClear;        /* 24 */
    uint8_t canHold;         /* 25 */
    uint8_t canRetrieve;     /* 26 */
    uint8_t canCallback;     /* 27 */
    uint8_t canSuspend;      /* 28 */
    uint8_t canConference;   /* 29 */
    uint8_t canTransfer;     /* 30 */
    uint8_t canRecordStart;  /* 31 */
    uint8_t canRecordStop;   /* 32 */
    uint8_t canMailbox;      /* 33 */
    uint8_t canPickup;       /* 34 */
    uint8_t indicator1;      /* 35: station indicators                           */
    uint8_t indicator2;      /* 36 */
    uint8_t indicator3;      /* 37 */
    uint8_t reserved2[2];    /* 38: always 0                                     */
    int32_t stationId;       /* 40 */
    int32_t regValues[4];    /* 44: from the registration, not interpreted       */
    int16_t regShort;        /* 60: from the registration, not interpreted       */
    uint8_t reserved3[2];    /* 62: always 0                                     */
} QapiStatusSnapshot;

/*
 * Payload of QAPI_NOTIFY_CALL_LIST and QAPI_NOTIFY_PARK_LIST: the lines of
 * the list in order, then NULL (every slot after the last line is NULL).
 * Each line is a NUL-terminated text in a 128-byte block.
 */
#define QAPI_LINE_LIST_SLOTS 33
typedef struct QapiLineList {
    const char *lines[QAPI_LINE_LIST_SLOTS];
} QapiLineList;

/*
 * Starts a station client whose notifications go to `window`
 * (QAPI_Client_start) or to thread `threadId` as thread messages
 * (QAPI_Client_start_Thread).  stationId -1 takes the identifier of the
 * server's registration reply.  Returns the handle, or NULL when the target
 * is 0, a live client has the same station identifier, 512 clients are
 * live, or the station endpoint cannot be opened.  Registration starts with
 * the next tick.
 */
QAPI_EXPORT QapiHandle QAPI_Client_start(QWindow window, int32_t stationId);
QAPI_EXPORT QapiHandle QAPI_Client_start_Thread(QThreadId threadId, int32_t stationId);

/* Stops a station client; nothing is sent to the server.  0, or 1 for a handle that is not a live client. */
QAPI_EXPORT int QAPI_Client_stop(QapiHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* QAPI_H */
