// An event as it travels: on the exchange under its routing key, with its
// properties, and as one entry of the spool while the broker is away.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qbridge {

struct Event {
    int64_t epoch = 0;  // the run of the bridge that made it
    uint64_t seq = 0;   // its number in that run, from 1
    std::string routingKey;
    std::string type;       // "quentara.<kind>.<event>"
    std::string messageId;  // the same whenever the same event is sent again
    int64_t timeUs = 0;     // when the bridge took it from the library, microseconds since 1970
    std::string body;       // the JSON
};

// The bytes of a spool entry, and back; false when the bytes are no event.
std::string encodeEvent(const Event &event);
bool decodeEvent(std::string_view bytes, Event &event);

// "2024-05-17T10:30:00.123456Z".
std::string utcText(int64_t microseconds);
int64_t wallClockUs();

// Makes the events of one run: numbers them and writes their bodies
// {"site", "kind", "id", "event", "epoch", "seq", "time", "data"}.
class EventMaker {
public:
    EventMaker(std::string site, int64_t epoch) : site_(std::move(site)), epoch_(epoch) {}

    // `data` is a JSON object; an empty `messageId` gives the event one of
    // its own: "<site>.<epoch>.<seq>".
    Event make(std::string_view kind, std::string_view id, std::string_view event, std::string_view data,
               std::string messageId = {});
    int64_t epoch() const { return epoch_; }
    uint64_t lastSeq() const { return seq_; }
    const std::string &site() const { return site_; }

private:
    std::string site_;
    int64_t epoch_;
    uint64_t seq_ = 0;
};

}  // namespace qbridge
