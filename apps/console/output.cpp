#include "console/output.h"

#include <ctime>

namespace qconsole {

std::string timestampText(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(t);
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32], zone[8], text[64];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // "+0200"
    std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms < 0 ? ms + 1000 : ms),
                  zone, zone + 3);
    return text;
}

void Output::note(const Source &source, const char *event, const std::vector<std::string> &text,
                  const JsonObject &fields) {
    const std::string time = timestamps_ ? timestampText(std::chrono::system_clock::now()) : "";
    if (format_ == Format::json) {
        JsonObject line;
        if (timestamps_) line.text("time", time);
        line.text("source", source.kind);
        if (source.id) line.number("station", *source.id);
        line.text("event", event).members(fields);
        std::fprintf(out_, "%s\n", line.str().c_str());
    } else {
        for (const std::string &t : text) {
            std::fprintf(out_, "%s%s%s: %s\n", time.c_str(), timestamps_ ? " " : "", source.text().c_str(),
                         t.c_str());
        }
    }
    std::fflush(out_);
}

}  // namespace qconsole
