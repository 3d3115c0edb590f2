// The bridge's handles in the library, each with a window of its own: the
// stations (the first one also watches the lamps), the call-record feeds and
// the routing link.  A feed or a link that fails, or cannot be opened, is
// started again after 1, 2, 4 ... at most 60 s.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge/options.h"
#include "call_records/occurrences.h"
#include "qapi.h"

namespace qbridge {

using Say = std::function<void(const std::string &)>;

class Telephony {
public:
    using Clock = std::chrono::steady_clock;

    struct Station {
        int32_t id;
        QWindow window = 0;
        QapiHandle handle = nullptr;
    };
    // A feed or the link: one server, started again when it fails.
    struct Line {
        Endpoint server;
        std::string name;  // HOST:PORT
        QWindow window = 0;
        QapiHandle handle = nullptr;
        std::string state = "connecting";  // "connecting", "running" / "up", "failed"
        std::string text;                  // why it failed
        int failures = 0;
        Clock::time_point nextTry{};
        Clock::time_point upSince{};
        qrecords::Occurrences occurrences;  // feeds: identical records on this connection
    };

    Telephony(const Options &options, Say say);
    ~Telephony();
    Telephony(const Telephony &) = delete;
    Telephony &operator=(const Telephony &) = delete;

    // Starts the stations and their watches; false (said) when the library
    // refused one.
    bool startStations();
    // Starts every feed and the link that is not running and whose wait is
    // over; true when a state changed.
    bool startDue(Clock::time_point now);
    // A feed or the link failed: stopped, and started again later.
    void failed(Line &line, const std::string &why, Clock::time_point now);
    // A line that worked for a while starts its next wait from 1 s again.
    void working(Line &line, Clock::time_point now);
    Clock::time_point nextStart() const;
    void stopAll();

    Station *station(int32_t id);
    Station *stationOf(QWindow window);
    Line *feedOf(QWindow window);
    bool isLink(QWindow window) const { return link_ && window && window == link_->window; }
    std::vector<Station> &stations() { return stations_; }
    std::vector<Line> &feeds() { return feeds_; }
    Line *link() { return link_ ? &*link_ : nullptr; }

private:
    bool start(Line &line, bool feed, Clock::time_point now);
    Options options_;
    Say say_;
    std::vector<Station> stations_;
    std::vector<Line> feeds_;
    std::optional<Line> link_;
};

}  // namespace qbridge
