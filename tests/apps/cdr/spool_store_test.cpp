// An SQLite file, and the sink between it and the spool: order kept across
// a store that fails, nothing written twice.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>

#include "cdr/sink.h"
#include "cdr/spooled_row.h"
#include "cdr/sqlite_store.h"
#include "cdr_samples.h"

namespace qcdr {
namespace {

namespace fs = std::filesystem;

class Folder : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qapi-cdr-unit-XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const char *name) const { return (dir / name).string(); }
    fs::path dir;
};

std::vector<Row> calls(int first, int n) {
    std::vector<Row> rows;
    for (int i = first; i < first + n; ++i) rows.push_back(test::row(test::call(i)));
    return rows;
}

std::vector<int32_t> numbers(const std::vector<Row> &rows) {
    std::vector<int32_t> out;
    for (const Row &r : rows) out.push_back(r.record.numberC);
    return out;
}

using SqliteTest = Folder;

TEST_F(SqliteTest, RecordsAreStoredOnceAndReadBackInOrderForAPeriod) {
    SqliteStore store(path("cdr.sqlite"), false);
    auto rows = calls(0, 3);
    rows[1].record.minute = 45;
    rows.push_back(test::row(test::call(0), 1));  // a second identical call
    WriteCounts c = store.write(rows);
    EXPECT_EQ(c.stored, 4u);
    c = store.write({rows[0], rows[3], test::row(test::call(9))});
    EXPECT_EQ(c.stored, 1u);
    EXPECT_EQ(c.skipped, 2u);
    std::vector<Row> back;
    SqliteStore reader(path("cdr.sqlite"), true);
    reader.scan({}, [&back](const Row &r) { back.push_back(r); });
    EXPECT_EQ(numbers(back), (std::vector<int32_t>{0, 1, 2, 0, 9}));
    EXPECT_EQ(back[3].occurrence, 1u);
    back.clear();
    reader.scan({"2024-05-17 10:40:00", "2024-05-17 11:00:00"}, [&back](const Row &r) { back.push_back(r); });
    EXPECT_EQ(numbers(back), (std::vector<int32_t>{1}));
}

std::optional<StoreError> openingError(SqliteStore &&store) {
    try {
        store.open();
    } catch (const StoreError &e) {
        return e;
    }
    return std::nullopt;
}

TEST_F(SqliteTest, AFileThatIsNoStoreOfOursIsUnusableAndOneLockedByAnotherWriterOnlyAway) {
    std::ofstream(path("junk")) << std::string(5000, 'x');
    sqlite3 *db = nullptr;  // a table cdr of other columns
    ASSERT_EQ(sqlite3_open(path("other").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE cdr (id INTEGER PRIMARY KEY, caller TEXT)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    for (const auto &[file, readOnly] : {std::pair{"junk", false}, {"missing", true}, {"other", false}}) {
        const auto e = openingError(SqliteStore(path(file), readOnly));
        ASSERT_TRUE(e) << file;
        EXPECT_TRUE(e->unusable) << e->what();
    }
    EXPECT_NE(std::string(openingError(SqliteStore(path("other"), false))->what()).find("has other columns"),
              std::string::npos);
    // Another writer in the middle of a transaction, in either journal mode.
    for (const std::string mode : {"DELETE", "WAL"}) {
        const std::string file = path("locked.sqlite") + mode;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, ("PRAGMA journal_mode=" + mode + "; BEGIN IMMEDIATE").c_str(), nullptr,
                               nullptr, nullptr),
                  SQLITE_OK);
        const auto e = openingError(SqliteStore(file, false));
        ASSERT_TRUE(e) << mode;
        EXPECT_FALSE(e->unusable) << e->what();
        EXPECT_NE(std::string(e->what()).find("database is locked"), std::string::npos) << e->what();
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        EXPECT_FALSE(openingError(SqliteStore(file, false))) << mode;
    }
}

// A store that refuses while it is down, for the sink's order.
class Flaky : public Store {
public:
    std::string name() const override { return "flaky"; }
    void open() override {}
    WriteCounts write(const std::vector<Row> &rows) override {
        if (down) throw StoreError("down");
        if (rows.size() > most) throw StoreError("database or disk is full");
        WriteCounts c;
        for (const Row &r : rows) {
            const bool fresh = std::find_if(kept.begin(), kept.end(), [&r](const Row &k) {
                                   return k.key == r.key && k.occurrence == r.occurrence;
                               }) == kept.end();
            if (fresh) kept.push_back(r);
            (fresh ? c.stored : c.skipped) += 1;
        }
        return c;
    }
    void scan(const Period &, const std::function<void(const Row &)> &) override {}
    bool down = false;
    size_t most = SIZE_MAX;  // rows a transaction may hold
    std::vector<Row> kept;
};

// A spool that holds `rows`, as a run that stopped left it.
void spoolOf(const std::string &path, const std::vector<Row> &rows) {
    qspool::Spool spool(path);
    std::vector<std::string> entries;
    for (const Row &row : rows) entries.push_back(spoolEntry(row));
    ASSERT_EQ(spool.append(entries), qspool::Spool::Append::done);
}

uint64_t entryBytes() { return qspool::Spool::framedBytes(spoolEntry(test::row(test::call(0))).size()); }

using SinkTest = Folder;

