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
#include "cdr/passwords.h"
#include "cdr/report.h"
#include "qapi.h"
#include "qmsg.h"

namespace {

using namespace qcdr;

constexpr auto kTick = std::chrono::milliseconds(100);

volatile std::sig_atomic_t stopSignal = 0;

void onSignal(int signal) { stopSignal = signal; }

// Every line the collector writes passes here, or through main's report of
// an error: no password gets out, whatever form the command line gave it.
void say(const std::string &line) {
    std::printf("%s qapi-cdr: %s\n", utcText(wallClockUs()).c_str(), hidePasswords(line).c_str());
    std::fflush(stdout);
}

// Waits until `when` or a signal.
void sleepUntil(Clock::time_point when) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    const timespec until{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
}

int collect(const Options &options) {
    std::unique_ptr<Store> store = makeStore(options.db, false);
    // A file that is no store of ours is a mistake to name now; a database
    // that is away, locked by another writer or full may come back, and the
    // spool holds the records meanwhile.
    std::string down;
    try {
        store->open();
    } catch (const StoreError &e) {
        if (e.unusable) throw;
        down = e.what();
    }
    qspool::Spool spool(spoolPath(options));
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // The collector runs the library's tick itself, and only while what a
    // tick can bring has somewhere to go; otherwise the records wait at the
    // server, and nothing is polled.
    qmsgUseManualClock(1);
    if (QAPI_Stack_initialize(0) != 0) throw std::runtime_error("the library did not start");
    size_t lost = 0;
    Counts counts;
    {
        say("collecting into " + store->name() + " from " + std::to_string(options.feeds.size()) + " feed" +
            (options.feeds.size() == 1 ? "" : "s"));
        Collector collector(options.feeds, *store, spool, say);
        if (!down.empty()) collector.startDown(down);
        QMessage m;
        for (auto next = Clock::now(); !stopSignal;) {
            if (collector.readyForTick()) qmsgAdvanceClock(static_cast<uint32_t>(kTick.count()));
            while (qmsgPeekMessage(&m)) collector.handle(m);
            collector.endOfTick();
            next = std::max(next + kTick, Clock::now());
            sleepUntil(next);
        }
        // What was posted is taken, then everything committed.
        while (qmsgPeekMessage(&m)) collector.handle(m);
        lost = collector.finish();
        counts = collector.counts();
    }
    QAPI_Stack_release();
    say(std::string("stopped by ") + (stopSignal == SIGINT ? "SIGINT" : "SIGTERM") + ": " +
        std::to_string(counts.received) + " records received, " + std::to_string(counts.stored) +
        " stored, " + std::to_string(counts.skipped) + " already stored, " + std::to_string(counts.spooled) +
        " spooled, " + std::to_string(spool.waiting()) + " waiting in the spool, " + std::to_string(lost) +
        " lost");
    return lost == 0 ? 0 : 2;
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
        std::fprintf(stderr, "qapi-cdr: %s\n", hidePasswords(e.what()).c_str());
        return 1;
    }
    return 1;
}
