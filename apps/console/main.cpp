// qapi-console: starts QapiDll's station clients, call-record feed and
// routing adjunct link as the command line asks, and prints every
// notification as a line of text or JSON.  Commands come on stdin; see --help.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/commands.h"
#include "console/console.h"
#include "console/options.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 50;  // how long one wait for a message lasts at most

// Reads what stdin has without waiting and runs each whole line; false once
// stdin has ended.
class StdinLines {
public:
    bool pump(qconsole::Console &console) {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        while (::poll(&fd, 1, 0) > 0) {
            char bytes[512];
            const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
            if (n <= 0) return false;
            for (ssize_t i = 0; i < n; ++i) {
                if (bytes[i] != '\n') {
                    line_ += bytes[i];
                    continue;
                }
                qconsole::runCommandLine(console, line_);
                line_.clear();
            }
        }
        return true;
    }

private:
    std::string line_;
};

int run(const qconsole::Options &options) {
    using namespace qconsole;
    std::unique_ptr<CdrCsvFile> csv;
    if (options.cdrCsv) csv = std::make_unique<CdrCsvFile>(*options.cdrCsv);  // throws: exitCannotRun
    if (QAPI_Stack_initialize(options.stationPort) != 0) {
        std::fprintf(stderr, "qapi-console: the library did not start\n");
        return exitCannotRun;
    }
    int status = exitOk;
    {
        Console console(options, stdout, csv.get());
        console.print("console", "library started, station port " + std::to_string(options.stationPort));
        for (int32_t id : options.stations) console.startStation(id);
        if (options.feed) console.startLink(Link::feed, *options.feed);
        if (options.adjunct) console.startLink(Link::adjunct, *options.adjunct);

        StdinLines input;
        bool reading = options.readStdin;
        const auto deadline = Clock::now() + std::chrono::seconds(options.seconds.value_or(0));
        while (!console.quit) {
            QMessage m;
            if (qmsgGetMessage(&m, kWaitMs)) console.handle(m);
            if (reading && !input.pump(console)) console.quit = true;  // stdin ended
            if (options.seconds && Clock::now() >= deadline) console.quit = true;
        }
        console.print("console", "end");
        if (console.refusals) status = exitRefused;
        if (console.commandErrors && options.seconds) status = exitBadCommand;
        if (console.recordsLost) status = exitRecordsLost;
    }
    QAPI_Stack_release();
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        const qconsole::Options options =
            qconsole::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(qconsole::kUsage, stdout);
            return qconsole::exitOk;
        }
        if (options.version) {
            std::printf("qapi-console %s\n", QAPI_CONSOLE_VERSION);
            return qconsole::exitOk;
        }
        return run(options);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qapi-console: %s\n", e.what());
        return qconsole::exitCannotRun;
    }
}
