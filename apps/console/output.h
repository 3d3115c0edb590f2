// The console's lines: "<source>: <text>" (--format text), or one JSON
// object per line (--format json), with the wall-clock time in front or
// as the first member when --timestamps asks for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "console/json.h"

namespace qconsole {

enum class Format { text, json };

// Where a line comes from: "console", "feed", "adjunct" or a station.
struct Source {
    Source(const char *name) : kind(name) {}  // NOLINT: "console" reads as a source
    static Source station(int32_t id) {
        Source s("station");
        s.id = id;
        return s;
    }
    std::string text() const { return id ? std::string(kind) + " " + std::to_string(*id) : kind; }

    const char *kind;
    std::optional<int32_t> id;  // a station's
};

// "2024-05-17T10:30:00.123+02:00": local time, milliseconds, the offset.
std::string timestampText(std::chrono::system_clock::time_point t);

class Output {
public:
    Output(std::FILE *out, Format format, bool timestamps)
        : out_(out), format_(format), timestamps_(timestamps) {}

    // One line per text line in text form; one object in JSON form:
    // {"time", "source", "station", "event", then the fields}.
    void note(const Source &source, const char *event, const std::vector<std::string> &text,
              const JsonObject &fields);
    void note(const Source &source, const char *event, const std::string &text, const JsonObject &fields) {
        note(source, event, std::vector<std::string>{text}, fields);
    }
    Format format() const { return format_; }

private:
    std::FILE *out_;
    Format format_;
    bool timestamps_;
};

}  // namespace qconsole
