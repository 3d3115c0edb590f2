#include "cdr/postgres_store.h"

#include <libpq-fe.h>

#include <memory>
#include <string_view>

#include "cdr/passwords.h"

namespace qcdr {
namespace {

constexpr size_t kRowsPerStatement = 500;
constexpr unsigned kTextOid = 25;

// Settings that hold unless the URL gives its own: a connection attempt
// gives up after 5 s, and a peer that vanished is noticed within seconds
// instead of the system's two hours.
const char *const kKeywords[] = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                                 "keepalives_count", "tcp_user_timeout", "application_name", "dbname",
                                 "client_encoding", nullptr};

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

}  // namespace

std::string PostgresStore::errorOf(PGconn *conn) const {
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char &c : text)
        if (c == '\n') c = ' ';
    return withoutSecrets(text, secrets_);
}

PostgresStore::PostgresStore(std::string url) : url_(std::move(url)) {
    // What the status lines show: the URL or the key=value string without
    // its password, which no message of libpq's repeats either.
    shown_ = hidePasswords(url_, &secrets_);
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(url_.c_str(), &error);
    if (!options) {
        std::string why = error ? error : "out of memory";
        PQfreemem(error);
        while (!why.empty() && why.back() == '\n') why.pop_back();
        throw StoreError("not a PostgreSQL URL or connection string: " + withoutSecrets(why, secrets_), true);
    }
    for (const PQconninfoOption *o = options; o->keyword; ++o)
        if (o->val && o->val[0] && std::string_view(o->keyword) == "password") secrets_.emplace_back(o->val);
    PQconninfoFree(options);
    shown_ = withoutSecrets(shown_, secrets_);
}

PostgresStore::~PostgresStore() { drop(); }

void PostgresStore::drop() {
    PQfinish(conn_);
    conn_ = nullptr;
}

void PostgresStore::exec(const char *sql) {
    Result r(PQexec(conn_, sql), &PQclear);
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw StoreError(shown_ + ": " + errorOf(conn_));
}

void PostgresStore::connect() {
    if (conn_ && PQstatus(conn_) == CONNECTION_OK) return;
    drop();
    const char *values[] = {"5", "1", "5", "2", "3", "10000", "qapi-cdr", url_.c_str(), "UTF8", nullptr};
    conn_ = PQconnectdbParams(kKeywords, values, 1);
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        const std::string why = errorOf(conn_);
        drop();
        throw StoreError(shown_ + ": " + why);
    }
    try {
        exec("SET TimeZone = 'UTC'; SET DateStyle = 'ISO, YMD'; SET client_min_messages = warning");
        exec(createTableSql(true).c_str());
    } catch (const StoreError &) {
        drop();
        throw;
    }
}

void PostgresStore::open() { connect(); }

WriteCounts PostgresStore::write(const std::vector<Row> &rows) {
    connect();
    WriteCounts counts;
    try {
        exec("BEGIN");
        for (size_t first = 0; first < rows.size(); first += kRowsPerStatement) {
            const size_t n = std::min(kRowsPerStatement, rows.size() - first);
            std::string sql = "INSERT INTO cdr (" + quotedColumns() + ") VALUES ";
            std::vector<std::string> texts;
            std::vector<const char *> params;
            std::vector<int> lengths, formats;
            texts.reserve(n * kColumns.size());
            for (size_t i = 0; i < n; ++i) {
                sql += i ? ", (" : "(";
                for (const Value &v : rowValues(rows[first + i])) {
                    const size_t number = params.size() + 1;
                    sql += (params.empty() || sql.back() == '(' ? "$" : ", $") + std::to_string(number);
                    int format = 0;
                    if (v.type == Value::Type::integer) texts.push_back(std::to_string(v.integer));
                    else if (v.type != Value::Type::null) texts.push_back(v.text);
                    format = v.type == Value::Type::blob ? 1 : 0;  // bytes as bytes
                    params.push_back(v.type == Value::Type::null ? nullptr : texts.back().c_str());
                    lengths.push_back(v.type == Value::Type::null ? 0 : static_cast<int>(texts.back().size()));
                    formats.push_back(format);
                }
                sql += ")";
            }
            sql += " ON CONFLICT (\"recordKey\", \"occurrence\") DO NOTHING";
            Result r(PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                                  lengths.data(), formats.data(), 0),
                     &PQclear);
            if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) throw StoreError(shown_ + ": " + errorOf(conn_));
            const size_t stored = std::stoul(PQcmdTuples(r.get()));
            counts.stored += stored;
            counts.skipped += n - stored;
        }
        exec("COMMIT");
    } catch (const std::exception &e) {
        // A broken connection is made again at the next write.
        if (PQstatus(conn_) == CONNECTION_OK) PQclear(PQexec(conn_, "ROLLBACK"));
        if (PQstatus(conn_) != CONNECTION_OK) drop();
        throw StoreError(e.what());
    }
    return counts;
}

void PostgresStore::scan(const Period &period, const std::function<void(const Row &)> &each) {
    connect();
    std::vector<const char *> params;
    for (const std::string *bound : {&period.from, &period.to})
        if (!bound->empty()) params.push_back(bound->c_str());
    const std::vector<unsigned> types(params.size(), kTextOid);
    // Row by row: a table of millions never sits in memory whole.
    if (!PQsendQueryParams(conn_, selectSql(true, period).c_str(), static_cast<int>(params.size()), types.data(),
                           params.data(), nullptr, nullptr, 0) ||
        !PQsetSingleRowMode(conn_))
        throw StoreError(shown_ + ": " + errorOf(conn_));
    std::string failure;
    std::vector<std::optional<std::string>> texts(kColumns.size());
    while (PGresult *raw = PQgetResult(conn_)) {
        Result r(raw, &PQclear);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_TUPLES_OK) continue;
        if (status != PGRES_SINGLE_TUPLE) {
            if (failure.empty()) failure = shown_ + ": " + errorOf(conn_);
            continue;
        }
        if (!failure.empty()) continue;
        for (size_t i = 0; i < texts.size(); ++i) {
            const int c = static_cast<int>(i);
            if (PQgetisnull(raw, 0, c)) texts[i].reset();
            else texts[i] = std::string(PQgetvalue(raw, 0, c), static_cast<size_t>(PQgetlength(raw, 0, c)));
        }
        Row row;
        if (!rowFromTexts(texts, row)) {
            failure = shown_ + ": a row of cdr is not a call record";
            continue;
        }
        try {
            each(row);
        } catch (const std::exception &e) {
            failure = e.what();  // the rest of the result is read and dropped
        }
    }
    if (!failure.empty()) throw StoreError(failure);
}

}  // namespace qcdr
