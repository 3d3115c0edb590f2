// One call record as the collector keeps it: the decoded record copied out
// of the library's payload, the feed it came through, when it arrived, and
// its key.  The columns of the table, and the texts of the record's times.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "call_records/record_key.h"
#include "qapi.h"

namespace qcdr {

using qrecords::RecordKey;
using qrecords::recordKey;

struct Row {
    QapiCmdrRecordPayload record{};
    std::string server;           // the feed as given: HOST:PORT
    int64_t receivedUs = 0;       // microseconds since 1970, UTC
    RecordKey key{};
    uint32_t occurrence = 0;      // how many identical records came before it on the same connection
};

// The record's date and time, "2024-05-17 10:30:00".
std::string recordTimeText(const QapiCmdrRecordPayload &record);
// Whether the calendar has the record's day (not 30 February).
bool recordDateExists(const QapiCmdrRecordPayload &record);
// Sets the record's date and time fields from "YYYY-MM-DD HH:MM:SS"; false
// when the text is not of that form.
bool setRecordTime(QapiCmdrRecordPayload &record, std::string_view text);
// "2024-05-17T10:30:00.123Z".
std::string utcText(int64_t microseconds);

// Server bytes as UTF-8: bytes from 0x80 up as U+0080 to U+00FF, so that
// every text is valid UTF-8 and every byte comes back.  And back.
std::string bytesToUtf8(std::string_view bytes);
std::string utf8ToBytes(std::string_view utf8);

// A value of one column: NULL, an integer, a text or bytes.
struct Value {
    enum class Type { null, integer, text, blob } type = Type::null;
    int64_t integer = 0;
    std::string text;  // the text (UTF-8) or the bytes
};

// The columns written for each record, in this order (the table has an id
// in front).  Their names are the record's fields, with the date and time
// as one timestamp, callTime; a day the calendar lacks leaves callTime NULL
// and keeps the time as sent in sentTime.
struct Column {
    const char *name;
    const char *sqliteType;
    const char *postgresType;
};
extern const std::vector<Column> kColumns;

std::vector<Value> rowValues(const Row &row);
// The record back from its columns (as text, NULL as nullopt, in the order
// of kColumns); false when they do not make one.
bool rowFromTexts(const std::vector<std::optional<std::string>> &texts, Row &row);

}  // namespace qcdr
