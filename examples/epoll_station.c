/*
 * epoll_station: a station client inside an application's own epoll loop.
 *
 * The program starts the library and one station client and then waits only
 * in epoll_wait, on the message layer's queue descriptor (qmsgQueueFd).
 * Whenever the descriptor is readable it takes what waits with
 * qmsgPeekMessage, which also runs the library's 100 ms timer, and prints the
 * station's notifications.  It never calls qmsgGetMessage: the descriptor
 * alone brings both the messages and the timer.
 *
 *   epoll_station [--station ID] [--port PORT] [--heartbeats N]
 *
 * --heartbeats N ends it after N heartbeats (0, the default: run until
 * interrupted).  A station client sends its registration to the station
 * multicast group: run the program inside a private network namespace unless
 * a call server on this network is meant to hear it, e.g.
 *
 *   unshare --net sh -c 'ip link set lo up; ip link set lo multicast on;
 *       ip route add 224.0.0.0/4 dev lo; exec ./epoll_station --heartbeats 3'
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <time.h>
#include <unistd.h>

#include "qapi.h"
#include "qmsg.h"

static long elapsedMs(const struct timespec *start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long)(now.tv_sec - start->tv_sec) * 1000L + (now.tv_nsec - start->tv_nsec) / 1000000L;
}

static int parseArgs(int argc, char **argv, long *station, long *port, long *heartbeats) {
    for (int i = 1; i < argc; ++i) {
        long *value = !strcmp(argv[i], "--station")      ? station
                      : !strcmp(argv[i], "--port")       ? port
                      : !strcmp(argv[i], "--heartbeats") ? heartbeats
                                                         : NULL;
        char *end = NULL;
        if (!value || i + 1 >= argc) return 0;
        *value = strtol(argv[++i], &end, 10);
        if (*end != '\0') return 0;
    }
    return *port > 0 && *port < 65536 && *heartbeats >= 0;
}

int main(int argc, char **argv) {
    long station = 17, port = 5001, heartbeats = 0;
    if (!parseArgs(argc, argv, &station, &port, &heartbeats)) {
        fprintf(stderr, "usage: %s [--station ID] [--port PORT] [--heartbeats N]\n", argv[0]);
        return 2;
    }
    setvbuf(stdout, NULL, _IOLBF, 0);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);

    if (QAPI_Stack_initialize((uint32_t)port) != 0) {
        fprintf(stderr, "epoll_station: the library did not start\n");
        return 1;
    }
    const QWindow window = qmsgCreateWindow();
    QapiHandle client = QAPI_Client_start(window, (int32_t)station);
    const int queueFd = qmsgQueueFd();
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event watch = {.events = EPOLLIN};
    if (!client || queueFd < 0 || epoll < 0 || epoll_ctl(epoll, EPOLL_CTL_ADD, queueFd, &watch) != 0) {
        fprintf(stderr, "epoll_station: could not start station %ld\n", station);
        return 1;
    }

    long beats = 0, wakeUps = 0;
    while (heartbeats == 0 || beats < heartbeats) {
        struct epoll_event ready;
        if (epoll_wait(epoll, &ready, 1, -1) != 1) continue;
        ++wakeUps;
        QMessage m;
        while (qmsgPeekMessage(&m)) {
            if (m.message != QAPI_NOTIFY_MSG) continue;
            switch (m.wParam) {
            case QAPI_NOTIFY_HEARTBEAT:
                printf("station %ld: heartbeat %ld after %ld ms\n", station, ++beats, elapsedMs(&start));
                break;
            case QAPI_NOTIFY_SNAPSHOT: {
                const QapiStatusSnapshot *s = (const QapiStatusSnapshot *)m.lParam;
                printf("station %ld: snapshot reg=%d call=%u text=\"%s\"\n", station, (int)s->regState,
                       (unsigned)s->callState, s->statusText ? s->statusText : "");
                break;
            }
            default:
                printf("station %ld: notification %lu value %ld\n", station, (unsigned long)m.wParam,
                       (long)m.lParam);
            }
        }
    }
    printf("epoll_station: %ld heartbeats, %ld wake-ups\n", beats, wakeUps);
    close(epoll);
    QAPI_Client_stop(client);
    QAPI_Stack_release();
    return 0;
}
