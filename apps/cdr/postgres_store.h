// The records in PostgreSQL, through libpq; the table created on first use.
// The connection is made when first needed and made again after it broke.
// Its name in the status lines and its errors never show the password.
#pragma once

#include "cdr/store.h"

struct pg_conn;

namespace qcdr {

class PostgresStore : public Store {
public:
    // A URL (postgresql://...) or a libpq key=value string.  Throws
    // StoreError when it cannot be read.
    explicit PostgresStore(std::string url);
    ~PostgresStore() override;
    std::string name() const override { return shown_; }
    void open() override;
    WriteCounts write(const std::vector<Row> &rows) override;
    void scan(const Period &period, const std::function<void(const Row &)> &each) override;

private:
    void connect();
    void exec(const char *sql);
    void drop();
    // libpq's last error on one line, without the password.
    std::string errorOf(pg_conn *conn) const;
    std::string url_;
    std::string shown_;                 // the URL without its password
    std::vector<std::string> secrets_;  // the password, as written and as read
    pg_conn *conn_ = nullptr;
};

}  // namespace qcdr