TEST_F(SinkTest, WhileTheStoreIsDownRecordsWaitInTheSpoolAndArriveInOrder) {
    Flaky store;
    qspool::Spool spool(path("s"));
    std::vector<std::string> said;
    Sink sink(store, spool, [&said](const std::string &s) { said.push_back(s); });
    auto t = Clock::now();
    sink.put(calls(0, 2), t);
    store.down = true;
    sink.put(calls(2, 2), t);
    sink.put(calls(4, 2), t += std::chrono::milliseconds(100));
    EXPECT_EQ(spool.waiting(), 4u);
    store.down = false;
    sink.put(calls(6, 1), t += std::chrono::milliseconds(100));  // the try is not due yet: 1 s
    EXPECT_EQ(store.kept.size(), 2u);
    sink.put(calls(7, 1), t += std::chrono::seconds(1));
    EXPECT_EQ(numbers(store.kept), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(spool.empty());
    EXPECT_EQ(sink.counts().spooled, 6u);
    EXPECT_EQ(sink.counts().stored, 8u);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0], "database down: down; records go to the spool " + path("s"));
    EXPECT_EQ(said[1], "database back: 6 records from the spool stored, 0 of them already there");
}

TEST_F(SinkTest, ASpoolLeftByAnEarlierRunIsWrittenAndWhatWasStoredIsSkipped) {
    Flaky store;
    spoolOf(path("s"), calls(0, 5));
    store.write(calls(0, 2));  // stored before that run was killed
    qspool::Spool spool(path("s"));
    Sink sink(store, spool, [](const std::string &) {});
    sink.retry(Clock::now());
    EXPECT_TRUE(spool.empty());
    EXPECT_EQ(numbers(store.kept), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    const Row fifth = test::row(test::call(4));  // every byte back from the spool
    EXPECT_EQ(store.kept[4].key, fifth.key);
    EXPECT_EQ(store.kept[4].server, fifth.server);
    EXPECT_EQ(store.kept[4].receivedUs, fifth.receivedUs);
    EXPECT_EQ(std::memcmp(&store.kept[4].record, &fifth.record, sizeof fifth.record), 0);
    EXPECT_EQ(sink.counts().skipped, 2u);
    EXPECT_EQ(sink.finish(), 0u);
}

TEST_F(SinkTest, TheSpoolIsWrittenInTransactionsAsLargeAsTheStoreCanTake) {
    Flaky store;
    store.most = 10;  // a disk that got a little space back
    spoolOf(path("s"), calls(0, 500));
    qspool::Spool spool(path("s"));
    Sink sink(store, spool, [](const std::string &) {});
    auto t = Clock::now();
    for (int i = 0; i < 200 && !spool.empty(); ++i) sink.retry(t += std::chrono::seconds(30));
    EXPECT_TRUE(spool.empty());
    std::vector<int32_t> all(500);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(numbers(store.kept), all);
    EXPECT_EQ(sink.counts().stored, 500u);
    store.most = SIZE_MAX;  // and the transactions grow again
    spoolOf(path("more"), calls(500, 3000));
    qspool::Spool more(path("more"));
    Sink again(store, more, [](const std::string &) {});
    again.retry(t);
    EXPECT_GT(again.step(), Sink::kFirstStep);
}

TEST_F(SinkTest, ADamagedSpoolEntryCostsThatRecordAloneAndIsToldInAStatusLine) {
    spoolOf(path("s"), calls(0, 100));
    {
        std::fstream f(path("s"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(entryBytes() * 10 + 40));
        f.put('\x7f');
    }
    qspool::Spool spool(path("s"));
    std::vector<std::string> said;
    SqliteStore store(path("cdr.sqlite"), false);
    Sink sink(store, spool, [&said](const std::string &s) { said.push_back(s); });
    sink.retry(Clock::now());
    std::vector<Row> back;
    store.scan({}, [&back](const Row &r) { back.push_back(r); });
    std::vector<int32_t> want(100);
    std::iota(want.begin(), want.end(), 0);
    want.erase(want.begin() + 10);
    EXPECT_EQ(numbers(back), want);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0], "spool " + path("s") + ": " + std::to_string(entryBytes()) +
                           " damaged bytes set aside in " + path("s") +
                           ".damaged; the sound entries around them are read");
}

TEST_F(SinkTest, WhatNeitherTheStoreNorTheSpoolTookIsHeldAndCountedLostAtTheEnd) {
    Flaky store;
    store.down = true;
    qspool::Spool spool(path("s"), {entryBytes() * 3});
    Sink sink(store, spool, [](const std::string &) {});
    const auto t = Clock::now();
    EXPECT_TRUE(sink.hasRoom(entryBytes() * 3));
    sink.put(calls(0, 2), t);
    EXPECT_EQ(spool.waiting(), 2u);
    EXPECT_TRUE(sink.hasRoom(entryBytes()));
    EXPECT_FALSE(sink.hasRoom(entryBytes() * 2));  // past the bound
    sink.put(calls(2, 2), t);
    EXPECT_EQ(spool.waiting(), 2u);
    EXPECT_FALSE(sink.hasRoom(0));  // held in memory: no tick until they have somewhere to go
    EXPECT_EQ(sink.finish(), 2u);
    EXPECT_EQ(sink.counts().lost, 2u);
    store.down = false;  // back: the spool is written first, then what memory holds
    EXPECT_EQ(sink.finish(), 0u);
    EXPECT_EQ(numbers(store.kept), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(sink.hasRoom(entryBytes() * 3));
}

}  // namespace
}  // namespace qcdr
