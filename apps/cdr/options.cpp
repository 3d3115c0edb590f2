#include "cdr/options.h"

#include <stdexcept>

#include "cdr/row.h"

namespace qcdr {

const char *const kUsage = R"(usage: qapi-cdr --feed HOST:PORT [--feed HOST:PORT ...] [--db DB] [--spool FILE]
       qapi-cdr export --csv FILE [--db DB] [--from TIME] [--to TIME]
       qapi-cdr report [--db DB] [--from TIME] [--to TIME] [--html FILE]
Collects the call records of one or more call servers into a database:
every record once, none lost while the database is away.

  --feed HOST:PORT  a server's call-record feed; may be given again
  --db DB           an SQLite file (cdr.sqlite), or a PostgreSQL URL
                    (postgresql://user@host:port/dbname) or key=value string
                    ("host=... dbname=..."); give its password in ~/.pgpass
                    (PGPASSFILE) or PGPASSWORD, not on the command line
  --spool FILE      where records wait while the database cannot be written
                    (an SQLite file's name with .spool; for PostgreSQL
                    qapi-cdr.spool)
  --csv FILE        export: every record as CSV, the console's columns ("-":
                    standard output)
  --from, --to TIME export and report: the records from TIME up to (not
                    including) TIME, each "YYYY-MM-DD" or "YYYY-MM-DD HH:MM"
  --html FILE       report: the report also as an HTML page with charts
  --version
  --help
Every option takes its value as "--option value" or "--option=value".
SIGINT or SIGTERM: what has arrived is committed, then it ends.
Exit status: 0 done, 1 a bad command line or a database, spool or file that
cannot be used, 2 records left only in memory at the end (neither database
nor spool took them).
)";

std::string periodBound(const std::string &option, const std::string &text) {
    std::string t = text;
    if (t.size() == 10) t += " 00:00:00";
    else if (t.size() == 16) t += ":00";
    QapiCmdrRecordPayload r{};
    if (t.size() != 19 || !setRecordTime(r, t) || r.month < 1 || r.month > 12 || r.day < 1 || r.day > 31 ||
        r.hour > 23 || r.minute > 59 || r.second > 59)
        throw std::invalid_argument(option + " wants YYYY-MM-DD or YYYY-MM-DD HH:MM, not \"" + text + "\"");
    t[10] = ' ';
    return t;
}

Options parseOptions(const std::vector<std::string> &args) {
    Options o;
    size_t i = 0;
    if (!args.empty() && args[0] == "export") o.mode = Mode::exportCsv, i = 1;
    else if (!args.empty() && args[0] == "report") o.mode = Mode::report, i = 1;
    bool csvGiven = false;
    for (; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inline_;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_ = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const auto value = [&]() -> std::string {
            if (inline_) return *inline_;
            if (i + 1 >= args.size()) throw std::invalid_argument(name + " wants a value");
            return args[++i];
        };
        const auto only = [&](Mode mode) {
            if (o.mode != mode) throw std::invalid_argument(name + " does not belong to this command");
        };
        if (name == "--help" || name == "-h") return o.mode = Mode::help, o;
        if (name == "--version") return o.mode = Mode::version, o;
        if (name == "--feed") only(Mode::collect), o.feeds.push_back(qtools::parseEndpoint(value()));
        else if (name == "--db") o.db = value();
        else if (name == "--spool") only(Mode::collect), o.spool = value();
        else if (name == "--csv") only(Mode::exportCsv), o.csv = value(), csvGiven = true;
        else if (name == "--html") only(Mode::report), o.html = value();
        else if (name == "--from" && o.mode != Mode::collect) o.period.from = periodBound(name, value());
        else if (name == "--to" && o.mode != Mode::collect) o.period.to = periodBound(name, value());
        else throw std::invalid_argument("unknown option \"" + args[i] + "\" (--help lists them)");
    }
    if (o.db.empty()) throw std::invalid_argument("--db wants a file or a URL");
    if (o.mode == Mode::collect && o.feeds.empty())
        throw std::invalid_argument("name at least one server with --feed HOST:PORT");
    if (o.mode == Mode::exportCsv && (!csvGiven || o.csv.empty()))
        throw std::invalid_argument("export wants --csv FILE");
    return o;
}

std::string spoolPath(const Options &o) {
    if (o.spool) return *o.spool;
    return isPostgres(o.db) ? "qapi-cdr.spool" : o.db + ".spool";
}

}  // namespace qcdr
