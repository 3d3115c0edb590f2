// The records in an SQLite file (WAL), the table created on first use.
#pragma once

#include "cdr/store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qcdr {

class SqliteStore : public Store {
public:
    SqliteStore(std::string path, bool readOnly);
    ~SqliteStore() override;
    std::string name() const override { return path_; }
    void open() override;
    WriteCounts write(const std::vector<Row> &rows) override;
    void scan(const Period &period, const std::function<void(const Row &)> &each) override;

private:
    void openFile();
    void exec(const char *sql);
    [[noreturn]] void fail(const std::string &what);
    std::string path_;
    bool readOnly_;
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr;
};

}  // namespace qcdr
