// qapi-wire-driver: an application of the library for the wire-fault
// scenarios.  It takes the console's commands on stdin and prints the
// console's JSON lines, each with the tick it happened in, but the library's
// clock is in its hands: "run N" lets N ticks of 100 ms pass, each after
// --pace milliseconds of real time, so that a peer on the network has
// answered what the tick before sent.  A scenario of many simulated minutes
// thus takes seconds, and every line says exactly when it happened.
//
//   qapi-wire-driver [--port P] [--pace MS]
//
// Commands: every console command, and "run N" (ends with
// {"tick":T,"event":"ran"}).  The end of stdin ends the driver.
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "console/commands.h"
#include "console/console.h"
#include "command_line/option_number.h"

namespace {

uint64_t tick = 0;  // ticks run so far

// Console lines go through here on their way to stdout: each JSON object
// gets the tick as its first member.
ssize_t stampLines(void *cookie, const char *bytes, size_t size) {
    auto *pending = static_cast<std::string *>(cookie);
    pending->append(bytes, size);
    for (size_t end; (end = pending->find('\n')) != std::string::npos; pending->erase(0, end + 1)) {
        const std::string line = pending->substr(0, end);
        if (line.size() > 2 && line[0] == '{')
            std::printf("{\"tick\":%llu,%s\n", static_cast<unsigned long long>(tick), line.c_str() + 1);
        else
            std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return static_cast<ssize_t>(size);
}

void deliver(qconsole::Console &console) {
    QMessage m;
    while (qmsgPeekMessage(&m)) console.handle(m);
}

}  // namespace

int main(int argc, char **argv) {
    uint32_t port = 5001;
    uint32_t paceMs = 5;
    try {
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string option = argv[i];
            if (option == "--port")
                port = static_cast<uint32_t>(qtools::optionNumber(option, argv[i + 1], 1, 65535));
            else if (option == "--pace")
                paceMs = static_cast<uint32_t>(qtools::optionNumber(option, argv[i + 1], 0, 1000));
            else
                throw std::invalid_argument("unknown option " + option);
        }
        if (argc % 2 == 0) throw std::invalid_argument(std::string(argv[argc - 1]) + " wants a value");
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "qapi-wire-driver: %s\nusage: qapi-wire-driver [--port P] [--pace MS]\n",
                     e.what());
        return 1;
    }
    if (QAPI_Stack_initialize(port) != 0) {
        std::fprintf(stderr, "qapi-wire-driver: the library did not start\n");
        return 1;
    }
    qmsgUseManualClock(1);
    std::string pending;
    std::FILE *out = fopencookie(&pending, "w", cookie_io_functions_t{nullptr, stampLines, nullptr, nullptr});
    {
        qconsole::Options options;
        options.format = qconsole::Format::json;
        options.stationPort = port;
        qconsole::Console console(options, out);
        for (std::string line; !console.quit && std::getline(std::cin, line);) {
            unsigned long long ticks = 0;
            if (std::sscanf(line.c_str(), "run %llu", &ticks) == 1) {
                for (unsigned long long i = 0; i < ticks; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(paceMs));
                    ++tick;
                    qmsgAdvanceClock(100);
                    deliver(console);
                }
                std::printf("{\"tick\":%llu,\"event\":\"ran\"}\n", static_cast<unsigned long long>(tick));
                std::fflush(stdout);
                continue;
            }
            qconsole::runCommandLine(console, line);
            deliver(console);
        }
    }
    std::fclose(out);
    QAPI_Stack_release();
    return 0;
}
