// An SQLite file, and the sink between it and the spool: order kept across
// a store that fails, nothing written twice.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

TEST_F(SqliteTest, AFileThatIsNoStoreOfOursIsRefused) {
    std::ofstream(path("junk")) << std::string(5000, 'x');
    EXPECT_THROW(SqliteStore(path("junk"), false).open(), StoreError);
    EXPECT_THROW(SqliteStore(path("missing"), true).open(), StoreError);
    // A table cdr of other columns.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path("other").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "CREATE TABLE cdr (id INTEGER PRIMARY KEY, caller TEXT)", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    try {
        SqliteStore(path("other"), false).open();
        ADD_FAILURE() << "opened";
    } catch (const StoreError &e) {
        EXPECT_NE(std::string(e.what()).find("the table cdr has other columns"), std::string::npos)
            << e.what();
    }
}

// A store that refuses while it is down, for the sink's order.
class Flaky : public Store {
public:
    std::string name() const override { return "flaky"; }
    void open() override {}
    WriteCounts write(const std::vector<Row> &rows) override {
        if (down) throw StoreError("down");
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
    std::vector<Row> kept;
};

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

TEST_F(SinkTest, AFullSpoolLeftByAnEarlierRunIsWrittenAndWhatWasStoredIsSkipped) {
    Flaky store;
    {
        qspool::Spool spool(path("s"));
        std::vector<std::string> entries;
        for (const Row &row : calls(0, 5)) entries.push_back(spoolEntry(row));
        ASSERT_EQ(spool.append(entries), qspool::Spool::Append::done);
    }
    store.write(calls(0, 2));  // stored before that run was killed
    qspool::Spool spool(path("s"));
    Sink sink(store, spool, [](const std::string &) {});
    sink.retry(Clock::now(), 2);
    sink.retry(Clock::now(), 2);
    sink.retry(Clock::now(), 2);
    EXPECT_TRUE(spool.empty());
    EXPECT_EQ(numbers(store.kept), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    const Row fifth = test::row(test::call(4));  // every byte back from the spool
    EXPECT_EQ(store.kept[4].key, fifth.key);
    EXPECT_EQ(store.kept[4].server, fifth.server);
    EXPECT_EQ(store.kept[4].receivedUs, fifth.receivedUs);
    EXPECT_EQ(std::memcmp(&store.kept[4].record, &fifth.record, sizeof fifth.record), 0);
    EXPECT_EQ(sink.counts().skipped, 2u);
    EXPECT_TRUE(sink.finish());
}

}  // namespace
}  // namespace qcdr
