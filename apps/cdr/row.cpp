#include "cdr/row.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <type_traits>

#include "call_records/record_fields.h"
#include "wall_clock/wall_clock.h"

namespace qcdr {
namespace {

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// Reads `digits` decimal digits at `at`; -1 when any is not a digit.
int number(std::string_view text, size_t at, size_t digits) {
    if (at + digits > text.size()) return -1;
    int v = 0;
    for (size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

// Copies `text` into a fixed field, NUL-terminated; false when it does not fit.
bool setText(char *field, size_t size, std::string_view text) {
    if (text.size() >= size || text.find('\0') != std::string_view::npos) return false;
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size());
    return true;
}

template <typename T>
bool setNumber(T &field, const std::optional<std::string> &text) {
    if (!text || text->empty()) return false;
    size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(*text, &used, 10);
    } catch (const std::exception &) {
        return false;
    }
    if (used != text->size() || v < static_cast<long long>(std::numeric_limits<T>::min()) ||
        v > static_cast<long long>(std::numeric_limits<T>::max()))
        return false;
    field = static_cast<T>(v);
    return true;
}

bool oneText(const QapiCmdrRecordPayload &r) { return r.kindLetter == 'B' || r.kindLetter == 'C'; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

const std::vector<Column> kColumns = {
    {"server", "TEXT NOT NULL", "text NOT NULL"},
    {"receivedAt", "TEXT NOT NULL", "timestamptz NOT NULL"},
    {"kindLetter", "TEXT NOT NULL", "text NOT NULL"},
    {"callTime", "TEXT", "timestamp(0)"},
    {"sentTime", "TEXT", "text"},
    {"duration", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"numberA", "INTEGER NOT NULL", "integer NOT NULL"},
    {"numberB", "INTEGER NOT NULL", "integer NOT NULL"},
    {"numberC", "INTEGER NOT NULL", "integer NOT NULL"},
    {"textA", "TEXT NOT NULL", "text NOT NULL"},
    {"textB", "TEXT NOT NULL", "text NOT NULL"},
    {"textC", "TEXT NOT NULL", "text NOT NULL"},
    {"text", "TEXT NOT NULL", "text NOT NULL"},
    {"wordA", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"wordB", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"valueA", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"valueB", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"addressText", "TEXT NOT NULL", "text NOT NULL"},
    {"numberD", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"serverAddressText", "TEXT NOT NULL", "text NOT NULL"},
    {"recordKey", "BLOB NOT NULL", "bytea NOT NULL"},
    {"occurrence", "INTEGER NOT NULL", "integer NOT NULL"},
};

std::string recordTimeText(const QapiCmdrRecordPayload &r) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{r.year}, unsigned{r.month},
                  unsigned{r.day}, unsigned{r.hour}, unsigned{r.minute}, unsigned{r.second});
    return text;
}

bool recordDateExists(const QapiCmdrRecordPayload &r) {
    return r.month >= 1 && r.month <= 12 && r.day >= 1 && r.day <= daysInMonth(r.year, r.month) &&
           r.hour <= 23 && r.minute <= 59 && r.second <= 59;
}

bool setRecordTime(QapiCmdrRecordPayload &r, std::string_view t) {
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || (t[10] != ' ' && t[10] != 'T') || t[13] != ':' ||
        t[16] != ':')
        return false;
    const int f[6] = {number(t, 0, 4), number(t, 5, 2), number(t, 8, 2),
                      number(t, 11, 2), number(t, 14, 2), number(t, 17, 2)};
    for (int v : f)
        if (v < 0) return false;
    r.year = static_cast<uint16_t>(f[0]), r.month = static_cast<uint16_t>(f[1]), r.day = static_cast<uint16_t>(f[2]);
    r.hour = static_cast<uint16_t>(f[3]), r.minute = static_cast<uint16_t>(f[4]), r.second = static_cast<uint16_t>(f[5]);
    return true;
}

std::string utcText(int64_t us) { return qtools::utcText(us, 3); }

std::string bytesToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utf8ToBytes(std::string_view utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            out += utf8[i];
        }
    }
    return out;
}

