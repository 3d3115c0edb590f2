#include "call_records/csv.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "call_records/record_fields.h"

namespace qrecords {

std::string csvField(std::string_view bytes) {
    bool quote = false;
    std::string out;
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == ',' || c == '"' || c == '\r' || c == '\n') quote = true;
        if (c == '"') out += '"';
        if (c >= 0x80) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += ch;
        }
    }
    return quote ? "\"" + out + "\"" : out;
}

std::string cdrCsvHeader() {
    std::string line;
    QapiCmdrRecordPayload none{};
    forEachRecordField(none, [&line](const char *name, const auto &) {
        line += (line.empty() ? "" : ",") + std::string(name);
    });
    return line + "\r\n";
}

std::string cdrCsvRow(const QapiCmdrRecordPayload &r) {
    std::string line;
    bool first = true;
    forEachRecordField(r, [&](const char *, const auto &value) {
        if (!first) line += ',';
        first = false;
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, int64_t>)
            line += std::to_string(value);
        else
            line += csvField(value);
    });
    return line + "\r\n";
}

namespace {

// Whether the existing file's first line is the header.
bool startsWith(const std::string &path, const std::string &header) {
    std::FILE *in = std::fopen(path.c_str(), "r");
    if (!in) return false;
    std::string first(header.size(), '\0');
    const size_t got = std::fread(first.data(), 1, first.size(), in);
    std::fclose(in);
    return got == header.size() && first == header;
}

}  // namespace

CdrCsvFile::CdrCsvFile(const std::string &path) {
    file_ = std::fopen(path.c_str(), "a");
    if (!file_) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    // A pipe or terminal gets a header of its own; a file only when empty.
    struct stat st {};
    const std::string header = cdrCsvHeader();
    const bool fresh = ::fstat(::fileno(file_), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0;
    std::string fault;
    if (fresh && !write(header)) fault = path + " could not be written";
    if (!fresh && !startsWith(path, header))
        fault = path + " starts with other columns than " + header.substr(0, header.size() - 2);
    if (fault.empty()) return;
    std::fclose(file_);
    file_ = nullptr;
    throw std::runtime_error(fault);
}

CdrCsvFile::~CdrCsvFile() {
    if (file_) std::fclose(file_);
}

bool CdrCsvFile::write(const std::string &line) {
    return std::fwrite(line.data(), 1, line.size(), file_) == line.size() && std::fflush(file_) == 0;
}

bool CdrCsvFile::append(const QapiCmdrRecordPayload &r) { return write(cdrCsvRow(r)); }

}  // namespace qrecords
