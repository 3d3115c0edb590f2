// qapi-cdr: collects the call records of one or more call servers into
// SQLite or PostgreSQL, every record once and none lost; exports them as
// CSV and reports calls and minutes.  See --help.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cdr/collector.h"
#include "cdr/export.h"
#include "cdr/options.h"
#include "cdr/report.h"
#include "qapi.h"
#include "qmsg.h"

namespace {

using namespace qcdr;

constexpr int kWaitMs = 100;  // one wait for a message lasts at most a tick

volatile std::sig_atomic_t stopSignal = 0;

void onSignal(int signal) { stopSignal = signal; }

void say(const std::string &line) {
    std::printf("%s qapi-cdr: %s\n", utcText(wallClockUs()).c_str(), line.c_str());
    std::fflush(stdout);
}

int collect(const Options &options) {
    std::unique_ptr<Store> store = makeStore(options.db, false);
    // An SQLite file that cannot be written is a mistake to name now; a
    // PostgreSQL server that is away may come back, and the spool holds the
    // records meanwhile.
    if (!isPostgresUrl(options.db)) store->open();
    qspool::Spool spool(spoolPath(options));
    if (spool.damagedBytes())
        say("spool " + spool.path() + ": " + std::to_string(spool.damagedBytes()) + " damaged bytes set aside in " +
            spool.path() + ".damaged; every sound entry is read");
    if (!spool.empty()) say("spool " + spool.path() + ": " + std::to_string(spool.waiting()) + " records wait");
    if (isPostgresUrl(options.db)) {
        try {
            store->open();
        } catch (const StoreError &e) {
            say(std::string("database down: ") + e.what() + "; records go to the spool " + spool.path());
        }
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    if (QAPI_Stack_initialize(0) != 0) throw std::runtime_error("the library did not start");
    bool whole = true;
    Counts counts;
    {
        say("collecting into " + store->name() + " from " + std::to_string(options.feeds.size()) + " feed" +
            (options.feeds.size() == 1 ? "" : "s"));
        Collector collector(options.feeds, *store, spool, say);
        QMessage m;
        while (!stopSignal) {
            if (qmsgGetMessage(&m, kWaitMs)) {
                collector.handle(m);
                while (qmsgPeekMessage(&m)) collector.handle(m);
            }
            collector.endOfTick();
        }
        // What the last tick posted is taken, then everything committed.
        while (qmsgPeekMessage(&m)) collector.handle(m);
        whole = collector.finish();
        counts = collector.counts();
    }
    QAPI_Stack_release();
    say(std::string("stopped by ") + (stopSignal == SIGINT ? "SIGINT" : "SIGTERM") + ": " +
        std::to_string(counts.received) + " records received, " + std::to_string(counts.stored) + " stored, " +
        std::to_string(counts.skipped) + " already stored, " + std::to_string(counts.spooled) +
        " spooled, " + std::to_string(spool.waiting()) + " waiting in the spool");
    return whole ? 0 : 2;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        switch (options.mode) {
        case Mode::help:
            std::fputs(kUsage, stdout);
            return 0;
        case Mode::version:
            std::printf("qapi-cdr %s\n", QAPI_CDR_VERSION);
            return 0;
        case Mode::exportCsv: {
            auto store = makeStore(options.db, true);
            const size_t n = exportCsv(*store, options.period, options.csv);
            std::fprintf(stderr, "qapi-cdr: %zu records exported\n", n);
            return 0;
        }
        case Mode::report: {
            auto store = makeStore(options.db, true);
            const Report report = buildReport(*store, options.period);
            std::fputs(reportText(report).c_str(), stdout);
            if (options.html) {
                std::FILE *f = std::fopen(options.html->c_str(), "wb");
                const std::string page = reportHtml(report);
                if (!f || std::fwrite(page.data(), 1, page.size(), f) != page.size() || std::fclose(f) != 0)
                    throw std::runtime_error("cannot write " + *options.html);
            }
            return 0;
        }
        case Mode::collect:
            return collect(options);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qapi-cdr: %s\n", e.what());
        return 1;
    }
    return 1;
}
