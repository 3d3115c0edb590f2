// qapi-cdr's collector against the library alone: N different sealed call
// records written at once over loopback TCP, taken through one feed whose
// ticks the manual clock drives (no 100 ms waits), and either only counted
// (the library's own rate: poll, read, check, decode, post, take), or
// stored by the collector in SQLite and in PostgreSQL, each tick in one
// transaction.  Prints one row per way with records a second and the share
// of the library's rate.
//
//   qapi_cdr_bench [--records N] [--folder DIR] [--postgres URL]
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cdr/collector.h"
#include "cdr/postgres_store.h"
#include "cdr/sqlite_store.h"
#include "qapi.h"
#include "qmsg.h"
#include "sim/call_record.h"

namespace {

using namespace qcdr;
using Seconds = std::chrono::duration<double>;

std::vector<uint8_t> sealedRecords(size_t n) {
    std::vector<uint8_t> all;
    all.reserve(n * qsim::feed::kRecordSize);
    for (size_t i = 0; i < n; ++i) {
        qsim::feed::CallRecord c;
        c.kind = 5;
        c.numberA = static_cast<int32_t>(100 + i % 200);
        c.numberB = 4711;
        c.numberC = static_cast<int32_t>(i);
        c.numberD = static_cast<uint32_t>(i * 7);
        c.digitsA = std::to_string(100 + i % 200);
        c.digitsB = "4711";
        c.digitsC = std::to_string(i);
        c.when = qsim::DateTime{2024, 6, static_cast<uint32_t>(1 + i / 86400 % 28), static_cast<uint32_t>(i / 3600 % 24),
                                static_cast<uint32_t>(i / 60 % 60), static_cast<uint32_t>(i % 60)};
        c.durationCount = static_cast<uint32_t>(125 * (i % 600));
        c.address = 0xC000020A;
        const auto r = qsim::feed::encode(c);
        all.insert(all.end(), r.begin(), r.end());
    }
    return all;
}

// Accepts connections on 127.0.0.1 and writes every record to each.
class Server {
public:
    explicit Server(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &size) != 0)
            throw std::runtime_error("no listener");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~Server() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        for (int c : connections_) ::close(c);
    }
    uint16_t port() const { return port_; }

private:
    void serve() {
        for (;;) {
            const int c = ::accept(listener_, nullptr, nullptr);
            if (c < 0) return;
            size_t done = 0;
            while (done < bytes_.size()) {
                const ssize_t n = ::send(c, bytes_.data() + done, bytes_.size() - done, MSG_NOSIGNAL);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            connections_.push_back(c);  // open to the end: the polls wait in it unread
        }
    }
    std::vector<uint8_t> bytes_;
    std::vector<int> connections_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

struct Result {
    std::string way;
    size_t records = 0;
    double seconds = 0;
    uint64_t ticks = 0;
};

Result libraryAlone(uint16_t port, size_t n) {
    QAPI_Stack_initialize(0);
    const QWindow w = qmsgCreateWindow();
    const auto start = std::chrono::steady_clock::now();
    QapiHandle feed = QAPI_Cmdr_start(w, "127.0.0.1", port);
    if (!feed) throw std::runtime_error("the feed did not start");
    size_t got = 0;
    uint64_t ticks = 0;
    QapiCmdrRecordPayload copy{};
    int64_t check = 0;
    while (got < n && ticks < 10'000'000) {
        qmsgAdvanceClock(100);
        ++ticks;
        QMessage m;
        while (qmsgPeekMessage(&m)) {
            if (m.wParam != QAPI_NOTIFY_CMDR_RECORD) continue;
            std::memcpy(&copy, reinterpret_cast<const void *>(m.lParam), sizeof copy);  // as the collector takes it
            check += copy.numberC;
            ++got;
        }
    }
    const Seconds took = std::chrono::steady_clock::now() - start;
    QAPI_Cmdr_stop(feed);
    qmsgDestroyWindow(w);
    QAPI_Stack_release();
    if (got != n || check != static_cast<int64_t>(n * (n - 1) / 2)) throw std::runtime_error("records lost");
    return {"library alone (feed, check, decode, copy)", got, took.count(), ticks};
}

Result collector(const std::string &way, Store &store, const std::string &spoolPath, uint16_t port, size_t n) {
    store.open();
    qspool::Spool spool(spoolPath);
    QAPI_Stack_initialize(0);
    Result r{way, 0, 0, 0};
    {
        const auto start = std::chrono::steady_clock::now();
        Collector c({qtools::Endpoint{"127.0.0.1", port}}, store, spool, [](const std::string &line) {
            std::fprintf(stderr, "qapi-cdr: %s\n", line.c_str());
        });
        while (c.counts().stored < n && r.ticks < 10'000'000) {
            qmsgAdvanceClock(100);
            ++r.ticks;
            QMessage m;
            while (qmsgPeekMessage(&m)) c.handle(m);
            c.endOfTick();
            if (c.counts().received == n && c.counts().stored + c.counts().skipped == n) break;
        }
        r.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
        r.records = c.counts().stored;
        c.finish();
    }
    QAPI_Stack_release();
    if (r.records != n) throw std::runtime_error(way + ": " + std::to_string(r.records) + " records stored");
    return r;
}

}  // namespace

int main(int argc, char **argv) {
    size_t n = 100000;
    std::string folder = "/tmp", postgres;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--records") n = std::stoul(argv[i + 1]);
        else if (a == "--folder") folder = argv[i + 1];
        else if (a == "--postgres") postgres = argv[i + 1];
    }
    try {
        qmsgUseManualClock(1);
        Server server(sealedRecords(n));
        std::vector<Result> results;
        results.push_back(libraryAlone(server.port(), n));
        SqliteStore sqlite(folder + "/bench.sqlite", false);
        results.push_back(collector("qapi-cdr into SQLite (WAL, synchronous=FULL)", sqlite,
                                    folder + "/sqlite.spool", server.port(), n));
        if (!postgres.empty()) {
            PostgresStore pg(postgres);
            results.push_back(
                collector("qapi-cdr into PostgreSQL 15", pg, folder + "/pg.spool", server.port(), n));
        }
        const double base = static_cast<double>(results[0].records) / results[0].seconds;
        std::printf("%-48s %9s %9s %12s %8s %9s\n", "way", "records", "seconds", "records/s", "ticks",
                    "vs library");
        for (const Result &r : results) {
            const double rate = static_cast<double>(r.records) / r.seconds;
            std::printf("%-48s %9zu %9.2f %12.0f %8llu %9.2f\n", r.way.c_str(), r.records, r.seconds, rate,
                        static_cast<unsigned long long>(r.ticks), rate / base);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qapi_cdr_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
