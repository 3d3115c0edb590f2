/*
 * heartbeats: qapi.dll in a Windows application's own message loop.
 *
 * The program creates a message-only window, starts the library and one
 * station client on this thread and then waits only in GetMessage.  The
 * station's notifications arrive there as messages to the window; the
 * library's 100 ms tick is a thread timer whose WM_TIMER the loop hands to
 * DispatchMessage.
 *
 *   heartbeats [--station ID] [--port PORT] [--heartbeats N]
 *
 * --heartbeats N ends it after N heartbeats (0, the default: run until
 * interrupted).  It gives up with status 1 when no heartbeat comes for 10
 * seconds.  A station client sends its registration to the station multicast
 * group: run the program only where a call server is meant to hear it, or
 * where nothing leaves the machine (the tests run it under Wine inside a
 * private network namespace, tests/windows/wine-run.sh).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "qapi.h"

enum { kGiveUpTimer = 1, kGiveUpMs = 10000 };

static int parseArgs(int argc, char **argv, long *station, long *port, long *heartbeats) {
    int i;
    for (i = 1; i < argc; ++i) {
        long *value = !strcmp(argv[i], "--station")      ? station
                      : !strcmp(argv[i], "--port")       ? port
                      : !strcmp(argv[i], "--heartbeats") ? heartbeats
                                                         : NULL;
        if (!value || i + 1 >= argc) return 0;
        *value = strtol(argv[++i], NULL, 10);
    }
    return 1;
}

static HWND createMessageWindow(void) {
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "QapiHeartbeats";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                           windowClass.hInstance, NULL);
}

int main(int argc, char **argv) {
    long station = 17, port = 5001, wanted = 0, wakeUps = 0;
    int beats = 0;
    HWND window;
    QapiHandle client;
    MSG msg;
    ULONGLONG start;

    if (!parseArgs(argc, argv, &station, &port, &wanted)) {
        fprintf(stderr, "usage: heartbeats [--station ID] [--port PORT] [--heartbeats N]\n");
        return 2;
    }
    window = createMessageWindow();
    if (!window || QAPI_Stack_initialize((uint32_t)port) != 0) {
        fprintf(stderr, "heartbeats: the window or the library did not start\n");
        return 1;
    }
    client = QAPI_Client_start(window, (int32_t)station);
    if (!client) {
        fprintf(stderr, "heartbeats: station %ld did not start\n", station);
        QAPI_Stack_release();
        return 1;
    }
    start = GetTickCount64();
    SetTimer(window, kGiveUpTimer, kGiveUpMs, NULL);

    while ((wanted == 0 || beats < wanted) && GetMessageA(&msg, NULL, 0, 0) > 0) {
        ++wakeUps;
        if (msg.message == QAPI_NOTIFY_MSG && msg.hwnd == window) {
            if (msg.wParam == QAPI_NOTIFY_HEARTBEAT) {
                printf("station %ld: heartbeat %d after %ld ms\n", station, ++beats,
                       (long)(GetTickCount64() - start));
                SetTimer(window, kGiveUpTimer, kGiveUpMs, NULL); /* the 10 s start again */
            } else if (msg.wParam == QAPI_NOTIFY_SNAPSHOT) {
                const QapiStatusSnapshot *s = (const QapiStatusSnapshot *)msg.lParam;
                printf("station %ld: registration state %ld%s%s\n", station, (long)s->regState,
                       s->statusText ? ", " : "", s->statusText ? s->statusText : "");
            }
        } else if (msg.message == WM_TIMER && msg.hwnd == window) {
            fprintf(stderr, "heartbeats: none for %d s\n", kGiveUpMs / 1000);
            break;
        } else {
            DispatchMessageA(&msg); /* the library's tick runs here */
        }
    }
    printf("heartbeats: %d heartbeats, %ld wake-ups\n", beats, wakeUps);

    QAPI_Client_stop(client);
    QAPI_Stack_release();
    DestroyWindow(window);
    return wanted != 0 && beats >= wanted ? 0 : 1;
}
