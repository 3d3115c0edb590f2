#include "soak/bursts.h"

#include "sim/station_wire.h"

namespace qapi::soak {
namespace {

// The backlog, on the last feed.
constexpr uint32_t kBacklog = 6400, kBacklogRecords = 100000;
// The call lists filled (four stations a tick), then a call entry for every
// station in one tick.
constexpr uint32_t kCallListFill = 8200, kFilledPerTick = 4, kFillerCalls = 24;
constexpr uint32_t kCallListBurst = 8350;
// Every client starting to watch one extension (eight a tick, each group
// once the library has handed on what the server sent before, so that the
// ledger knows who watches when each status is handed on), its statuses once
// all watch it, and the watches ended once the library has handed on every
// status.
constexpr uint32_t kWatchEveryone = 8450, kWatchersPerTick = 8;
constexpr uint32_t kStatusBurst = 8600, kStatuses = 170;
constexpr uint32_t kUnwatchEveryone = kBurstsBegunBy;

}  // namespace

void Bursts::Burst::begin(uint32_t tick) {
    since = tick;
    open = true;
}

void Bursts::Burst::endIf(bool done, uint32_t tick) {
    if (!open || !done) return;
    open = false;
    if (tick + 1 - since > longest) longest = tick + 1 - since;
}

void Bursts::start(uint32_t tick) {
    const uint32_t t = tick % kTicksPerHour;
    if (t == kBacklog) {
        feeds_.back().writeBacklog(kBacklogRecords);
        backlog_.begin(tick);
    }
    if (t >= kCallListFill && t < kCallListFill + kStations / kFilledPerTick)
        fillCallLists(t - kCallListFill);
    if (t == kCallListBurst && !station_.silent()) {
        sendCallLists(tick / kTicksPerHour);
        callLists_.begin(tick);
    }
    watchAndSendStatuses(tick);
}

void Bursts::note(uint32_t tick) {
    const bool behind = station_.libraryBehind();
    callLists_.endIf(!behind, tick);
    fanOut_.endIf(!behind, tick);
    const FeedServer &feed = feeds_.back();
    backlog_.endIf(!feed.backlogged() && app_.recordsOf(feeds_.size() - 1) == feed.recordsWritten(), tick);
}

qsim::Bytes Bursts::callEntry(size_t station, uint8_t state, uint16_t number, uint32_t firstId) const {
    const int32_t id = kFirstStation + static_cast<int32_t>(station);
    return qsim::station::callEntry(station_.host(), id, state, number, firstId, static_cast<uint32_t>(id));
}

// Calls of numbers at the top of the server's range, active, on the lists of
// a few stations: every call list from then on is a long one.
void Bursts::fillCallLists(uint32_t step) {
    if (station_.silent()) return;
    qsim::Output out;
    for (size_t i = step * kFilledPerTick; i < (step + 1) * kFilledPerTick; ++i) {
        for (uint32_t k = 0; k < kFillerCalls; ++k)
            out.add(callEntry(i, 7, static_cast<uint16_t>(65500 + k), 0xA0000000 + k));
    }
    station_.send(out);
}

// One entry for every station, of a call number the server never gives: it
// stays on each list only until the next hour's replaces it.
void Bursts::sendCallLists(uint32_t hour) {
    qsim::Output out;
    for (size_t i = 0; i < kStations; ++i)
        out.add(callEntry(i, hour % 2 ? 7 : 5, 0, hour + 1));  // active, seized
    station_.send(out);
}

void Bursts::watchAndSendStatuses(uint32_t tick) {
    const uint32_t t = tick % kTicksPerHour;
    if (t == kWatchEveryone) watchedBy_ = 0;
    if (watchedBy_ < kStations && !station_.libraryBehind()) {
        app_.watchEveryone(watchedBy_, kWatchersPerTick, true);
        watchedBy_ += kWatchersPerTick;
    }
    if (t == kStatusBurst) statusesDue_ = true;
    if (statusesDue_ && watchedBy_ >= kStations && !station_.silent()) {
        for (uint32_t n = 1; n <= kStatuses; ++n)
            station_.send(station_.board().setExtension(kEveryonesExtension, static_cast<uint8_t>(n)));
        statusesDue_ = false;
        fanOut_.begin(tick);
    }
    if (t == kUnwatchEveryone) unwatchDue_ = true;
    if (unwatchDue_ && !statusesDue_ && !fanOut_.open && !station_.libraryBehind()) {
        app_.watchEveryone(0, kStations, false);
        unwatchDue_ = false;
    }
}

}  // namespace qapi::soak
