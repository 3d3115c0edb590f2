#define _POSIX_C_SOURCE 200809L
/* The C side of scripts/bench-dotnet.sh: an application of the library on
 * the manual clock that, round after round, advances the clock one tick and
 * takes every notification with qmsgPeekMessage, copying each payload out
 * as an application does.  It times the tick and the taking.
 *
 *   c_consumer stations FILE WARMUP ROUNDS FIRST COUNT STATION...
 *     the stations register with the simulator and watch extensions FIRST
 *     to FIRST + COUNT - 1; before each round this program multicasts the
 *     datagrams of FILE (COUNT * 12 bytes each) with a time to live of 0, so
 *     that they reach only this host's station port.  WARMUP rounds go
 *     untimed, then ROUNDS are timed.  Counts the statuses of 10 and up (the
 *     file's; the simulator's own are below).
 *   c_consumer records SERVER WARMUP COUNT
 *     a feed of call records from SERVER:7001: rounds untimed until WARMUP
 *     records have come, then timed until WARMUP + COUNT have.
 *
 * Prints "c MODE notifications N us_per_notification X cpu_us_per_notification
 * Y all M checksum C": N taken in the timed rounds, X their time and Y the
 * processor time of every thread of the process over them, M taken in all
 * rounds, C a checksum of all M. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

#include "qapi.h"

#define STATION_PORT 5001
#define MAX_STATIONS 64

static long seen;            /* notifications of every round */
static unsigned long checksum; /* of every round's */
static long taken;           /* notifications of the timed rounds */
static double spent_us;      /* and their time, */
static double cpu_us;        /* and the processor time of every thread */

static double clock_us(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static void pause_ms(long ms) {
    struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&wait, NULL);
}

/* One round: a tick, then every message the queue holds, each handed to take. */
static void round_of(void (*take)(const QMessage *), int timed) {
    long before = seen;
    double start = clock_us(CLOCK_MONOTONIC), cpu_start = clock_us(CLOCK_PROCESS_CPUTIME_ID);
    qmsgAdvanceClock(100);
    QMessage m;
    while (qmsgPeekMessage(&m)) take(&m);
    if (timed) {
        cpu_us += clock_us(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
        spent_us += clock_us(CLOCK_MONOTONIC) - start;
        taken += seen - before;
    }
}

static void take_status(const QMessage *m) {
    static QapiExtensionStatus copy;
    if (m->message != QAPI_NOTIFY_MSG || m->wParam != QAPI_NOTIFY_EXTENSION) return;
    memcpy(&copy, (const void *)m->lParam, sizeof copy);
    if (copy.status >= 10) {
        checksum += (unsigned long)copy.extension * (unsigned long)copy.status;
        seen++;
    }
}

static int registered[MAX_STATIONS];
static int station_ids[MAX_STATIONS];
static int station_count;

static void take_setup(const QMessage *m) {
    if (m->message != QAPI_NOTIFY_MSG || m->wParam != QAPI_NOTIFY_SNAPSHOT) return;
    const QapiStatusSnapshot *s = (const QapiStatusSnapshot *)m->lParam;
    for (int i = 0; i < station_count; i++) {
        if (station_ids[i] == s->stationId) registered[i] = s->regState == QAPI_REG_REGISTERED;
    }
}

static int all_registered(void) {
    for (int i = 0; i < station_count; i++) {
        if (!registered[i]) return 0;
    }
    return 1;
}

static char *read_file(const char *path, long *size) {
    FILE *f = fopen(path, "rb");
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    *size = ftell(f);
    rewind(f);
    char *bytes = malloc((size_t)*size);
    if (bytes && fread(bytes, 1, (size_t)*size, f) != (size_t)*size) {
        free(bytes);
        bytes = NULL;
    }
    fclose(f);
    return bytes;
}

static int stations(int argc, char **argv) {
    if (argc < 8) return 2;
    long size = 0;
    char *datagrams = read_file(argv[2], &size);
    long warmup = atol(argv[3]), rounds = atol(argv[4]);
    int first = atoi(argv[5]), count = atoi(argv[6]);
    long each = (long)count * 12;
    station_count = argc - 7 < MAX_STATIONS ? argc - 7 : MAX_STATIONS;
    if (!datagrams || count < 1 || size % each != 0) {
        fprintf(stderr, "c_consumer: %s is no file of %ld-byte datagrams\n", argv[2], each);
        return 1;
    }
    QWindow window = qmsgCreateWindow();
    for (int i = 0; i < station_count; i++) {
        station_ids[i] = atoi(argv[7 + i]);
        QapiHandle station = QAPI_Client_start(window, station_ids[i]);
        for (int e = 0; station && e < count; e++) QAPI_Client_bdp_register(station, first + e, 1);
        if (!station) {
            fprintf(stderr, "c_consumer: station %d did not start\n", station_ids[i]);
            return 1;
        }
    }
    /* Registered, then the watched extensions sent and the server's answers taken. */
    for (int ticks = 0, after = 0; after < 30; ticks++) {
        if (ticks == 600) {
            fprintf(stderr, "c_consumer: the stations did not register\n");
            return 1;
        }
        round_of(take_setup, 0);
        after += all_registered() ? 1 : 0;
        pause_ms(10);
    }
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    unsigned char ttl = 0, loop = 1;
    setsockopt(sender, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    setsockopt(sender, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    struct sockaddr_in group = {.sin_family = AF_INET, .sin_port = htons(STATION_PORT)};
    inet_pton(AF_INET, "224.3.3.3", &group.sin_addr);
    for (long round = 0; round < warmup + rounds; round++) {
        for (long at = 0; at < size; at += each) {
            sendto(sender, datagrams + at, (size_t)each, 0, (const struct sockaddr *)&group, sizeof group);
        }
        pause_ms(1);
        round_of(take_status, round >= warmup);
    }
    free(datagrams);
    return 0;
}

static void take_record(const QMessage *m) {
    static QapiCmdrRecordPayload copy;
    if (m->message != QAPI_NOTIFY_MSG || m->wParam != QAPI_NOTIFY_CMDR_RECORD) return;
    memcpy(&copy, (const void *)m->lParam, sizeof copy);
    checksum += (unsigned)copy.numberA;
    seen++;
}

static int records(int argc, char **argv) {
    if (argc < 5) return 2;
    long warmup = atol(argv[3]), wanted = atol(argv[4]);
    QWindow window = qmsgCreateWindow();
    if (!QAPI_Cmdr_start(window, argv[2], 7001)) {
        fprintf(stderr, "c_consumer: no feed\n");
        return 1;
    }
    for (int idle = 0; seen < warmup + wanted && idle < 200;) {
        long before = seen;
        round_of(take_record, seen >= warmup);
        idle = seen == before ? idle + 1 : 0;
        pause_ms(20);
    }
    return 0;
}

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "";
    int (*run)(int, char **) = strcmp(mode, "stations") == 0 ? stations : strcmp(mode, "records") == 0 ? records : NULL;
    if (!run) {
        fprintf(stderr, "usage: c_consumer stations FILE WARMUP ROUNDS FIRST COUNT STATION... | records SERVER WARMUP COUNT\n");
        return 2;
    }
    qmsgUseManualClock(1);
    if (QAPI_Stack_initialize(STATION_PORT) != 0) return 1;
    int status = run(argc, argv);
    if (status == 0) {
        double n = taken ? (double)taken : 1.0;
        printf("c %s notifications %ld us_per_notification %.3f cpu_us_per_notification %.3f all %ld checksum %lu\n",
               mode, taken, spent_us / n, cpu_us / n, seen, checksum);
    }
    QAPI_Stack_release();
    return status;
}
