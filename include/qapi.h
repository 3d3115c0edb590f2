/*
 * qapi.h - QapiDll, the client library of the Quentara call server.
 *
 * An application initialises the library once on a thread that runs a
 * message loop, starts handles for the stations, call-record feeds and
 * routing adjunct links it wants, and receives everything the library has to
 * say as messages numbered QAPI_NOTIFY_MSG posted to its windows or threads.
 * wParam carries a QapiNotifyCode; lParam a small integer or a pointer to a
 * payload record.
 *
 * On Windows the library is qapi.dll: notifications arrive in the
 * application's own message loop (PostMessageA to its windows,
 * PostThreadMessageA to its threads) and every export is __stdcall.
 * Elsewhere the message layer of qmsg.h carries them.
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

#include "qapi_version.h"

/*
 * QAPI_CALL: the calling convention of every export (__stdcall on Windows,
 * the platform's own elsewhere).  QAPI_EXPORT: imported from the DLL by
 * applications; the library's own build defines QAPI_BUILD_DLL.
 * QapiWindow and QapiThreadId: the targets of notifications.
 */
#if defined(_WIN32)
#include <windows.h>
#define QAPI_CALL __stdcall
#if defined(QAPI_BUILD_DLL)
#define QAPI_EXPORT __declspec(dllexport)
#else
#define QAPI_EXPORT __declspec(dllimport)
#endif
typedef HWND QapiWindow;
typedef DWORD QapiThreadId;
#else
#include "qmsg.h"
#define QAPI_CALL
#define QAPI_EXPORT __attribute__((visibility("default")))
typedef QWindow QapiWindow;
typedef QThreadId QapiThreadId;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The one message number of every notification. */
#define QAPI_NOTIFY_MSG 49000u

