#include "cdr/store.h"

#include <cctype>

#include "cdr/postgres_store.h"
#include "cdr/sqlite_store.h"

namespace qcdr {

bool isPostgres(const std::string &db) {
    if (db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0) return true;
    size_t i = db.find_first_not_of(" \t");
    const size_t keyword = i;
    while (i < db.size() && (std::isalpha(static_cast<unsigned char>(db[i])) || db[i] == '_')) ++i;
    if (i == keyword) return false;
    i = db.find_first_not_of(" \t", i);
    return i != std::string::npos && db[i] == '=';
}

std::unique_ptr<Store> makeStore(const std::string &db, bool readOnly) {
    if (isPostgres(db)) return std::make_unique<PostgresStore>(db);
    return std::make_unique<SqliteStore>(db, readOnly);
}

std::string quotedColumns() {
    std::string list;
    for (const Column &c : kColumns) list += (list.empty() ? "\"" : ", \"") + std::string(c.name) + "\"";
    return list;
}

std::string createTableSql(bool postgres) {
    std::string sql = "CREATE TABLE IF NOT EXISTS cdr (id ";
    sql += postgres ? "bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY";
    for (const Column &c : kColumns)
        sql += ", \"" + std::string(c.name) + "\" " + (postgres ? c.postgresType : c.sqliteType);
    sql += ", UNIQUE (\"recordKey\", \"occurrence\"));";
    sql += " CREATE INDEX IF NOT EXISTS cdr_callTime ON cdr (\"callTime\");";
    return sql;
}

std::string selectSql(bool postgres, const Period &period) {
    std::string list;
    for (const Column &c : kColumns) {
        const std::string name = "\"" + std::string(c.name) + "\"";
        std::string expression = name;
        if (name == "\"recordKey\"") expression = postgres ? "encode(" + name + ", 'hex')" : "hex(" + name + ")";
        else if (postgres) expression = name + "::text";
        list += (list.empty() ? "" : ", ") + expression;
    }
    std::string sql = "SELECT " + list + " FROM cdr";
    // The bounds compare with callTime, or with the time as sent where the
    // calendar lacks the day.
    const auto bound = [postgres](const std::string &op, int n) {
        const std::string p = postgres ? "$" + std::to_string(n) : "?" + std::to_string(n);
        return "(\"callTime\" " + op + " " + p + (postgres ? "::timestamp" : "") +
               " OR (\"callTime\" IS NULL AND \"sentTime\" " + op + " " + p + "))";
    };
    std::string where;
    if (!period.from.empty()) where = bound(">=", 1);
    if (!period.to.empty()) where += (where.empty() ? "" : " AND ") + bound("<", period.from.empty() ? 1 : 2);
    if (!where.empty()) sql += " WHERE " + where;
    return sql + " ORDER BY id";
}

}  // namespace qcdr
