// Where the records are kept: a table "cdr" with a unique index on
// (recordKey, occurrence), in SQLite or PostgreSQL.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cdr/row.h"

namespace qcdr {

// The store could not do what was asked; what() says why.  `unusable`: it
// never will (no database, another table, a file that only reads), as
// opposed to a store that is away, locked or full for now.
struct StoreError : std::runtime_error {
    explicit StoreError(const std::string &what, bool never = false)
        : std::runtime_error(what), unusable(never) {}
    bool unusable;
};

struct WriteCounts {
    size_t stored = 0;
    size_t skipped = 0;  // already stored: the same key and occurrence
};

// The records whose time lies in [from, to), each "YYYY-MM-DD HH:MM:SS";
// an empty bound is open.
struct Period {
    std::string from, to;
};

class Store {
public:
    virtual ~Store() = default;
    // What the status lines call it.
    virtual std::string name() const = 0;
    // Makes sure the table can be written (creating it on first use);
    // throws StoreError.
    virtual void open() = 0;
    // Writes the rows in one transaction: all of them or, when it throws
    // StoreError, none.
    virtual WriteCounts write(const std::vector<Row> &rows) = 0;
    // The records of the period in the order they were stored.
    virtual void scan(const Period &period, const std::function<void(const Row &)> &each) = 0;
};

// A PostgreSQL URL (postgresql://... or postgres://...) or libpq key=value
// string ("host=... dbname=...", a keyword and '=' first), or else the path
// of an SQLite file.  `readOnly`: for export and report, which never create
// it.
std::unique_ptr<Store> makeStore(const std::string &db, bool readOnly);
bool isPostgres(const std::string &db);

// The statements' pieces, the same for both: the quoted column list
// ("server", "receivedAt", ...), the table and its indexes, the columns
// read back as text in the order of kColumns, and the period's condition
// (with the bounds as parameters `first` and `first` + 1, when present).
std::string quotedColumns();
std::string createTableSql(bool postgres);
std::string selectSql(bool postgres, const Period &period);

}  // namespace qcdr
