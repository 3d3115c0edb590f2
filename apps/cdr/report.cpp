#include "cdr/report.h"

#include <cstdio>

namespace qcdr {
namespace {

// Days since 1970-01-01 of a civil date, and back (H. Hinnant's algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string civilText(int64_t z, int hour) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02d:00", static_cast<long long>(y), m, d, hour);
    return text;
}

// The hour of "YYYY-MM-DD HH:00" on one scale.
int64_t hourIndex(const std::string &h) {
    const auto n = [&h](size_t at, size_t len) { return std::stoll(h.substr(at, len)); };
    return daysFromCivil(n(0, 4), static_cast<unsigned>(n(5, 2)), static_cast<unsigned>(n(8, 2))) * 24 + n(11, 2);
}

// Whether the calendar has the hour "YYYY-MM-DD HH:00" (not 30 February).
bool inCalendar(const std::string &h) {
    const int64_t index = hourIndex(h);
    return index >= 0 && civilText(index / 24, static_cast<int>(index % 24)) == h;
}

std::string minutes(uint64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(seconds) / 60.0);
    return text;
}

std::string periodText(const Period &p) {
    if (p.from.empty() && p.to.empty()) return "all records";
    std::string t;
    if (!p.from.empty()) t += "from " + p.from.substr(0, 16);
    if (!p.to.empty()) t += (t.empty() ? "" : " ") + std::string("up to ") + p.to.substr(0, 16);
    return t;
}

std::string escape(const std::string &s) {
    std::string out;
    for (const char c : s) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

// The top of a chart's scale: whole numbers as they are, others to a tenth.
std::string scale(double most) {
    char text[32];
    std::snprintf(text, sizeof text, most == static_cast<double>(static_cast<int64_t>(most)) ? "%.0f" : "%.1f", most);
    return text;
}

struct Bar {
    std::string label;
    double value;
    std::string tip;
};

// A bar chart as inline SVG: one bar per label, the largest value at the top.
std::string svgBars(const std::string &title, const std::vector<Bar> &bars, const char *colour) {
    constexpr int kHeight = 260, kTop = 30, kBottom = 105, kLeft = 70;
    double most = 0;
    for (const Bar &b : bars) most = std::max(most, b.value);
    if (most <= 0) most = 1;
    const int step = bars.size() > 200 ? 3 : bars.size() > 60 ? 8 : 20;
    const int width = std::max(420, kLeft + 20 + static_cast<int>(bars.size()) * step);
    const int plot = kHeight - kTop - kBottom;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" width=\"" + std::to_string(width) +
                      "\" height=\"" + std::to_string(kHeight) + "\" viewBox=\"0 0 " + std::to_string(width) + " " +
                      std::to_string(kHeight) + "\">\n<title>" + escape(title) + "</title>\n";
    svg += "<text x=\"" + std::to_string(kLeft) + "\" y=\"18\" class=\"t\">" + escape(title) + "</text>\n";
    char line[512];
    std::snprintf(line, sizeof line,
                  "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#999\"/>\n<text x=\"%d\" y=\"%d\" "
                  "class=\"a\" text-anchor=\"end\">%s</text>\n<text x=\"%d\" y=\"%d\" class=\"a\" "
                  "text-anchor=\"end\">0</text>\n",
                  kLeft - 2, kTop + plot, width - 10, kTop + plot, kLeft - 6, kTop + 8,
                  scale(most).c_str(), kLeft - 6, kTop + plot);
    svg += line;
    // Labels under the bars, as many as fit.
    const size_t labelEvery = std::max<size_t>(1, static_cast<size_t>(14 / step + 1));
    for (size_t i = 0; i < bars.size(); ++i) {
        const double h = bars[i].value / most * plot;
        const int x = kLeft + static_cast<int>(i) * step;
        std::snprintf(line, sizeof line,
                      "<rect x=\"%d\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" fill=\"%s\"><title>%s</title></rect>\n",
                      x + 1, kTop + plot - h, std::max(1, step - 2), h, colour,
                      escape(bars[i].label + ": " + bars[i].tip).c_str());
        svg += line;
        if (i % labelEvery == 0) {
            std::snprintf(line, sizeof line,
                          "<text class=\"a\" transform=\"translate(%d,%d) rotate(-60)\" text-anchor=\"end\">%s</text>\n",
                          x + step / 2 + 3, kTop + plot + 8, escape(bars[i].label).c_str());
            svg += line;
        }
    }
    return svg + "</svg>\n";
}

std::string row(const std::string &label, const Tally &t) {
    char text[128];
    std::snprintf(text, sizeof text, "  %-18s %8zu %12s\n", label.c_str(), t.calls, minutes(t.seconds).c_str());
    return text;
}

std::string htmlTable(const std::string &head, const std::vector<std::pair<std::string, Tally>> &rows) {
    std::string t = "<table><tr><th>" + escape(head) + "</th><th>calls</th><th>minutes</th></tr>\n";
    for (const auto &[label, tally] : rows)
        t += "<tr><td>" + escape(label) + "</td><td>" + std::to_string(tally.calls) + "</td><td>" +
             minutes(tally.seconds) + "</td></tr>\n";
    return t + "</table>\n";
}

}  // namespace

