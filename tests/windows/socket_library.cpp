// The suites open sockets of their own, also before the library starts the
// socket library and after it cleans it up: on Windows the test process
// holds a reference of its own to Winsock for its whole run.
#include <winsock2.h>

namespace {

struct SocketLibrary {
    SocketLibrary() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~SocketLibrary() { WSACleanup(); }
} socketLibrary;

}  // namespace
