// The call records as CSV (RFC 4180): a header row naming the fields as
// QapiCmdrRecordPayload does, then one row per record, every row with the
// same columns.  Texts are the server's bytes; those from 0x80 up are
// written as the UTF-8 of U+0080 to U+00FF (as in the JSON lines), so the
// file is valid UTF-8 and every byte recoverable.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "qapi.h"

namespace qrecords {

// The field, in double quotes (inner quotes doubled) when it holds a comma,
// a quote, CR or LF.
std::string csvField(std::string_view bytes);
// The header line and a record's line, each ending in CRLF.
std::string cdrCsvHeader();
std::string cdrCsvRow(const QapiCmdrRecordPayload &r);

// A CSV file that call records are appended to.
class CdrCsvFile {
public:
    // Opens the file for appending and writes the header when it is empty;
    // throws std::runtime_error when it cannot, or when the file starts with
    // another header (its rows would not match ours).
    explicit CdrCsvFile(const std::string &path);
    ~CdrCsvFile();
    CdrCsvFile(const CdrCsvFile &) = delete;
    CdrCsvFile &operator=(const CdrCsvFile &) = delete;

    // Appends the record's row and flushes it; false when it was not written.
    bool append(const QapiCmdrRecordPayload &r);

private:
    bool write(const std::string &line);
    std::FILE *file_ = nullptr;
};

}  // namespace qrecords
