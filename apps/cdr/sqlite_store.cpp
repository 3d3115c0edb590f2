#include "cdr/sqlite_store.h"

#include <sqlite3.h>

namespace qcdr {
namespace {

constexpr int kBusyMs = 2000;  // how long a write waits for another writer of the file

// Another writer's lock, a full disk, a failing one: for now.  Anything
// else: a file that is no store of ours.
bool unusable(sqlite3 *db) {
    if (!db) return false;
    switch (sqlite3_errcode(db)) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_NOMEM:
    case SQLITE_PROTOCOL:
        return false;
    default:
        return true;
    }
}

}  // namespace

SqliteStore::SqliteStore(std::string path, bool readOnly) : path_(std::move(path)), readOnly_(readOnly) {}

SqliteStore::~SqliteStore() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
}

void SqliteStore::fail(const std::string &what) {
    throw StoreError(path_ + ": " + what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"),
                     unusable(db_));
}

void SqliteStore::exec(const char *sql) {
    char *message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return;
    const std::string text = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw StoreError(path_ + ": " + text, unusable(db_));
}

void SqliteStore::open() {
    if (readOnly_ ? db_ != nullptr : insert_ != nullptr) return;
    try {
        openFile();
    } catch (const StoreError &) {
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
        insert_ = nullptr;
        db_ = nullptr;
        throw;
    }
}

void SqliteStore::openFile() {
    const int flags = readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) fail("cannot open");
    sqlite3_busy_timeout(db_, kBusyMs);
    if (readOnly_) {
        exec("SELECT 1 FROM cdr LIMIT 0");  // a file without our table is no store of ours
        return;
    }
    // A file that only reads (its mode, or a read-only medium) is opened
    // for reading without a word: refuse it here, not at the first record.
    if (sqlite3_db_readonly(db_, "main") == 1) throw StoreError(path_ + ": the file cannot be written", true);
    sqlite3_stmt *mode = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &mode, nullptr) != SQLITE_OK) fail("journal mode");
    const int step = sqlite3_step(mode);
    const bool wal =
        step == SQLITE_ROW &&
        sqlite3_stricmp(reinterpret_cast<const char *>(sqlite3_column_text(mode, 0)), "wal") == 0;
    sqlite3_finalize(mode);
    if (step != SQLITE_ROW) fail("cannot use write-ahead logging");  // another writer's lock, say
    if (!wal) throw StoreError(path_ + ": cannot use write-ahead logging", true);
    // Every transaction reaches the disk before the commit returns.
    exec("PRAGMA synchronous=FULL");
    exec("BEGIN IMMEDIATE");
    try {
        exec(createTableSql(false).c_str());
        exec("COMMIT");
    } catch (const StoreError &) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    std::string sql = "INSERT INTO cdr (" + quotedColumns() + ") VALUES (";
    for (size_t i = 0; i < kColumns.size(); ++i) sql += i ? ", ?" : "?";
    sql += ") ON CONFLICT (\"recordKey\", \"occurrence\") DO NOTHING";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr) != SQLITE_OK)
        fail("the table cdr has other columns");
}

WriteCounts SqliteStore::write(const std::vector<Row> &rows) {
    open();
    WriteCounts counts;
    exec("BEGIN IMMEDIATE");
    try {
        for (const Row &row : rows) {
            const std::vector<Value> values = rowValues(row);
            sqlite3_reset(insert_);
            for (size_t i = 0; i < values.size(); ++i) {
                const Value &v = values[i];
                const int n = static_cast<int>(i + 1);
                switch (v.type) {
                case Value::Type::null: sqlite3_bind_null(insert_, n); break;
                case Value::Type::integer: sqlite3_bind_int64(insert_, n, v.integer); break;
                case Value::Type::text:
                    sqlite3_bind_text(insert_, n, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
                    break;
                case Value::Type::blob:
                    sqlite3_bind_blob(insert_, n, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
                    break;
                }
            }
            if (sqlite3_step(insert_) != SQLITE_DONE) fail("insert");
            (sqlite3_changes(db_) == 1 ? counts.stored : counts.skipped) += 1;
        }
        sqlite3_reset(insert_);
        exec("COMMIT");
    } catch (const StoreError &) {
        sqlite3_reset(insert_);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return counts;
}

void SqliteStore::scan(const Period &period, const std::function<void(const Row &)> &each) {
    open();
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(db_, selectSql(false, period).c_str(), -1, &select, nullptr) != SQLITE_OK)
        fail("the table cdr has other columns");
    int n = 1;
    for (const std::string *bound : {&period.from, &period.to})
        if (!bound->empty()) sqlite3_bind_text(select, n++, bound->c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::optional<std::string>> texts(kColumns.size());
    int step = 0;
    try {
        while ((step = sqlite3_step(select)) == SQLITE_ROW) {
            for (size_t i = 0; i < texts.size(); ++i) {
                const int c = static_cast<int>(i);
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(select, c));
                if (text) texts[i] = std::string(text, static_cast<size_t>(sqlite3_column_bytes(select, c)));
                else texts[i].reset();
            }
            Row row;
            if (!rowFromTexts(texts, row)) throw StoreError(path_ + ": a row of cdr is not a call record");
            each(row);
        }
    } catch (...) {
        sqlite3_finalize(select);
        throw;
    }
    sqlite3_finalize(select);
    if (step != SQLITE_DONE) fail("read");
}

}  // namespace qcdr
