// The call-record feeds, one window each: a feed that fails is stopped and
// started again after 1, 2, 4 ... at most 60 s, each failure and each
// recovery told as one status line.  Each record is copied out of its
// payload the moment its message is taken.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "call_records/occurrences.h"
#include "cdr/backoff.h"
#include "cdr/row.h"
#include "command_line/endpoint.h"
#include "qapi.h"
#include "qmsg.h"

namespace qcdr {

using Clock = std::chrono::steady_clock;
using Say = std::function<void(const std::string &)>;
using qrecords::Occurrences;

class Feeds {
public:
    Feeds(const std::vector<qtools::Endpoint> &servers, Say say);
    ~Feeds();
    Feeds(const Feeds &) = delete;
    Feeds &operator=(const Feeds &) = delete;

    // Starts every feed that is not running and whose wait is over.
    void startDue(Clock::time_point now);
    // Takes one message; a record becomes a row (received at `nowUs`,
    // microseconds since 1970) given to `take`.  False when the message is
    // none of the feeds'.
    bool handle(const QMessage &m, Clock::time_point now, int64_t nowUs, const std::function<void(Row &&)> &take);
    void stopAll();
    size_t running() const;
    size_t count() const { return feeds_.size(); }
    // The feed's HOST:PORT, as its records carry it.
    const std::string &name(size_t i) const { return feeds_[i].name; }

private:
    struct Feed {
        qtools::Endpoint server;
        std::string name;  // HOST:PORT
        QWindow window = 0;
        QapiHandle handle = nullptr;
        Backoff backoff{std::chrono::seconds(60)};
        Clock::time_point nextTry{};
        Clock::time_point upSince{};
        Occurrences occurrences;
    };
    void failed(Feed &feed, const std::string &why, Clock::time_point now);
    std::vector<Feed> feeds_;
    Say say_;
};

}  // namespace qcdr