std::vector<Value> rowValues(const Row &row) {
    using T = Value::Type;
    std::vector<Value> v;
    v.reserve(kColumns.size());
    const auto integer = [&v](int64_t i) { v.push_back({T::integer, i, {}}); };
    const auto text = [&v](std::string s) { v.push_back({T::text, 0, std::move(s)}); };
    const auto none = [&v] { v.push_back({}); };
    const QapiCmdrRecordPayload &r = row.record;
    text(row.server);
    text(utcText(row.receivedUs));
    // Every field but the date and time, which are one column.
    qrecords::forEachRecordField(r, [&](const char *name, const auto &value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int64_t>) {
            static constexpr const char *kTimeFields[] = {"second", "minute", "hour", "day", "month", "year"};
            for (const char *f : kTimeFields)
                if (std::strcmp(name, f) == 0) return;
            integer(value);
        } else {
            text(bytesToUtf8(value));
        }
        if (std::strcmp(name, "kindLetter") == 0) {
            const bool exists = recordDateExists(r);
            if (exists) text(recordTimeText(r)); else none();
            if (exists) none(); else text(recordTimeText(r));
        }
    });
    v.push_back({T::blob, 0, std::string(row.key.begin(), row.key.end())});
    integer(row.occurrence);
    return v;
}

bool rowFromTexts(const std::vector<std::optional<std::string>> &t, Row &row) {
    if (t.size() != kColumns.size()) return false;
    const auto at = [&t](const char *name) -> const std::optional<std::string> & {
        for (size_t i = 0; i < kColumns.size(); ++i)
            if (std::strcmp(kColumns[i].name, name) == 0) return t[i];
        static const std::optional<std::string> none;
        return none;
    };
    const auto text = [&at](const char *name) { return utf8ToBytes(at(name).value_or("")); };
    Row out;
    QapiCmdrRecordPayload &r = out.record;
    out.server = at("server").value_or("");
    const std::string kind = text("kindLetter");
    if (kind.size() != 1) return false;
    r.kindLetter = static_cast<uint8_t>(kind[0]);
    const auto &time = at("callTime") ? at("callTime") : at("sentTime");
    if (!time || !setRecordTime(r, *time)) return false;
    if (const auto &received = at("receivedAt"); received) {
        QapiCmdrRecordPayload when{};
        if (setRecordTime(when, *received)) {
            std::tm tm{};
            tm.tm_year = when.year - 1900, tm.tm_mon = when.month - 1, tm.tm_mday = when.day;
            tm.tm_hour = when.hour, tm.tm_min = when.minute, tm.tm_sec = when.second;
            const int fraction = received->size() > 20 && (*received)[19] == '.' ? number(*received, 20, 3) : 0;
            out.receivedUs = int64_t{timegm(&tm)} * 1000000 + (fraction > 0 ? fraction : 0) * 1000;
        }
    }
    bool ok = setNumber(r.duration, at("duration")) && setNumber(r.numberA, at("numberA")) &&
              setNumber(r.numberB, at("numberB")) && setNumber(r.numberC, at("numberC")) &&
              setNumber(r.wordA, at("wordA")) && setNumber(r.wordB, at("wordB")) &&
              setNumber(r.valueA, at("valueA")) && setNumber(r.valueB, at("valueB")) &&
              setNumber(r.numberD, at("numberD")) && setNumber(out.occurrence, at("occurrence"));
    if (oneText(r)) {
        ok = ok && setText(r.texts.text, sizeof r.texts.text, text("text"));
    } else {
        ok = ok && setText(r.texts.dial.textA, sizeof r.texts.dial.textA, text("textA")) &&
             setText(r.texts.dial.textB, sizeof r.texts.dial.textB, text("textB")) &&
             setText(r.texts.dial.textC, sizeof r.texts.dial.textC, text("textC"));
    }
    ok = ok && setText(r.addressText, sizeof r.addressText, text("addressText")) &&
         setText(r.serverAddressText, sizeof r.serverAddressText, text("serverAddressText"));
    const std::string key = at("recordKey").value_or("");
    if (!ok || key.size() != 2 * out.key.size()) return false;
    for (size_t i = 0; i < out.key.size(); ++i) {
        const int hi = hexDigit(key[2 * i]), lo = hexDigit(key[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.key[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    row = std::move(out);
    return true;
}

}  // namespace qcdr
