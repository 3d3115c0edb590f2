/*
 * A Windows application of qapi.dll in a few lines: a message-only window,
 * the library initialised on this thread, one station client, and the
 * station's heartbeats received through the application's own GetMessage
 * loop, which also runs the library's 100 ms tick (a thread timer).
 *
 *   qapi-heartbeats [STATION [PORT [COUNT]]]        (defaults 17 5001 3)
 *
 * Exit status 0 after COUNT heartbeats; 1 when the library cannot start or
 * no heartbeat comes for 10 seconds.  The station registers with the call
 * server by multicast: run it only where that may go (the tests run it under
 * Wine in a private network namespace).
 */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "qapi.h"

enum { kGiveUpTimer = 1, kGiveUpMs = 10000 };

int main(int argc, char **argv) {
    const int32_t station = argc > 1 ? atoi(argv[1]) : 17;
    const uint32_t port = argc > 2 ? (uint32_t)atoi(argv[2]) : 5001u;
    const int wanted = argc > 3 ? atoi(argv[3]) : 3;
    WNDCLASSA windowClass = {0};
    HWND window;
    QapiHandle client;
    MSG msg;
    int beats = 0;

    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "QapiHeartbeats";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                             windowClass.hInstance, NULL);
    if (!window || QAPI_Stack_initialize(port) != 0) {
        fprintf(stderr, "qapi-heartbeats: the window or the library did not start\n");
        return 1;
    }
    client = QAPI_Client_start(window, station);
    if (!client) {
        fprintf(stderr, "qapi-heartbeats: station %ld did not start\n", (long)station);
        QAPI_Stack_release();
        return 1;
    }
    SetTimer(window, kGiveUpTimer, kGiveUpMs, NULL);

    while (beats < wanted && GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (msg.message == QAPI_NOTIFY_MSG && msg.hwnd == window) {
            if (msg.wParam == QAPI_NOTIFY_HEARTBEAT) {
                printf("station %ld: heartbeat %d\n", (long)station, ++beats);
                SetTimer(window, kGiveUpTimer, kGiveUpMs, NULL);  /* starts the 10 s again */
            } else if (msg.wParam == QAPI_NOTIFY_SNAPSHOT) {
                const QapiStatusSnapshot *s = (const QapiStatusSnapshot *)msg.lParam;
                printf("station %ld: registration state %ld%s%s\n", (long)station, (long)s->regState,
                       s->statusText ? ", " : "", s->statusText ? s->statusText : "");
            }
            continue;
        }
        if (msg.message == WM_TIMER && msg.hwnd == window) {
            fprintf(stderr, "qapi-heartbeats: no heartbeat for %d s\n", kGiveUpMs / 1000);
            break;
        }
        DispatchMessageA(&msg);  /* the library's tick runs here */
    }

    QAPI_Client_stop(client);
    QAPI_Stack_release();
    DestroyWindow(window);
    return beats >= wanted ? 0 : 1;
}