/* wParam of QAPI_NOTIFY_MSG. */
typedef enum QapiNotifyCode {
    QAPI_NOTIFY_SNAPSHOT = 1,         /* station: QapiStatusSnapshot*            */
    QAPI_NOTIFY_KEY = 2,              /* station: dial character, 255 = none     */
    QAPI_NOTIFY_DIGIT = 3,            /* station: dial character                 */
    QAPI_NOTIFY_NUMBER = 4,           /* station: const char* number text        */
    QAPI_NOTIFY_TEXT = 5,             /* station: const char* dialed/display text*/
    QAPI_NOTIFY_EXTENSION = 6,        /* station: QapiExtensionStatus*           */
    QAPI_NOTIFY_CALL_LIST = 7,        /* station: QapiLineList* of calls         */
    QAPI_NOTIFY_PARK_LIST = 8,        /* station: QapiLineList* of parked calls  */
    QAPI_NOTIFY_CMDR_STATUS = 100,    /* feed: QapiStatusPayload*                */
    QAPI_NOTIFY_CMDR_RECORD = 101,    /* feed: QapiCmdrRecordPayload*            */
    QAPI_NOTIFY_ADJUNCT_STATUS = 200, /* link: QapiStatusPayload*                */
    QAPI_NOTIFY_ROUTE_REQUEST = 201,  /* link: QapiRouteRequestPayload*          */
    QAPI_NOTIFY_HEARTBEAT = 1000      /* station: 0, once a second per client    */
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
QAPI_EXPORT int QAPI_CALL QAPI_Stack_initialize(uint32_t port);

/* Stops the library: frees every handle and closes every socket. */
QAPI_EXPORT void QAPI_CALL QAPI_Stack_release(void);

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
    int32_t regState;       /*  0: QapiRegState                                */
    const char *statusText; /*  4: static text owned by the library, or NULL    */
    uint8_t callState;      /*  8: station call state                           */
    uint8_t reserved1[3];   /*  9: always 0                                     */
    int32_t eventValue;     /* 12: value of the last value event of this state  */
    int32_t infoValue;      /* 16: last information value                       */
    uint8_t canNewcall;     /* 20 */
    uint8_t canDigits;      /* 21 */
    uint8_t isAlerting;     /* 22: 1 while the station rings                    */
    uint8_t canAnswer;      /* 23 */
    uint8_t canClear;       /* 24 */
    uint8_t canHold;        /* 25 */
    uint8_t canRetrieve;    /* 26 */
    uint8_t canCallback;    /* 27 */
    uint8_t canSuspend;     /* 28 */
    uint8_t canConference;  /* 29 */
    uint8_t canTransfer;    /* 30 */
    uint8_t canRecordStart; /* 31 */
    uint8_t canRecordStop;  /* 32 */
    uint8_t canMailbox;     /* 33 */
    uint8_t canPickup;      /* 34 */
    uint8_t indicator1;     /* 35: station indicators                           */
    uint8_t indicator2;     /* 36 */
    uint8_t indicator3;     /* 37 */
    uint8_t reserved2[2];   /* 38: always 0                                     */
    int32_t stationId;      /* 40 */
    int32_t regValues[4];   /* 44: from the registration, not interpreted       */
    int16_t regShort;       /* 60: from the registration, not interpreted       */
    uint8_t reserved3[2];   /* 62: always 0                                     */
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
QAPI_EXPORT QapiHandle QAPI_CALL QAPI_Client_start(QapiWindow window, int32_t stationId);
QAPI_EXPORT QapiHandle QAPI_CALL QAPI_Client_start_Thread(QapiThreadId threadId, int32_t stationId);

/* Stops a station client; nothing is sent to the server.  0, or 1 for a handle that is not a live client. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_stop(QapiHandle handle);

/* ---- Station operations ---------------------------------------------------
 * Every operation returns 0 when its request was queued or sent (not when
 * the server carried it out: the outcome arrives as notifications), and 1
 * when refused: a handle that is not a live client, an operation that the
 * last snapshot does not allow, a missing or unusable text argument, or a
 * full request queue (63 requests waiting).  A refused operation changes
 * nothing.  Digit texts: the leading dial characters (0-9, A-D in either
 * case, '*', '#'), at most 32; the first other character ends them.
 */

/* Starts a call, dialing `digits` (NULL for none); sent at once.  Posts
 * QAPI_NOTIFY_TEXT with the client's dialed text.  Needs canNewcall. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_newcall(QapiHandle client, const char *digits);
/* Dials further digits: those given within about 0.4 s of each other travel
 * together.  Posts QAPI_NOTIFY_TEXT with the dialed text, also when refused
 * for a text without dial characters.  Needs canDigits. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_digits(QapiHandle client, const char *digits);

/* Feature keys, each gated by the permission byte of the same name. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_answer(QapiHandle client);       /* canAnswer      */
QAPI_EXPORT int QAPI_CALL QAPI_Client_clear(QapiHandle client);        /* canClear       */
QAPI_EXPORT int QAPI_CALL QAPI_Client_hold(QapiHandle client);         /* canHold        */
QAPI_EXPORT int QAPI_CALL QAPI_Client_retrieve(QapiHandle client);     /* canRetrieve    */
QAPI_EXPORT int QAPI_CALL QAPI_Client_callb(QapiHandle client);        /* canCallback    */
QAPI_EXPORT int QAPI_CALL QAPI_Client_suspend(QapiHandle client);      /* canSuspend     */
QAPI_EXPORT int QAPI_CALL QAPI_Client_conference(QapiHandle client);   /* canConference  */
QAPI_EXPORT int QAPI_CALL QAPI_Client_transfer(QapiHandle client);     /* canTransfer    */
QAPI_EXPORT int QAPI_CALL QAPI_Client_record_start(QapiHandle client); /* canRecordStart */
QAPI_EXPORT int QAPI_CALL QAPI_Client_record_stop(QapiHandle client);  /* canRecordStop  */
QAPI_EXPORT int QAPI_CALL QAPI_Client_mailbox(QapiHandle client);      /* canMailbox     */

/* Takes back the call of the station's call list whose number is the
 * leading decimal of `number` (e.g. "0042").  Needs canPickup. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_transfer_undo(QapiHandle client, const char *number);
/* Deflects the present call to `digits`; allowed in any state. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_deflect(QapiHandle client, const char *digits);

/* ---- Busy-lamp panel: watched extensions ---------------------------------- */

/* Payload of QAPI_NOTIFY_EXTENSION: a watched extension's reported status. */
typedef struct QapiExtensionStatus {
    int32_t extension; /* 0 */
    int32_t status;    /* 4: 0 to 255; 2 can be answered, 3 intruded on */
} QapiExtensionStatus;

/* Watches `extension` (on: low 8 bits non-zero) or stops watching it.  New
 * watches are sent to the server about one second after the last of a
 * burst, once the station is registered.  Refused when 512 are watched. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_bdp_register(QapiHandle client, int32_t extension, int32_t on);
/* Answers the call of a watched extension whose last status is 2. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_bdp_answer(QapiHandle client, int32_t extension);
/* Intrudes on a watched extension whose last status is 3. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_bdp_intrude(QapiHandle client, int32_t extension);

/* ---- Parked calls -------------------------------------------------------- */

/* Takes the parked call whose key (the first word of its entry) is `key`;
 * refused when the last park list (QAPI_NOTIFY_PARK_LIST) does not hold it. */
QAPI_EXPORT int QAPI_CALL QAPI_Client_resume(QapiHandle client, int32_t key);

/* ---- Call-record feed ---------------------------------------------------- */

/* Texts of a call record (at offset 32 of QapiCmdrRecordPayload): the three
 * dial-code texts of most kinds, or one text of up to 95 characters for
 * kinds 1 and 2.  Every text is NUL-terminated. */
typedef union QapiCmdrTexts {
    struct {
        char textA[32];
        char textB[32];
        char textC[32];
    } dial;
    char text[96];
} QapiCmdrTexts;

/* Payload of QAPI_NOTIFY_CMDR_RECORD: one decoded call record, 260 bytes.
 * Fields that the record's kind does not fill are 0 (numbers -1). */
typedef struct QapiCmdrRecordPayload {
    uint8_t kindLetter;         /*   0: 'A' + kind (0..63)                     */
    uint8_t reserved1;          /*   1                                         */
    uint16_t second;            /*   2                                         */
    uint16_t minute;            /*   4                                         */
    uint16_t hour;              /*   6                                         */
    uint16_t day;               /*   8                                         */
    uint16_t month;             /*  10                                         */
    uint16_t year;              /*  12: 2000 to 2063                           */
    uint16_t reserved2;         /*  14                                         */
    uint32_t duration;          /*  16                                         */
    int32_t numberA;            /*  20: or -1                                  */
    int32_t numberB;            /*  24: or -1                                  */
    int32_t numberC;            /*  28: or -1                                  */
    QapiCmdrTexts texts;        /*  32                                         */
    uint32_t wordA;             /* 128                                         */
    uint32_t wordB;             /* 132                                         */
    uint32_t valueA;            /* 136                                         */
    uint32_t valueB;            /* 140                                         */
    char addressText[48];       /* 144: the record's IPv4 address, dotted      */
    uint32_t numberD;           /* 192                                         */
    uint8_t reserved3[16];      /* 196                                         */
    char serverAddressText[48]; /* 212: the feed's server, IPv4 or IPv6 text  */
} QapiCmdrRecordPayload;

/* Feed states in the QapiStatusPayload of QAPI_NOTIFY_CMDR_STATUS. */
#define QAPI_CMDR_RUNNING 1
#define QAPI_CMDR_FAILED 2

/*
 * Opens a feed of call records from the server at host (a name or a numeric
 * IPv4 or IPv6 address) and port (low 16 bits).  Every record arrives at
 * window as QAPI_NOTIFY_CMDR_RECORD; a failure of the connection arrives once
 * as QAPI_NOTIFY_CMDR_STATUS, after which the feed does nothing until it is
 * stopped.  Returns the feed, or NULL when the connection cannot be made,
 * 32 feeds are open, window is 0, host is NULL or the library is not
 * initialised.
 */
QAPI_EXPORT QapiHandle QAPI_CALL QAPI_Cmdr_start(QapiWindow window, const char *host, uint32_t port);

/* Closes and frees a feed.  Returns 0, or 1 when the handle is not a live feed. */
QAPI_EXPORT int QAPI_CALL QAPI_Cmdr_stop(QapiHandle feed);
/* ---- Routing adjunct ---------------------------------------------------
 * A link over which the call server asks where a call is to be routed.  The
 * link reports QAPI_NOTIFY_ADJUNCT_STATUS when it comes up (the server's first
 * answer to a keep-alive) and when it fails; each route request arrives as
 * QAPI_NOTIFY_ROUTE_REQUEST and is answered with QAPI_Adjunct_response within
 * 5 seconds.
 */

/* QapiStatusPayload.state of a link. */
typedef enum QapiAdjunctState {
    QAPI_ADJUNCT_CONNECTING = 0,
    QAPI_ADJUNCT_UP = 1,
    QAPI_ADJUNCT_FAILED = 2 /* statusText: "Connection to Quentara failed!" */
} QapiAdjunctState;

/* Payload of QAPI_NOTIFY_ROUTE_REQUEST (88 bytes).  The date fields are the
 * server's, taken as sent: a month or day of 0 stays 0. */
typedef struct QapiRouteRequestPayload {
    uint32_t handle; /* pass back to QAPI_Adjunct_response                  */
    uint16_t second; /* 0-59                                                */
    uint16_t minute; /* 0-59                                                */
    uint16_t hour;   /* 0-23                                                */
    uint16_t day;    /* 0-31                                                */
    uint16_t month;  /* 0-12                                                */
    uint16_t year;   /* 2000-2063                                           */
    int32_t numberB;
    int32_t numberA;
    char textA[32]; /* dial characters of the A digits, at most 31         */
    char textB[32]; /* dial characters of the B digits, at most 28         */
} QapiRouteRequestPayload;

/*
 * Opens a link to the server at host (name, IPv4 or IPv6 address) and port
 * (low 16 bits); notifications go to window.  Returns the link, or NULL when
 * window is 0, host is NULL, the host cannot be reached or 8 links are open.
 */
QAPI_EXPORT QapiHandle QAPI_CALL QAPI_Adjunct_start(QapiWindow window, const char *host, uint32_t port);

/* Closes the link; requests not yet answered stay unanswered.  0 or 1. */
QAPI_EXPORT int QAPI_CALL QAPI_Adjunct_stop(QapiHandle link);

/*
 * Answers the route request `handle` of this link with the dial characters
 * of digits (at most 32; the first other character ends them; NULL for none)
 * and value.  Refused (1) when the request is unknown, already answered or
 * 50 ticks (5 s) old.
 */
QAPI_EXPORT int QAPI_CALL QAPI_Adjunct_response(QapiHandle link, uint32_t handle, const char *digits,
                                                int32_t value);

#ifdef __cplusplus
}
#endif

#endif /* QAPI_H */
