// The soak's three bursts, each hour at quiet moments of their own: a
// backlog of 100,000 records written at once on one feed; a call list for
// every station in one tick (after the lists have been filled with calls,
// a few stations a tick, so that each is a long one); and 170 statuses in
// one tick of an extension that every client watches.  Each is noted in the
// ledger as it goes out like any other record; what is kept here is how
// many ticks the library took to hand each on.
#pragma once

#include <cstdint>
#include <deque>

#include "sim/bytes.h"
#include "soak/application.h"
#include "soak/servers.h"
#include "soak/station_side.h"

namespace qapi::soak {

inline constexpr uint32_t kTicksPerHour = 36000;
// The tick of each hour by which every burst of it has begun.
inline constexpr uint32_t kBurstsBegunBy = 8800;

class Bursts {
public:
    Bursts(StationSide &station, Application &app, std::deque<FeedServer> &feeds)
        : station_(station), app_(app), feeds_(feeds) {}

    // Before a tick, at its place in the hour.
    void start(uint32_t tick);
    // After the tick: the bursts the library has handed on.
    void note(uint32_t tick);

    // A burst from its tick to the tick after which the library had handed it on.
    struct Burst {
        const char *name;
        uint32_t since = 0, longest = 0;
        bool open = false;
        void begin(uint32_t tick);
        void endIf(bool done, uint32_t tick);
    };
    const Burst &callLists() const { return callLists_; }
    const Burst &fanOut() const { return fanOut_; }
    const Burst &backlog() const { return backlog_; }

private:
    qsim::Bytes callEntry(size_t station, uint8_t state, uint16_t number, uint32_t firstId) const;
    void fillCallLists(uint32_t step);
    void sendCallLists(uint32_t hour);
    void watchAndSendStatuses(uint32_t tick);

    StationSide &station_;
    Application &app_;
    std::deque<FeedServer> &feeds_;
    size_t watchedBy_ = kStations;  // clients watching every client's extension, while they start to
    bool statusesDue_ = false, unwatchDue_ = false;
    Burst callLists_{"call lists for 512 stations"}, fanOut_{"170 statuses to 512 watchers"},
        backlog_{"100,000 records on one feed"};
};

}  // namespace qapi::soak
