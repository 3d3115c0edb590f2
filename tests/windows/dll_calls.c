/*
 * dll_calls: the 32-bit qapi.dll as a Visual Basic, .NET or ctypes.WinDLL
 * caller meets it.  It loads the DLL, finds each of the 29 exports by its
 * plain name and calls it the way such a caller does: the arguments pushed
 * as 32-bit words, right to left, and left for the function to remove.
 * Each call must leave the stack pointer where it was before the arguments
 * were pushed, and return what the header promises for that call: a live
 * window, station client, call-record feed and adjunct link, and every
 * operation but watching an extension refused on a station that has not
 * registered.
 *
 * Prints one line per failure, and "dll calls: N calls, every export
 * __stdcall" when every one passed (Wine's exit status does not tell a program that could not
 * start from one that passed).  Run it where nothing leaves the machine: a
 * station client sends its registration to the station multicast group.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winsock2.h>

enum { kAny = -1, kNonZero = -2 };

static HMODULE dll;
static int calls, failures;

/* Calls fn with n words (args[0] the first argument) and tells how many bytes
 * of the arguments the function left on the stack: 0 for __stdcall. */
static uint32_t callPushingWords(FARPROC fn, const uint32_t *args, uint32_t n, uint32_t *result) {
    uint32_t left, eax;
    __asm__ volatile(
        "movl %%esp, %%edi\n\t"
        "movl %[n], %%ecx\n"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%[args],%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n"
        "2:\n\t"
        "call *%[fn]\n\t"
        "movl %%edi, %[left]\n\t"
        "subl %%esp, %[left]\n\t"
        "movl %%edi, %%esp\n\t"
        : [left] "=&r"(left), "=a"(eax)
        : [fn] "r"(fn), [args] "r"(args), [n] "r"(n)
        : "ecx", "edx", "edi", "memory", "cc");
    *result = eax;
    return left;
}

/* Calls the export `name` with n words; expected: its result, kNonZero for a
 * handle, kAny when the result is not checked.  Returns the result. */
static uint32_t call(const char *name, long expected, uint32_t n, uint32_t a0, uint32_t a1, uint32_t a2,
                     uint32_t a3) {
    const uint32_t args[4] = {a0, a1, a2, a3};
    uint32_t result = 0, left;
    FARPROC fn = GetProcAddress(dll, name);
    ++calls;
    if (!fn) {
        printf("%s: not exported under its plain name\n", name);
        ++failures;
        return 0;
    }
    left = callPushingWords(fn, args, n, &result);
    if (left != 0) {
        printf("%s: left %lu of its %lu argument bytes on the stack\n", name, (unsigned long)left,
               (unsigned long)(4 * n));
        ++failures;
    }
    if ((expected == kNonZero && result == 0) || (expected >= 0 && result != (uint32_t)expected)) {
        printf("%s: returned %lu, not %ld\n", name, (unsigned long)result, expected);
        ++failures;
    }
    return result;
}

#define W(x) ((uint32_t)(uintptr_t)(x))

/* A listening TCP socket on 127.0.0.1 for the call-record feed; its port. */
static uint32_t listenOnLoopback(SOCKET *listener) {
    struct sockaddr_in address;
    int length = sizeof address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    *listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (*listener == INVALID_SOCKET || bind(*listener, (struct sockaddr *)&address, sizeof address) != 0 ||
        listen(*listener, 1) != 0 || getsockname(*listener, (struct sockaddr *)&address, &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int main(void) {
    static const char *const keys[] = {
        "QAPI_Client_answer",      "QAPI_Client_clear",    "QAPI_Client_hold",
        "QAPI_Client_retrieve",    "QAPI_Client_callb",    "QAPI_Client_suspend",
        "QAPI_Client_conference",  "QAPI_Client_transfer", "QAPI_Client_record_start",
        "QAPI_Client_record_stop", "QAPI_Client_mailbox"};
    WSADATA winsock;
    SOCKET listener;
    uint32_t feedPort, client, threadClient, feed, link;
    size_t i;
    HWND window;

    dll = LoadLibraryA("qapi.dll");
    window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    if (!dll || !window || WSAStartup(MAKEWORD(2, 2), &winsock) != 0 ||
        !(feedPort = listenOnLoopback(&listener))) {
        printf("dll calls: no qapi.dll, window or listening socket\n");
        return 1;
    }

    call("QAPI_Stack_initialize", 0, 1, 5001, 0, 0, 0);
    client = call("QAPI_Client_start", kNonZero, 2, W(window), 17, 0, 0);
    threadClient = call("QAPI_Client_start_Thread", kNonZero, 2, GetCurrentThreadId(), 18, 0, 0);
    /* Not registered yet: every operation but watching is refused. */
    call("QAPI_Client_newcall", 1, 2, client, W("123"), 0, 0);
    call("QAPI_Client_digits", 1, 2, client, W("4"), 0, 0);
    for (i = 0; i < sizeof keys / sizeof keys[0]; ++i) call(keys[i], 1, 1, client, 0, 0, 0);
    call("QAPI_Client_transfer_undo", 1, 2, client, W("1"), 0, 0);
    call("QAPI_Client_deflect", 1, 2, client, W("200"), 0, 0);
    call("QAPI_Client_bdp_register", 0, 3, client, 300, 1, 0);
    call("QAPI_Client_bdp_answer", 1, 2, client, 300, 0, 0);
    call("QAPI_Client_bdp_intrude", 1, 2, client, 300, 0, 0);
    call("QAPI_Client_resume", 1, 2, client, 9, 0, 0);
    call("QAPI_Client_stop", 0, 1, threadClient, 0, 0, 0);
    call("QAPI_Client_stop", 1, 1, threadClient, 0, 0, 0);

    feed = call("QAPI_Cmdr_start", kNonZero, 3, W(window), W("127.0.0.1"), feedPort, 0);
    call("QAPI_Cmdr_stop", 0, 1, feed, 0, 0, 0);
    link = call("QAPI_Adjunct_start", kNonZero, 3, W(window), W("127.0.0.1"), 7002, 0);
    call("QAPI_Adjunct_response", 1, 4, link, 7, W("12"), 5);
    call("QAPI_Adjunct_stop", 0, 1, link, 0, 0, 0);
    call("QAPI_Client_stop", 0, 1, client, 0, 0, 0);
    call("QAPI_Stack_release", kAny, 0, 0, 0, 0, 0);

    closesocket(listener);
    WSACleanup();
    if (failures) {
        printf("dll calls: %d of %d calls failed\n", failures, calls);
        return 1;
    }
    printf("dll calls: %d calls, every export __stdcall\n", calls);
    return 0;
}
