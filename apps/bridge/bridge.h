// qapi-bridge: one call server's site on RabbitMQ.  One thread runs the
// library (its queue descriptor), the broker's socket and the spool in one
// poll loop; every turn is bounded: it takes what the library posted (the
// library bounds a tick's notifications), a bounded number of the broker's
// frames and commands, and publishes at most a window of events.
#pragma once

#include <csignal>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/broker.h"
#include "bridge/commands.h"
#include "bridge/delivery.h"
#include "bridge/event.h"
#include "bridge/options.h"
#include "bridge/routing.h"
#include "bridge/run_marker.h"
#include "bridge/site_state.h"
#include "bridge/telephony.h"
#include "qapi.h"
#include "spool/spool.h"

namespace qbridge {

class Bridge : private BrokerEvents, private CommandTarget {
public:
    // Opens the spool (throws std::runtime_error when it cannot).
    Bridge(const Options &options, Say say);
    ~Bridge() override;
    Bridge(const Bridge &) = delete;
    Bridge &operator=(const Bridge &) = delete;

    // Runs until `stop` is set (by a signal); the exit status: 0, 2 when
    // events were lost, 1 when an error stopped it and nothing was lost.
    int run(const volatile std::sig_atomic_t &stop);

private:
    void turn();
    void wait();
    void take(const QMessage &m);
    void stationNote(Telephony::Station &station, uint32_t code, intptr_t value);
    void feedNote(Telephony::Line &feed, uint32_t code, intptr_t value);
    void linkNote(uint32_t code, intptr_t value);
    void emit(std::string_view kind, std::string_view id, std::string_view event, std::string_view data,
              std::string messageId = {});
    void emitStatus(const char *state);
    void routesDue(Clock::time_point now);
    void routeClosed(uint32_t handle, const char *by, const char *digits, int32_t value,
                     const std::string &appId = {});
    void publish();
    void finish();

    // BrokerEvents
    void confirmed(uint64_t tag, bool multiple) override;
    void command(Command &&command) override;
    // CommandTarget
    QapiHandle stationHandle(int32_t id) override;
    const StationView *stationView(int32_t id) override;
    std::string answerRoute(uint32_t handle, const char *digits, int32_t value,
                            const std::string &appId) override;
    std::string state() override;

    Options options_;
    Say say_;
    qspool::Spool spool_;
    RunMarker marker_;
    EventMaker maker_;
    Delivery delivery_;
    Broker broker_;
    std::optional<Telephony> telephony_;  // made once the library runs
    SiteState site_;
    Routing routing_;
    std::vector<Gap> previousGaps_;  // what an earlier run may not have delivered
    std::deque<std::pair<std::string, std::string>> recentReplies_;  // correlation id, reply
    Clock::time_point nextStatus_{};
    bool statusDue_ = false;
    bool firstStatus_ = true;
    bool stopping_ = false;
    uint64_t commands_ = 0;
};

}  // namespace qbridge
