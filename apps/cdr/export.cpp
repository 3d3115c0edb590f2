#include "cdr/export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "call_records/csv.h"

namespace qcdr {

size_t exportCsv(Store &store, const Period &period, const std::string &path) {
    const bool toStdout = path == "-";
    std::FILE *out = toStdout ? stdout : std::fopen(path.c_str(), "wb");
    if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    size_t count = 0;
    bool ok = true;
    const auto write = [&](const std::string &line) {
        ok = ok && std::fwrite(line.data(), 1, line.size(), out) == line.size();
    };
    try {
        write(qrecords::cdrCsvHeader());
        store.scan(period, [&](const Row &row) {
            write(qrecords::cdrCsvRow(row.record));
            ++count;
        });
    } catch (...) {
        if (!toStdout) std::fclose(out);
        throw;
    }
    ok = std::fflush(out) == 0 && ok;
    if (!toStdout) ok = std::fclose(out) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    return count;
}

}  // namespace qcdr
