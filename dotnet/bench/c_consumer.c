#define _POSIX_C_SOURCE 200809L
/* The C side of scripts/bench-dotnet.sh: a feed of call records from the
 * simulator at argv[1]:7001 on the manual clock; each round advances the
 * clock one tick and takes every notification with qmsgPeekMessage, copying
 * each call record out of its payload as an application does, then waits
 * for the server's next records.  Prints the records taken and the
 * microseconds per record of the tick and the taking. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "qapi.h"

static double now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

int main(int argc, char **argv) {
    const char *server = argc > 1 ? argv[1] : "127.0.0.1";
    long wanted = argc > 2 ? atol(argv[2]) : 100000;
    qmsgUseManualClock(1);
    if (QAPI_Stack_initialize(5001) != 0) return 1;
    QWindow window = qmsgCreateWindow();
    QapiHandle feed = QAPI_Cmdr_start(window, server, 7001);
    if (!feed) {
        fprintf(stderr, "c_consumer: no feed\n");
        return 1;
    }
    static QapiCmdrRecordPayload copy;
    long records = 0;
    double spent = 0;
    unsigned checksum = 0;
    for (int idle = 0; records < wanted && idle < 200;) {
        double start = now_us();
        qmsgAdvanceClock(100);
        QMessage m;
        long before = records;
        while (qmsgPeekMessage(&m)) {
            if (m.message == QAPI_NOTIFY_MSG && m.wParam == QAPI_NOTIFY_CMDR_RECORD) {
                memcpy(&copy, (const void *)m.lParam, sizeof copy);
                checksum += (unsigned)copy.numberA;
                records++;
            }
        }
        spent += now_us() - start;
        idle = records == before ? idle + 1 : 0;
        struct timespec wait = {0, 20 * 1000 * 1000};
        nanosleep(&wait, NULL);
    }
    printf("c records %ld us_per_record %.3f checksum %u\n", records, spent / (double)records, checksum);
    QAPI_Stack_release();
    return 0;
}