void Report::add(const Row &r) {
    ++records;
    if (r.record.kindLetter == 'B') return;  // a note, no call
    const std::string time = recordTimeText(r.record);
    const Tally one{1, r.record.duration};
    for (Tally *t : {&total, &hours[time.substr(0, 13) + ":00"], &extensions[r.record.numberA]}) {
        t->calls += one.calls;
        t->seconds += one.seconds;
    }
}

Report buildReport(Store &store, const Period &period) {
    Report report;
    report.period = period;
    store.scan(period, [&report](const Row &row) { report.add(row); });
    return report;
}

std::vector<std::pair<std::string, Tally>> hourSeries(const Report &report, size_t most) {
    // The calendar's hours from the first to the last with calls; an hour of
    // a day the calendar lacks (30 February) where its label sorts.
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (const auto &[label, tally] : report.hours) {
        if (!inCalendar(label)) continue;
        first = std::min(first, hourIndex(label));
        last = std::max(last, hourIndex(label));
    }
    if (first > last || last - first + 1 > static_cast<int64_t>(most))
        return {report.hours.begin(), report.hours.end()};
    std::vector<std::pair<std::string, Tally>> out;
    auto other = report.hours.begin();
    const auto lacking = [&](const std::string &before) {
        for (; other != report.hours.end() && (before.empty() || other->first < before); ++other)
            if (!inCalendar(other->first)) out.push_back(*other);
    };
    for (int64_t h = first; h <= last; ++h) {
        const std::string label = civilText(h / 24, static_cast<int>(h % 24));
        lacking(label);
        const auto it = report.hours.find(label);
        out.emplace_back(label, it == report.hours.end() ? Tally{} : it->second);
    }
    lacking("");
    return out;
}

std::string reportText(const Report &report) {
    std::string t = "Call records, " + periodText(report.period) + ": " + std::to_string(report.records) +
                    " records, " + std::to_string(report.total.calls) + " calls, " + minutes(report.total.seconds) +
                    " minutes\n\nPer hour              calls      minutes\n";
    for (const auto &[hour, tally] : report.hours) t += row(hour, tally);
    t += "\nPer extension         calls      minutes\n";
    for (const auto &[extension, tally] : report.extensions) t += row(std::to_string(extension), tally);
    return t;
}

std::string reportHtml(const Report &report) {
    const auto hours = hourSeries(report);
    std::vector<Bar> hourCalls, hourMinutes, extCalls, extMinutes;
    for (const auto &[label, t] : hours) {
        const std::string tip = std::to_string(t.calls) + " calls, " + minutes(t.seconds) + " minutes";
        hourCalls.push_back({label, static_cast<double>(t.calls), tip});
        hourMinutes.push_back({label, static_cast<double>(t.seconds) / 60.0, tip});
    }
    std::vector<std::pair<std::string, Tally>> extensions;
    for (const auto &[extension, t] : report.extensions) {
        const std::string label = std::to_string(extension);
        const std::string tip = std::to_string(t.calls) + " calls, " + minutes(t.seconds) + " minutes";
        extCalls.push_back({label, static_cast<double>(t.calls), tip});
        extMinutes.push_back({label, static_cast<double>(t.seconds) / 60.0, tip});
        extensions.emplace_back(label, t);
    }
    const std::string title = "Call records, " + periodText(report.period);
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + escape(title) +
                    "</title>\n<style>\nbody{font-family:sans-serif;margin:2em;color:#222}"
                    "table{border-collapse:collapse;margin:1em 0}td,th{border:1px solid #ccc;padding:2px 8px;"
                    "text-align:right}th{background:#eee}svg{display:block;margin:1em 0}"
                    ".t{font-size:14px;font-weight:bold}.a{font-size:10px;fill:#555}\n</style>\n</head>\n<body>\n";
    h += "<h1>" + escape(title) + "</h1>\n<p>" + std::to_string(report.records) + " records, " +
         std::to_string(report.total.calls) + " calls, " + minutes(report.total.seconds) + " minutes.</p>\n";
    h += "<h2>Per hour</h2>\n" + svgBars("Calls per hour", hourCalls, "#3465a4") +
         svgBars("Minutes per hour", hourMinutes, "#4e9a06");
    h += htmlTable("hour", {report.hours.begin(), report.hours.end()});
    h += "<h2>Per extension</h2>\n" + svgBars("Calls per extension", extCalls, "#3465a4") +
         svgBars("Minutes per extension", extMinutes, "#4e9a06");
    h += htmlTable("extension", extensions);
    return h + "</body>\n</html>\n";
}

}  // namespace qcdr
